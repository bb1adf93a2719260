#pragma once
#include <QWidget>

class QPlainTextEdit;
class QPushButton;

// The log window ("Status"): lines accumulate for the program's life, also while it is
// hidden, until the user clears them. Closing it only hides it.
class TFormStatus : public QWidget {
    Q_OBJECT
public:
    explicit TFormStatus(QWidget *parent = nullptr);

    // Adds the text as the new last line.
    void AddLine(const QString &text);
    // Removes every line.
    void btnClearClick();

    QPushButton *btnClear;
    QPlainTextEdit *MemoStatus; // read-only, no word wrap
};
