#include "ui/FileExistsDialog.h"
#include "ui/UserMessages.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

TFileExistsDialog::TFileExistsDialog(QWidget *owner, const FileExistsQuestion &question) : QDialog(owner)
{
    setObjectName("FileExistsDialog");
    setWindowTitle("File Exists");
    LabelQuestion = new QLabel(TextForDisplay(question.Text));
    LabelQuestion->setWordWrap(true);
    LabelQuestion->setTextInteractionFlags(Qt::TextSelectableByKeyboard | Qt::TextSelectableByMouse);
    BtnOverwrite = new QPushButton("&Overwrite");
    BtnResume = new QPushButton("R&esume");
    BtnResume->setVisible(question.CanResume);
    BtnRename = new QPushButton("&Rename to " + TextForDisplay(question.FreeName).replace('&', "&&"));
    BtnRename->setVisible(!question.FreeName.empty());
    BtnSkip = new QPushButton("&Skip");
    // Enter keeps both files as they are.
    BtnSkip->setDefault(true);
    chkForAll = new QCheckBox("&for all remaining files");

    const std::pair<QPushButton *, FileExistsAnswer> buttons[] = {
        {BtnOverwrite, FileExistsAnswer::Overwrite}, {BtnResume, FileExistsAnswer::Resume},
        {BtnRename, FileExistsAnswer::Rename}, {BtnSkip, FileExistsAnswer::Skip}};
    auto *row = new QHBoxLayout;
    for (const auto &[button, answer] : buttons) {
        connect(button, &QPushButton::clicked, this, [this, answer = answer] { Answer(answer); });
        row->addWidget(button);
    }
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(LabelQuestion);
    layout->addWidget(chkForAll);
    layout->addLayout(row);
    BtnSkip->setFocus();
}

FileExistsReply TFileExistsDialog::Reply() const
{
    return {answer_, result() == QDialog::Accepted && chkForAll->isChecked()};
}

void TFileExistsDialog::Answer(FileExistsAnswer answer)
{
    answer_ = answer;
    accept();
}
