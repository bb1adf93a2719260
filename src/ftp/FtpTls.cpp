// Explicit FTP over TLS (RFC 4217): AUTH TLS after the greeting, the certificate decision,
// PBSZ 0 and PROT P after login, and the handshake of every protected data connection.
#include "ftp/FtpClient.h"

#include "net/Socket.h"

bool TCustomFtpCli::Encrypted() const { return FControlSocket->TlsActive(); }

const TTlsPeerInfo &TCustomFtpCli::TlsPeer() const { return FControlSocket->TlsPeer(); }

bool TCustomFtpCli::StartAuthTls()
{
    FDataProtected = false;
    if (FEncryption == ftpEncryptNone)
        return false;
    FNextStep = &TCustomFtpCli::NextAuthAsync;
    StateChange(ftpWaitingResponse);
    SendCommand("AUTH TLS");
    return true;
}

void TCustomFtpCli::NextAuthAsync()
{
    DisplayLastResponse();
    if (FReplyCode != 234) {
        // Only "unknown command", "not implemented" and "mechanism not supported" mean a server
        // without TLS. Anything else (421 and the like) is a server in trouble or someone on the
        // path who wants the login in clear: no login either way.
        const bool noTls = FReplyCode == 500 || FReplyCode == 502 || FReplyCode == 504;
        if (!noTls)
            RefuseOpen("534 AUTH TLS failed (" + FLastReply + "): the login was not sent");
        else if (FEncryption == ftpEncryptRequire)
            RefuseOpen("534 Encryption is required, but the server does not offer FTP over TLS");
        else
            OfferPlainLogin();
        return;
    }
    if (!FTlsContext) {
        std::string error;
        FTlsContext = TTlsClientContext::Create(error);
        if (!FTlsContext) {
            RefuseOpen("534 " + error);
            return;
        }
    }
    // Whatever came in clear after the 234 is an attacker's or a broken server's: it never
    // counts as a reply, and no handshake follows it.
    if (FReplyBuffer.Length() > 0) {
        FReplyBuffer.Clear();
        RefuseOpen("534 TLS handshake failed (clear text after the 234 reply): the server does not offer FTP over TLS");
        return;
    }
    FNextStep = &TCustomFtpCli::DisplayLastResponse;
    FControlSocket->OnTlsDone = [this](TCustomWSocket *S, int E) { ControlSocketTlsDone(S, E); };
    // With a proxy the TLS peer is the proxy, and its name is what the certificate must show.
    FControlSocket->StartTls(FTlsContext, ConnectTarget());
}

void TCustomFtpCli::ControlSocketTlsDone(TCustomWSocket *, int Error)
{
    if (FState != ftpWaitingResponse || FNextStep != &TCustomFtpCli::DisplayLastResponse)
        return; // the request ended meanwhile (abort)
    // No fallback to plain FTP once a handshake started: that is the downgrade an attacker forces.
    if (Error != 0) {
        RefuseOpen("534 TLS handshake failed (" + FControlSocket->TlsError() +
                   "): the server does not offer FTP over TLS");
        return;
    }
    const TTlsPeerInfo &peer = FControlSocket->TlsPeer();
    bool accept = peer.Trusted;
    if (!accept && OnVerifyCertificate) {
        OnVerifyCertificate(this, peer, accept);
        RestartTimeLimit(); // the user's time to decide is no server silence
        if (FState != ftpWaitingResponse || !FControlSocket->TlsActive())
            return; // aborted or closed while the user decided
    }
    if (!accept) {
        RefuseOpen("534 Certificate not accepted: " + peer.Reason);
        return;
    }
    if (OnTlsNote)
        OnTlsNote(this, 1, "Encrypted with " + peer.Protocol + ", " + peer.Cipher);
    StateChange(ftpConnected);
    TriggerRequestDone(0);
}

void TCustomFtpCli::NoteNotEncrypted(const std::string &Why)
{
    TriggerDisplay("! " + Why);
    if (OnTlsNote)
        OnTlsNote(this, 0, Why);
}

void TCustomFtpCli::EndOpenInPlain(const std::string &Why)
{
    NoteNotEncrypted(Why);
    StateChange(ftpConnected);
    TriggerRequestDone(0);
}

void TCustomFtpCli::OfferPlainLogin()
{
    bool allow = true;
    std::string refusal;
    if (OnPlainLogin) {
        OnPlainLogin(this, allow, refusal);
        RestartTimeLimit(); // the user's time to decide is no server silence
        if (FState != ftpWaitingResponse || !FControlOpen)
            return; // aborted or closed while the user decided
    }
    if (!allow) {
        RefuseOpen(refusal);
        return;
    }
    EndOpenInPlain("The server does not offer FTP over TLS: this session is NOT encrypted");
}

void TCustomFtpCli::RefuseOpen(const std::string &Text)
{
    TriggerDisplay("! " + Text);
    CloseControl();
    FailStep(534, Text);
}

void TCustomFtpCli::ProtectAfterLogin()
{
    if (FRequestResult != 0 || FReplyCode != 230 || !Encrypted()) {
        TriggerRequestDone(FRequestResult);
        return;
    }
    FNextStep = &TCustomFtpCli::NextPbszAsync;
    StateChange(ftpWaitingResponse);
    SendCommand("PBSZ 0");
}

void TCustomFtpCli::NextPbszAsync()
{
    DisplayLastResponse();
    if (FReplyCode != 200) {
        NextProtAsync(); // refused like PROT P: the data cannot be protected
        return;
    }
    FNextStep = &TCustomFtpCli::NextProtAsync;
    SendCommand("PROT P");
}

void TCustomFtpCli::NextProtAsync()
{
    if (FNextStep == &TCustomFtpCli::NextProtAsync)
        DisplayLastResponse();
    if (FReplyCode == 200) {
        FDataProtected = true;
        TriggerRequestDone(0);
        return;
    }
    if (FEncryption == ftpEncryptRequire) {
        RefuseOpen("534 Encryption is required, but the server refused to protect data connections");
        return;
    }
    NoteNotEncrypted("The server refused PROT P: file data and listings travel NOT encrypted");
    FLastReply = "230 Logged in";
    FReplyCode = 230;
    TriggerRequestDone(0);
}

void TCustomFtpCli::StartDataTls()
{
    FDataTlsPending = false;
    if (!FDataProtected)
        return;
    TWSocket *data = FDataSocket.get();
    data->OnTlsDone = [this](TCustomWSocket *S, int E) { DataSocketTlsDone(S, E); };
    FDataTlsPending = true;
    // The client is the TLS client whichever side opened the TCP connection, and resumes the
    // control connection's session: servers refuse data connections from anyone else.
    data->StartTls(FTlsContext, ConnectTarget(), FControlSocket.get());
}

void TCustomFtpCli::ShowDataFault(const std::string &Fault)
{
    // A host that refuses the file (553 for a bad name) may reset the data connection before
    // its answer arrives: the answer is the cause the user must read first.
    if (FNextStep == &TCustomFtpCli::Next1PutAsync || FNextStep == &TCustomFtpCli::Next1GetAsync)
        FDeferredFault = "! " + Fault;
    else
        TriggerDisplay("! " + Fault);
}

void TCustomFtpCli::DataSocketTlsDone(TCustomWSocket *, int Error)
{
    FDataTlsPending = false;
    TWSocket *data = FDataSocket.get();
    std::string fault;
    if (Error != 0)
        fault = "425 TLS handshake on the data connection failed: " + data->TlsError();
    else if (data->TlsPeer().Fingerprint != FControlSocket->TlsPeer().Fingerprint)
        fault = "425 The data connection presented another certificate than the control connection";
    if (!fault.empty()) {
        ShowDataFault(fault);
        NoteTransferFault(425, fault);
        data->Abort();
        return;
    }
    // An upload whose 150 came during the handshake starts now.
    if (FDataDirection == dataUpload && FStoreAccepted && FSendSessionOpen && FLocalStream)
        DataSocketPutDataSent(data, 0);
}
