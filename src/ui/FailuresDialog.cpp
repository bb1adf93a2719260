#include "ui/FailuresDialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

TFailuresDialog::TFailuresDialog(QWidget *owner, const QString &summary, const QStringList &failures)
    : QDialog(owner)
{
    setObjectName("FailuresDialog");
    LabelSummary = new QLabel(summary);
    LabelSummary->setWordWrap(true);
    MemoFailures = new QPlainTextEdit(failures.join('\n'));
    MemoFailures->setReadOnly(true);
    MemoFailures->setLineWrapMode(QPlainTextEdit::NoWrap);
    MemoFailures->setAccessibleName("Failed files");
    // Tab is for leaving the list, as in every other field of the program.
    MemoFailures->setTabChangesFocus(true);
    LabelSummary->setBuddy(MemoFailures);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok);
    OKBtn = buttons->button(QDialogButtonBox::Ok);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(LabelSummary);
    layout->addWidget(MemoFailures);
    layout->addWidget(buttons);
    // The reader starts on the list itself, so the names are heard first.
    MemoFailures->setFocus();
    resize(560, 300);
}
