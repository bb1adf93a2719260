#pragma once
// The question about a file whose name is taken on the other side: Overwrite, Resume (a
// download with a kept part), Rename (to the free name shown), Skip, and "for all remaining
// files". Made for one question and destroyed after it; Esc and the close box skip.
#include "session/FileExists.h"

#include <QDialog>

class QCheckBox;
class QLabel;
class QPushButton;

class TFileExistsDialog : public QDialog {
    Q_OBJECT
public:
    TFileExistsDialog(QWidget *owner, const FileExistsQuestion &question);

    // The answer given; Skip when the dialog was closed without one.
    FileExistsReply Reply() const;

    QLabel *LabelQuestion;      // the question's text
    QPushButton *BtnOverwrite;  // "Overwrite"
    QPushButton *BtnResume;     // "Resume"; hidden without a kept part
    QPushButton *BtnRename;     // "Rename to NAME"; hidden without a free name
    QPushButton *BtnSkip;       // "Skip", the default button
    QCheckBox *chkForAll;       // "for all remaining files"

private:
    void Answer(FileExistsAnswer answer); // keeps the answer and closes

    FileExistsAnswer answer_ = FileExistsAnswer::Skip;
};
