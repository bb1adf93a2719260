#pragma once
#include <QDialog>

class QLabel;
class QProgressBar;
class QPushButton;

// The transfer progress dialog ("File Transfer"): non-modal, shown by the download and
// upload batches while they run. Created once at start-up.
class TFormTransfer : public QDialog {
    Q_OBJECT
public:
    explicit TFormTransfer(QWidget *parent = nullptr);

    QLabel *LFileinfo;          // the batch's line for the current file
    QProgressBar *ProgressBar;  // 0 to 100
    QLabel *LPercent;           // the percentage and "%"
    QLabel *LStatus;            // byte count and rate
    QPushButton *btnCancel;     // aborts the transfer; also Esc
};
