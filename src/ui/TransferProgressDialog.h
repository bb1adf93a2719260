#pragma once
#include "session/TransferProgress.h"

#include <QDialog>
#include <QElapsedTimer>
#include <QString>
#include <QTimer>

class QLabel;
class QProgressBar;
class QPushButton;

// Who stops the running transfer when the user cancels: the main window's AbortTransfer.
class TransferAborter {
public:
    virtual ~TransferAborter() = default;
    virtual bool AbortTransfer() = 0; // aborts the FTP client's running operation
};

// The transfer progress dialog ("File Transfer"): non-modal, shown by the download and
// upload batches while they run. Created once at start-up. Cancel, Esc, the close box and
// the system close command all close it, and closing aborts the transfer; a batch that hides
// it aborts nothing. While it is on screen its controls change at most every RepaintInterval,
// whatever the batch reports: a batch of small files reports several times per file, and
// drawing each report (the bar repaints at once on every new value) cost most of its time.
// The values last reported are shown at the next repaint, and at once when it is hidden.
class TFormTransfer : public QDialog, public TransferProgressView {
    Q_OBJECT
public:
    explicit TFormTransfer(QWidget *parent = nullptr);

    void SetAborter(TransferAborter *aborter) { Aborter = aborter; } // the main window

    // TransferProgressView
    void SetFileInfo(const std::string &text, qint64 total) override; // file line and size; 0 moved
    void ShowProgress(qint64 count, const std::string &text) override; // bar, percentage, count text
    bool IsShown() const override { return isVisible(); }
    void ShowDialog() override;
    void HideDialog() override { hide(); }
    void ShowBatchProgress(const std::string &text) override;

    void btnCancelClick();      // closes, which aborts

    QLabel *LFileinfo;          // the batch's line for the current file
    QProgressBar *ProgressBar;  // 0 to 100
    QLabel *LPercent;           // the percentage and "%"
    QLabel *LStatus;            // byte count and rate
    QLabel *LBatch;             // "File n of m", the batch's bytes and the time remaining
    QPushButton *btnCancel;     // aborts the transfer; also Esc

protected:
    void closeEvent(QCloseEvent *event) override; // FormClose: abort, then hide
    void hideEvent(QHideEvent *event) override;   // the controls take the last values reported
    void reject() override;                       // Esc: close like the close box

private:
    void Present();                               // the controls now, or at the next repaint time
    void ApplyReported();                         // the controls take the reported values

    TransferAborter *Aborter = nullptr;           // called on close
    qint64 FTotal = 0;                            // expected size of the current file
    // The values reported last, not yet all on the controls.
    QString FFileLine;                            // the whole file line (also the tip)
    bool FFileLineChanged = false;                // the label's elided text is to be made again
    qint64 FCount = 0;                            // bytes moved of the current file
    QString FStatus;                              // count and rate
    QString FBatch;                               // the batch's line
    QTimer FRepaintTimer;                         // runs while reported values wait for their repaint
    QElapsedTimer FSinceApplied;                  // since the controls last took the values
};
