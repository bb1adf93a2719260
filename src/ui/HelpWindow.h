#pragma once
#include <QDialog>

class QPlainTextEdit;

// The help window (Help > Help): the fixed help text in a read-only memo. Made for each
// use and destroyed after it.
class TFormHelp : public QDialog {
    Q_OBJECT
public:
    explicit TFormHelp(QWidget *owner);

    // The help text, top to bottom; nothing in it is computed.
    static QString HelpText();

    QPlainTextEdit *Memo1;  // read-only, fixed-pitch, vertical scroll bar, fills the window
};
