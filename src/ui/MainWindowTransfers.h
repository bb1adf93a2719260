#pragma once
// The main window's side of the download and upload batches (MainWindowTransfers.cpp): what a
// batch sees of the window, the progress dialog's Cancel, and the batch-running state that
// keeps the window from closing under a running batch.
#include "session/BatchConnections.h"
#include "session/RememberedBatch.h"
#include "session/TransferBatch.h"
#include "session/TransferProgress.h"
#include "ui/MainWindow.h"
#include "ui/TransferProgressDialog.h"

#include <memory>

class TFormMain::TTransferSide : public TransferBatchWindow, public TransferAborter {
public:
    explicit TTransferSide(TFormMain &form);

    // Runs one batch with the window switched off around it; closes the window afterwards
    // when the user asked to close it meanwhile.
    void RunBatch(const std::function<void(TTransferBatch &)> &batch);

    // TransferBatchWindow
    bool IsConnected() const override;
    TransferOptions CurrentTransferOptions() override;
    const GeneralSettings &CurrentGeneralSettings() override;
    void ClearLogWindow() override;
    void SetMainWindowEnabled(bool on) override;
    void RefreshPcFiles() override;
    bool ListTandemFiles() override;
    void ShowErrorBox(const std::string &text) override;
    void PlaySound(BatchSound sound) override;
    void Log(int level, const std::string &text) override;
    FileExistsReply AskFileExists(const FileExistsQuestion &question) override;
    void ShowFailures(const FailureReport &report) override;
    bool Cancelled() const override;
    bool ReconnectSession() override;

    // TransferAborter: the progress dialog's Cancel, Esc and close box.
    bool AbortTransfer() override;

    TFormMain &Form;
    std::unique_ptr<TProgressReporter> Progress; // feeds FormTransfer; made when it is attached
    TBatchConnections Extras;                    // the batches' connections besides the browsing one
    TBatchMemory Memory;                         // the running batch, kept until it is done
    bool Running = false;                        // a batch is on the stack
    bool CloseAfterBatch = false;                // the user closed the window during the batch
    bool CancelPressed = false;                  // the running batch was cancelled
};
