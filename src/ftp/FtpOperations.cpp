// The operations: the single-command requests and the high-level ones, which only name their
// steps for the step sequencer (DoHighLevelAsync).
#include "ftp/FtpClient.h"

#include "net/Socket.h"

#include <QTimer>

// ---------------------------------------------------------------------------------------------
// Single-command operations. The checks come before CurrentStep changes, so a refused request
// leaves the running one untouched.

void TCustomFtpCli::UserAsync()
{
    if (!CheckCommand())
        return;
    if (FUserName.empty()) {
        HandleError("UserName emtpy");
        return;
    }
    std::string cmd = "USER " + FUserName;
    if (FConnectionType == ftpProxy)
        cmd += "@" + FHostName;
    if (!CheckCommandText(cmd))
        return;
    FCurrentStep = ftpFctUser;
    // A 230 here means logged in: the data protection follows at once.
    ExecAsync(ftpUserAsync, cmd, {331, 230}, FEncryption != ftpEncryptNone ? &TCustomFtpCli::ProtectAfterLogin : nullptr);
}

void TCustomFtpCli::PassAsync()
{
    if (!CheckCommand())
        return;
    if (FPassWord.empty()) {
        HandleError("Password emtpy");
        return;
    }
    if (!CheckCommandText(FPassWord))
        return;
    FCurrentStep = ftpFctPass;
    ExecAsync(ftpPassAsync, "PASS " + FPassWord, {230},
              FEncryption != ftpEncryptNone ? &TCustomFtpCli::ProtectAfterLogin : nullptr);
}

void TCustomFtpCli::CwdAsync()
{
    if (!CheckCommand())
        return;
    if (FHostDirName.empty()) {
        HandleError("HostDirName emtpy");
        return;
    }
    if (!CheckCommandText(FHostDirName))
        return;
    FCurrentStep = ftpFctCwd;
    ExecAsync(ftpCwdAsync, "CWD " + FHostDirName, {200, 250, 257}, nullptr);
}

void TCustomFtpCli::CDupAsync()
{
    if (!CheckCommand())
        return;
    FCurrentStep = ftpFctCDup;
    ExecAsync(ftpCDupAsync, "CDUP", {250}, nullptr);
}

void TCustomFtpCli::PwdAsync()
{
    if (!CheckCommand())
        return;
    FCurrentStep = ftpFctPwd;
    ExecAsync(ftpPwdAsync, "PWD", {250, 257}, nullptr);
}

void TCustomFtpCli::TypeSetAsync()
{
    if (!CheckCommand())
        return;
    FCurrentStep = ftpFctTypeSet;
    ExecAsync(ftpTypeSetAsync, std::string("TYPE ") + FType, {200}, nullptr);
}

void TCustomFtpCli::TypeBinaryAsync()
{
    SetBinary(true);
    TypeSetAsync();
}

void TCustomFtpCli::TypeAsciiAsync()
{
    SetBinary(false);
    TypeSetAsync();
}

void TCustomFtpCli::SystAsync()
{
    if (!CheckCommand())
        return;
    FCurrentStep = ftpFctSyst;
    ExecAsync(ftpSystAsync, "SYST", {215}, nullptr);
}

void TCustomFtpCli::SizeAsync()
{
    if (!CheckCommand() || !CheckCommandText(FHostFileName))
        return;
    FReplySize = 0;
    FCurrentStep = ftpFctSize;
    ExecAsync(ftpSizeAsync, "SIZE " + FHostFileName, {213}, nullptr);
}

void TCustomFtpCli::MkdAsync()
{
    if (!CheckCommand() || !CheckCommandText(FHostFileName))
        return;
    FCurrentStep = ftpFctMkd;
    ExecAsync(ftpMkdAsync, "MKD " + FHostFileName, {257}, nullptr);
}

void TCustomFtpCli::RmdAsync()
{
    if (!CheckCommand() || !CheckCommandText(FHostFileName))
        return;
    FCurrentStep = ftpFctRmd;
    ExecAsync(ftpRmdAsync, "RMD " + FHostFileName, {250, 257}, nullptr);
}

void TCustomFtpCli::DeleAsync()
{
    if (!CheckCommand() || !CheckCommandText(FHostFileName))
        return;
    FCurrentStep = ftpFctDele;
    ExecAsync(ftpDeleAsync, "DELE " + FHostFileName, {250, 257}, nullptr);
}

void TCustomFtpCli::RenFromAsync()
{
    if (!CheckCommand() || !CheckCommandText(FHostFileName))
        return;
    FCurrentStep = ftpFctRenFrom;
    ExecAsync(ftpRenFromAsync, "RNFR " + FHostFileName, {350}, nullptr);
}

void TCustomFtpCli::RenToAsync()
{
    if (!CheckCommand() || !CheckCommandText(FLocalFileName))
        return;
    FCurrentStep = ftpFctRenTo;
    ExecAsync(ftpRenToAsync, "RNTO " + FLocalFileName, {200, 250, 257}, nullptr);
}

void TCustomFtpCli::QuoteAsync()
{
    if (!CheckCommand() || !CheckCommandText(FLocalFileName))
        return;
    FCurrentStep = ftpFctQuote;
    ExecAsync(ftpQuoteAsync, FLocalFileName, {}, nullptr);
}

void TCustomFtpCli::QuitAsync()
{
    if (!CheckCommand())
        return;
    DestroyLocalStream();
    FCurrentStep = ftpFctQuit;
    ExecAsync(ftpQuitAsync, "QUIT", {221}, &TCustomFtpCli::DoneQuitAsync);
}

void TCustomFtpCli::DoneQuitAsync()
{
    CloseControl();
    // The close handler ends the request; if the socket had already gone, end it here.
    TriggerRequestDone(FRequestResult);
}

void TCustomFtpCli::AbortAsync()
{
    const bool wasLookup = FState == ftpDnsLookup;
    FConnectTimer->stop();
    StateChange(ftpAbort);
    // A request cut short has not succeeded, whatever its replies said so far.
    if (FRequestRunning) {
        FErrorMessage = "426 Operation aborted.";
        TriggerRequestDone(426);
    }
    DestroyLocalStream();
    if (wasLookup) {
        try {
            FControlSocket->CancelDnsLookup();
        } catch (const std::exception &) {
        }
    }
    if (FControlSocket->State() != wsClosed)
        CloseControl();
    DropDataConnection();
    FControlOpen = false;
    StateChange(ftpReady);
}

// ---------------------------------------------------------------------------------------------
// High-level operations

void TCustomFtpCli::HighLevelAsync(TFtpRequest RqType, TFtpFctSet Fcts)
{
    if (FControlOpen && (Fcts & FctBit(ftpFctOpen))) {
        HandleError("FTP component already connected");
        return;
    }
    if (!CheckReady())
        return;
    FSavedReply = FLastReply;
    FSavedReplyCode = -1;
    BeginStep(RqType);
    FRemainingSteps = Fcts;
    FCurrentStep = ftpFctNone;
    FInSequence = true;
    FLastReply.clear();
    FErrorMessage.clear();
    FInStartCall = true;
    try {
        DoHighLevelAsync();
    } catch (...) {
        FInStartCall = false;
        throw;
    }
    FInStartCall = false;
}

void TCustomFtpCli::StepRefused(const std::string &Msg)
{
    if (FInStartCall) {
        // The first step, refused inside the caller's own call: the refusal reaches the caller
        // as it does for a single command, and nothing of the operation stays behind.
        TriggerRequestDone(500);
        return;
    }
    // A later step, started from an event handler: nobody would see the refusal, so the
    // operation ends with it instead of waiting for the time limit.
    FSavedReplyCode = -1;
    FailStep(500, "500 " + Msg);
}

void TCustomFtpCli::DoHighLevelAsync()
{
    FSequenceContinuation = &TCustomFtpCli::DoHighLevelAsync;

    struct StepEntry {
        TFtpFct Fct;
        void (TCustomFtpCli::*Op)();
    };
    static const StepEntry order[] = {
        {ftpFctOpen, &TCustomFtpCli::OpenAsync},
        {ftpFctUser, &TCustomFtpCli::UserAsync},
        {ftpFctPass, &TCustomFtpCli::PassAsync},
        {ftpFctCwd, &TCustomFtpCli::CwdAsync},
        {ftpFctCDup, &TCustomFtpCli::CDupAsync},
        {ftpFctTypeSet, &TCustomFtpCli::TypeSetAsync},
        {ftpFctPort, &TCustomFtpCli::PortAsync},
        {ftpFctRest, &TCustomFtpCli::RestAsync},
        {ftpFctGet, &TCustomFtpCli::ExecGetAsync},
        {ftpFctPut, &TCustomFtpCli::ExecPutAsync},
        {ftpFctAppend, &TCustomFtpCli::ExecAppendAsync},
        {ftpFctDir, &TCustomFtpCli::ExecDirAsync},
        {ftpFctLs, &TCustomFtpCli::ExecLsAsync},
        {ftpFctSyst, &TCustomFtpCli::SystAsync},
        {ftpFctMkd, &TCustomFtpCli::MkdAsync},
        {ftpFctRmd, &TCustomFtpCli::RmdAsync},
        {ftpFctRenFrom, &TCustomFtpCli::RenFromAsync},
        {ftpFctRenTo, &TCustomFtpCli::RenToAsync},
        {ftpFctSize, &TCustomFtpCli::SizeAsync},
        {ftpFctDele, &TCustomFtpCli::DeleAsync},
        {ftpFctPwd, &TCustomFtpCli::PwdAsync},
        {ftpFctQuote, &TCustomFtpCli::QuoteAsync},
        {ftpFctQuit, &TCustomFtpCli::QuitAsync},
    };

    for (const StepEntry &step : order) {
        if (!(FRemainingSteps & FctBit(step.Fct)))
            continue;
        FRemainingSteps &= ~FctBit(step.Fct);
        // A 230 to USER means logged in already: no PASS.
        if (step.Fct == ftpFctPass && FCurrentStep == ftpFctUser && FReplyCode != 331)
            continue;
        if (step.Fct == ftpFctCwd && FHostDirName.empty())
            continue;
        if (step.Fct == ftpFctGet &&
            !(FCurrentStep == ftpFctRest && FRestartOffset >= 0 && FReplyCode == 350))
            FRestartOffset = 0;
        if (step.Fct == ftpFctQuit) {
            // The operation reports its last real step, not the reply to QUIT.
            FSavedReply = FLastReply;
            FSavedReplyCode = FReplyCode;
        }
        FCurrentStep = step.Fct;
        FStepsRun |= FctBit(step.Fct);
        FRefused = false;
        // Every step either starts (and ends later through TriggerRequestDone) or refuses:
        // a refusal ends the whole operation here, so no step is left for a later request.
        FRequestDoneSignalled = false;
        try {
            (this->*step.Op)();
        } catch (const std::exception &E) {
            StepRefused(E.what());
            if (FInStartCall)
                throw;
            return;
        }
        if (FRefused)
            StepRefused(FRefusal);
        return;
    }

    // No step left: the operation succeeded.
    FSequenceContinuation = nullptr;
    FRequestDoneSignalled = false;
    TriggerRequestDone(0);
}

void TCustomFtpCli::ConnectAsync()
{
    HighLevelAsync(ftpConnectAsync, FctSet(ftpFctOpen, ftpFctUser, ftpFctPass));
}

void TCustomFtpCli::GetAsync()
{
    HighLevelAsync(ftpGetAsync, FctSet(ftpFctPort, ftpFctGet));
}

void TCustomFtpCli::RestGetAsync()
{
    HighLevelAsync(ftpRestGetAsync, FctSet(ftpFctPort, ftpFctRest, ftpFctGet));
}

void TCustomFtpCli::RestartGetAsync()
{
    HighLevelAsync(ftpRestartGetAsync,
                   FctSet(ftpFctOpen, ftpFctUser, ftpFctPass, ftpFctCwd, ftpFctTypeSet, ftpFctPort,
                          ftpFctRest, ftpFctGet, ftpFctQuit));
}

void TCustomFtpCli::ReceiveAsync()
{
    HighLevelAsync(ftpReceiveAsync, FctSet(ftpFctOpen, ftpFctUser, ftpFctPass, ftpFctCwd,
                                           ftpFctTypeSet, ftpFctPort, ftpFctGet, ftpFctQuit));
}

void TCustomFtpCli::PutAsync()
{
    HighLevelAsync(ftpPutAsync, FctSet(ftpFctPort, ftpFctPut));
}

void TCustomFtpCli::RestPutAsync()
{
    HighLevelAsync(ftpRestPutAsync, FctSet(ftpFctPort, ftpFctRest, ftpFctPut));
}

void TCustomFtpCli::RestartPutAsync()
{
    HighLevelAsync(ftpRestartPutAsync,
                   FctSet(ftpFctOpen, ftpFctUser, ftpFctPass, ftpFctCwd, ftpFctTypeSet, ftpFctPort,
                          ftpFctRest, ftpFctPut, ftpFctQuit));
}

void TCustomFtpCli::TransmitAsync()
{
    HighLevelAsync(ftpTransmitAsync, FctSet(ftpFctOpen, ftpFctUser, ftpFctPass, ftpFctCwd,
                                            ftpFctTypeSet, ftpFctPort, ftpFctPut, ftpFctQuit));
}

void TCustomFtpCli::AppendAsync()
{
    HighLevelAsync(ftpAppendAsync, FctSet(ftpFctPort, ftpFctAppend));
}

void TCustomFtpCli::AppendFileAsync()
{
    HighLevelAsync(ftpTransmitAsync, FctSet(ftpFctOpen, ftpFctUser, ftpFctPass, ftpFctCwd,
                                            ftpFctTypeSet, ftpFctPort, ftpFctAppend, ftpFctQuit));
}

void TCustomFtpCli::DirAsync()
{
    HighLevelAsync(ftpDirAsync, FctSet(ftpFctPort, ftpFctDir));
}

void TCustomFtpCli::DirectoryAsync()
{
    HighLevelAsync(ftpDirectoryAsync, FctSet(ftpFctOpen, ftpFctUser, ftpFctPass, ftpFctCwd,
                                             ftpFctPort, ftpFctDir, ftpFctQuit));
}

void TCustomFtpCli::LsAsync()
{
    HighLevelAsync(ftpLsAsync, FctSet(ftpFctPort, ftpFctLs));
}

void TCustomFtpCli::ListAsync()
{
    HighLevelAsync(ftpListAsync, FctSet(ftpFctOpen, ftpFctUser, ftpFctPass, ftpFctCwd, ftpFctPort,
                                        ftpFctLs, ftpFctQuit));
}

void TCustomFtpCli::SystemAsync()
{
    HighLevelAsync(ftpSystemAsync, FctSet(ftpFctOpen, ftpFctUser, ftpFctPass, ftpFctSyst, ftpFctQuit));
}

void TCustomFtpCli::FileSizeAsync()
{
    HighLevelAsync(ftpFileSizeAsync,
                   FctSet(ftpFctOpen, ftpFctUser, ftpFctPass, ftpFctCwd, ftpFctSize, ftpFctQuit));
}

void TCustomFtpCli::MkdirAsync()
{
    HighLevelAsync(ftpMkdirAsync,
                   FctSet(ftpFctOpen, ftpFctUser, ftpFctPass, ftpFctCwd, ftpFctMkd, ftpFctQuit));
}

void TCustomFtpCli::RmdirAsync()
{
    HighLevelAsync(ftpRmdirAsync,
                   FctSet(ftpFctOpen, ftpFctUser, ftpFctPass, ftpFctCwd, ftpFctRmd, ftpFctQuit));
}

void TCustomFtpCli::DeleteAsync()
{
    HighLevelAsync(ftpDeleteAsync,
                   FctSet(ftpFctOpen, ftpFctUser, ftpFctPass, ftpFctCwd, ftpFctDele, ftpFctQuit));
}

void TCustomFtpCli::DoQuoteAsync()
{
    HighLevelAsync(ftpDoQuoteAsync,
                   FctSet(ftpFctOpen, ftpFctUser, ftpFctPass, ftpFctCwd, ftpFctQuote, ftpFctQuit));
}

void TCustomFtpCli::RenameAsync()
{
    HighLevelAsync(ftpRenameAsync, FctSet(ftpFctOpen, ftpFctUser, ftpFctPass, ftpFctCwd,
                                          ftpFctRenFrom, ftpFctRenTo, ftpFctQuit));
}

void TCustomFtpCli::RenAsync()
{
    HighLevelAsync(ftpRenAsync, FctSet(ftpFctRenFrom, ftpFctRenTo));
}
