// The request lifecycle: state changes, the checks before a request starts, errors and
// display, and the one place every request ends (TriggerRequestDone and its notification).
#include "ftp/FtpClient.h"

#include "net/Socket.h"

#include <QMetaObject>
#include <QObject>

#include <utility>

// ---------------------------------------------------------------------------------------------
// Request lifecycle

void TCustomFtpCli::StateChange(TFtpState NewState)
{
    if (FState == NewState)
        return;
    FState = NewState;
    if (OnStateChange)
        OnStateChange(this);
}

bool TCustomFtpCli::CheckReady()
{
    if (FState == ftpReady || FState == ftpInternalReady)
        return true;
    HandleError("FTP component not ready");
    return false;
}

bool TCustomFtpCli::CheckCommand()
{
    if (!CheckReady())
        return false;
    if (!FControlOpen) {
        HandleError("FTP component not connected");
        return false;
    }
    return true;
}

bool TCustomFtpCli::CheckCommandText(const std::string &Text)
{
    // A name typed by the user must not smuggle a second command onto the control connection.
    if (!FtpHasLineBreak(Text))
        return true;
    HandleError("Command refused: CR or LF inside an argument");
    return false;
}

void TCustomFtpCli::HandleError(const std::string &Msg)
{
    FRefused = true;
    FRefusal = Msg;
    if (OnError) {
        TriggerError(Msg);
        return;
    }
    throw FtpException(Msg);
}

void TCustomFtpCli::TriggerError(const std::string &Msg)
{
    if (OnError) {
        std::string m = Msg;
        OnError(this, m);
    }
}

void TCustomFtpCli::SetErrorMessage()
{
    if (FErrorMessage.empty())
        FErrorMessage = FLastReply;
}

void TCustomFtpCli::TriggerDisplay(const std::string &Msg)
{
    if (OnDisplay) {
        std::string m = Msg;
        OnDisplay(this, m);
    }
}

void TCustomFtpCli::DisplayLastResponse()
{
    TriggerDisplay("< " + FLastReply);
    if (!FDeferredFault.empty())
        TriggerDisplay(std::exchange(FDeferredFault, {}));
}

void TCustomFtpCli::BeginStep(TFtpRequest RqType)
{
    if (!FInSequence) {
        FRequestType = RqType;
        FRequestRunning = true;
        FRequestResult = 0;
        FStepsRun = 0;
    }
    FRequestDoneSignalled = false;
}

void TCustomFtpCli::TriggerRequestDone(int Result, int Error)
{
    if (FRequestDoneSignalled)
        return;   // the step has ended already; nothing later may change its verdict
    FRequestDoneSignalled = true;
    if (!FDeferredFault.empty())
        TriggerDisplay(std::exchange(FDeferredFault, {}));

    if (Result == 0 && FSequenceContinuation) {
        StateChange(ftpInternalReady);
        (this->*FSequenceContinuation)();
        return;
    }

    // The request ends here and nowhere else. Its data connection goes first, handlers
    // detached, so nothing it reports afterwards reaches the engine.
    DropDataConnection();
    DestroyLocalStream();
    FNextStep = nullptr;
    FDoneHook = nullptr;
    if (FInSequence && FSavedReplyCode >= 0) {
        FLastReply = FSavedReply;
        FReplyCode = FSavedReplyCode;
    }
    // An offset serves the one transfer it was set for.
    const TFtpFctSet offsetSteps = FctSet(ftpFctRest, ftpFctGet, ftpFctPut, ftpFctAppend, ftpFctDir, ftpFctLs);
    if ((FStepsRun | FctBit(FCurrentStep)) & offsetSteps)
        FRestartOffset = 0;
    FInSequence = false;
    FSequenceContinuation = nullptr;
    FRemainingSteps = 0;
    FRequestResult = Result;
    FRequestRunning = false;
    // The notification names the request that ended here: by the time the loop delivers it
    // the next request may already be running. A refusal inside the starting call reached
    // that caller already (exception or OnError).
    if (!(FInStartCall && FRefused))
        PostNotification(WM_FTP_REQUEST_DONE, Error);
    if (FState != ftpAbort)
        StateChange(ftpReady);
    RequestEnded();
}

void TCustomFtpCli::FailStep(int Code, const std::string &Reply)
{
    FLastReply = Reply;
    FReplyCode = Code;
    SetErrorMessage();
    TriggerRequestDone(Code);
}

void TCustomFtpCli::FailOnReply()
{
    SetErrorMessage();
    TriggerRequestDone(FailureCode(FReplyCode));
}

void TCustomFtpCli::PostNotification(int Msg, int Error)
{
    if (!FEndpoint)
        return;
    const TFtpRequest rq = FRequestType;
    QMetaObject::invokeMethod(
        FEndpoint.get(), [this, Msg, Error, rq] { WndProc(Msg, Error, rq); }, Qt::QueuedConnection);
}

void TCustomFtpCli::WndProc(int Msg, int Error, TFtpRequest RqType)
{
    // Nothing may escape into the event loop.
    try {
        switch (Msg) {
        case WM_FTP_REQUEST_DONE:
            DeliverRequestDone(RqType, Error);
            break;
        case WM_FTP_SENDDATA:
            WMFtpSendData();
            break;
        default:
            break;
        }
    } catch (const std::exception &E) {
        HandleBackGroundException(E);
    } catch (...) {
        HandleBackGroundException(std::runtime_error("unknown exception"));
    }
}

void TCustomFtpCli::DeliverRequestDone(TFtpRequest RqType, int Error)
{
    if (OnRequestDone)
        OnRequestDone(this, RqType, Error);
}

void TCustomFtpCli::HandleBackGroundException(const std::exception &E)
{
    bool canClose = true;
    if (!OnBgException)
        return;
    try {
        OnBgException(this, E, canClose);
    } catch (...) {
    }
}
