#pragma once
// The failed files of a batch, one a line with the reason, in a read-only text a screen reader
// reads and a user can select and copy; the summary above it. Made for one batch's end.
#include <QDialog>
#include <QStringList>

class QLabel;
class QPlainTextEdit;
class QPushButton;

class TFailuresDialog : public QDialog {
    Q_OBJECT
public:
    TFailuresDialog(QWidget *owner, const QString &summary, const QStringList &failures);

    QLabel *LabelSummary;         // the batch's summary line
    QPlainTextEdit *MemoFailures; // "NAME: reason", one a line; has the focus
    QPushButton *OKBtn;           // closes (Enter, Esc)
};
