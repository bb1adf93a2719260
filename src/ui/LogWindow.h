#pragma once
#include <QWidget>

class QPlainTextEdit;
class QPushButton;

// The log window ("Status"): lines accumulate, also while it is hidden, until the user clears
// them; only the latest MaxLines are kept, so a server that talks without end cannot take
// all memory. Closing it only hides it.
class TFormStatus : public QWidget {
    Q_OBJECT
public:
    explicit TFormStatus(QWidget *parent = nullptr);

    static constexpr int MaxLines = 20000;  // the oldest line goes when a new one passes this

    // Adds the text as the new last line.
    void AddLine(const QString &text);
    // Removes every line.
    void btnClearClick();

    QPushButton *btnClear;
    QPlainTextEdit *MemoStatus; // read-only, no word wrap
};
