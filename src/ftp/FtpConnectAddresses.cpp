// Opening the control connection address by address: a name with IPv6 and IPv4 addresses is
// tried one address at a time, IPv6 first (in the spirit of RFC 8305, without racing), each
// with the connect timeout; the log names the address that answered, and when none does the
// error names the host as the user typed it.
#include "ftp/FtpClient.h"

#include "net/Socket.h"
#include "net/SocketErrors.h"

#include <QTimer>

std::string TCustomFtpCli::ConnectTarget() const
{
    return FConnectionType == ftpProxy ? FProxyServer : FHostName;
}

void TCustomFtpCli::ConnectAddress()
{
    const std::string &address = FConnectAddresses[FConnectIndex];
    FDnsResult = address;
    try {
        FControlSocket->SetAddr(address);
        FControlSocket->SetProto("tcp");
        FControlSocket->SetPort(FPort);
        FControlSocket->Connect();
    } catch (const std::exception &E) {
        // No socket of this family here (a machine without IPv6): the next address may do.
        if (!TryNextAddress(E.what()))
            FailStep(500, "500 " + ExceptionClassName(E) + ": " + E.what());
        return;
    }
    if (FConnectAddresses.size() < 2)
        return;
    // Each address gets the whole connect timeout, and the synchronous wait as long.
    RestartTimeLimit(qint64(FConnectTimeout) * 1000 + 1000);
    if (FConnectTimeout > 0 && FConnectIndex + 1 < FConnectAddresses.size())
        FConnectTimer->start(FConnectTimeout * 1000);
}

bool TCustomFtpCli::TryNextAddress(const std::string &Why)
{
    FConnectTimer->stop();
    if (FConnectIndex + 1 >= FConnectAddresses.size())
        return false;
    TriggerDisplay("! " + FConnectAddresses[FConnectIndex] + ": " + Why + "; trying the next address");
    if (FControlSocket->State() != wsClosed) {
        FSwitchingAddress = true;
        CloseControl();
        FSwitchingAddress = false;
    }
    ++FConnectIndex;
    ConnectAddress();
    return true;
}

void TCustomFtpCli::ConnectAttemptTimedOut()
{
    if (FState != ftpWaitingBanner || FControlOpen)
        return;
    try {
        TryNextAddress("no answer within " + std::to_string(FConnectTimeout) + " s");
    } catch (const std::exception &E) {
        HandleBackGroundException(E);
    }
}

void TCustomFtpCli::ControlSocketSessionConnected(TCustomWSocket *, int Error)
{
    FConnectTimer->stop();
    if (Error == 0) {
        FControlOpen = true;
        if (FConnectAddresses.size() > 1)
            TriggerDisplay("! Connected to " + FDnsResult + " (" + ConnectTarget() + ")");
        return;     // the greeting is awaited in ftpWaitingBanner
    }
    const std::string reason = WSocketErrorDesc(Error) + " (Winsock error #" + std::to_string(Error) + ")";
    if (TryNextAddress(reason))
        return;
    if (FConnectAddresses.size() > 1)
        FLastReply = "500 Cannot connect to " + ConnectTarget() + ": none of its " +
                     std::to_string(FConnectAddresses.size()) + " addresses answered; the last: " + reason;
    else
        FLastReply = "500 " + reason;
    FReplyCode = 500;
    SetErrorMessage();
    TriggerRequestDone(500, Error);
    CloseControl();
    StateChange(ftpReady);
}
