#include "ui/PromptDialog.h"
#include "ui/UserMessages.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

TFormPrompt::TFormPrompt(QWidget *owner, const QString &prompt, QString *value)
    : QDialog(owner, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                         | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      Value(value)
{
    setObjectName("FormPrompt");

    LabelPrompt = new QLabel(VisibleText(prompt));
    LabelPrompt->setObjectName("LabelPrompt");
    LabelPrompt->setTextFormat(Qt::PlainText); // a file name is never markup
    LabelPrompt->setMinimumWidth(kInputWidth);  // the same width with or without the field

    EditInput = new QLineEdit;
    EditInput->setObjectName("EditInput");
    EditInput->setMinimumWidth(kInputWidth);
    EditInput->setAccessibleName(prompt);
    LabelPrompt->setBuddy(EditInput);
    if (Value)
        EditInput->setText(*Value);
    else
        EditInput->hide();

    OKBtn = new QPushButton("OK");
    OKBtn->setObjectName("OKBtn");
    OKBtn->setDefault(true);
    CancelBtn = new QPushButton("Cancel");
    CancelBtn->setObjectName("CancelBtn");
    connect(OKBtn, &QPushButton::clicked, this, &TFormPrompt::OKBtnClick);
    connect(CancelBtn, &QPushButton::clicked, this, &QDialog::reject);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(OKBtn);
    buttons->addWidget(CancelBtn);

    // 16-pixel margins around the 281-pixel field give the 313-pixel client width; a
    // longer prompt (a deep folder path) widens the dialog rather than being cut off.
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 10, 16, 10);
    layout->addWidget(LabelPrompt);
    layout->addWidget(EditInput);
    layout->addStretch();
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

void TFormPrompt::OKBtnClick()
{
    if (Value)
        *Value = EditInput->text();
    accept();
}

void TFormPrompt::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (const QScreen *screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    if (Value) {
        EditInput->setFocus();
        EditInput->selectAll();
    }
}

std::string AnswerBytes(const std::string &shownFrom, const QString &answer)
{
    if (answer == TextForDisplay(shownFrom))
        return shownFrom;
    return answer.toStdString();
}
