#include "ui/LogWindow.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QShortcut>
#include <QStyle>
#include <QVBoxLayout>

TFormStatus::TFormStatus(QWidget *parent) : QWidget(parent, Qt::Window)
{
    setObjectName("FormStatus");
    setWindowTitle("Status");

    btnClear = new QPushButton(style()->standardIcon(QStyle::SP_DialogResetButton), "C&lear");
    btnClear->setFixedSize(81, 41);
    connect(btnClear, &QPushButton::clicked, this, &TFormStatus::btnClearClick);

    MemoStatus = new QPlainTextEdit;
    MemoStatus->setReadOnly(true);
    MemoStatus->setAccessibleName("Log");
    MemoStatus->setLineWrapMode(QPlainTextEdit::NoWrap);
    MemoStatus->setMaximumBlockCount(MaxLines);
    MemoStatus->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));

    auto *top = new QHBoxLayout;
    top->setContentsMargins(0, 0, 0, 0);
    top->addWidget(btnClear);
    top->addStretch();

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addLayout(top);
    layout->addWidget(MemoStatus);
    resize(643, 400);
    // Esc puts the window away as dialogs do; it only hides, as its close box does.
    connect(new QShortcut(QKeySequence(Qt::Key_Escape), this), &QShortcut::activated, this, &QWidget::close);
}

void TFormStatus::AddLine(const QString &text)
{
    MemoStatus->appendPlainText(text);
}

void TFormStatus::btnClearClick()
{
    MemoStatus->clear();
}
