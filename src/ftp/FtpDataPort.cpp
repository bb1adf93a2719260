// The data step of a transfer and where its data connection may come from or go to. Passive
// mode asks EPSV, whose reply names only a port (RFC 2428): the connection goes to the control
// connection's address, so NAT devices that rewrite PASV replies badly do no harm. A server
// that refuses EPSV on IPv4 gets PASV for the rest of the session. Active mode listens on the
// control connection's local address and names it in PORT (IPv4) or EPRT (IPv6, which PORT
// cannot express); only the server's own address may connect there.
#include "ftp/FtpClient.h"
#include "ftp/FtpTransferText.h"
#include "net/Socket.h"

#include <arpa/inet.h>

void TCustomFtpCli::PortAsync()
{
    if (!CheckCommand())
        return;
    BeginStep(ftpPortAsync);
    FCurrentStep = ftpFctPort;
    // A new transfer: nothing of the one before may reach it.
    DropDataConnection();
    FTransferCount = 0;
    FTransferFault = 0;
    FTransferFaultText.clear();
    FFinalReplyOk = false;
    FDataClosed = false;
    FPasvReply.clear();
    TWSocket *data = FDataSocket.get();
    data->SetProto("tcp");
    data->SetAddr("0.0.0.0");
    data->SetPort("0");

    if (FPassive) {
        if (FEpsvRefused && !ControlIsIPv6()) {
            ExecAsync(ftpPortAsync, "PASV", {200, 227}, nullptr);
            return;
        }
        FDoneHook = nullptr;
        FNextStep = &TCustomFtpCli::NextEpsvAsync;
        StateChange(ftpWaitingResponse);
        SendCommand("EPSV");
        return;
    }
    ControlNames();
    const TSockAddr &local = FControlLocal;
    // Listen only where the server reaches us: the control connection's own address.
    data->SetAddr(local.Text());
    data->SetLingerOnOff(wsLingerOn);
    data->SetLingerTimeout(10);
    // Some servers connect as soon as PORT arrives, before the transfer command.
    data->OnSessionAvailable = [this](TCustomWSocket *S, int E) { DataSocketSessionAvailable(S, E); };
    quint16 dataPort = 0;
    try {
        data->Listen();
        TSockAddr bound;
        data->GetSockName(bound);
        dataPort = bound.Port();
    } catch (const std::exception &E) {
        FailStep(550, "550 " + ExceptionClassName(E) + ": " + E.what());
        return;
    }
    ExecAsync(ftpPortAsync, ActiveDataCommand(local, FControlPeer, dataPort), {200, 227}, nullptr);
}

std::string TCustomFtpCli::ActiveDataCommand(const TSockAddr &Local, const TSockAddr &Remote, quint16 Port)
{
    if (Local.IsIPv6())
        return FtpEprtCommand(true, Local.Text(), Port);
    const bool loopback = !Remote.IsIPv6() && ntohl(Remote.IPv4()) == INADDR_LOOPBACK;
    return FtpPortCommand(ntohl(Local.IPv4()), Port, loopback);
}

void TCustomFtpCli::NextEpsvAsync()
{
    DisplayLastResponse();
    if (FReplyCode == 229) {
        FPasvReply = FLastReply;
        TriggerRequestDone(0);
        return;
    }
    // A server from before RFC 2428 does not know the command (500, 502). Over IPv6 there is
    // nothing to fall back to: a PASV reply cannot name an IPv6 address.
    if ((FReplyCode == 500 || FReplyCode == 502) && !ControlIsIPv6()) {
        FEpsvRefused = true;
        TriggerDisplay("! The server refused EPSV: PASV for the rest of this session");
        SendExpecting("PASV", {200, 227}, nullptr);
        return;
    }
    SetErrorMessage();
    TriggerRequestDone(FailureCode(FReplyCode));
}

bool TCustomFtpCli::ControlIsIPv6()
{
    return FControlSocket->Sin().IsIPv6();
}

bool TCustomFtpCli::ConnectPassiveData(quint16 DataPort, int FailCode)
{
    TWSocket *data = FDataSocket.get();
    // Always the control connection's address: a 227 reply cannot send our data elsewhere.
    data->SetPort(std::to_string(DataPort));
    data->SetAddr(FControlSocket->Addr());
    data->SetLingerOnOff(wsLingerOff);
    data->SetLingerTimeout(0);
    data->OnSessionConnected = [this](TCustomWSocket *S, int E) { DataSocketSessionConnected(S, E); };
    try {
        data->Connect();
    } catch (const std::exception &E) {
        FailStep(FailCode, std::to_string(FailCode) + " " + ExceptionClassName(E) + ": " + E.what());
        return false;
    }
    return true;
}

bool TCustomFtpCli::ControlNames()
{
    // A connection's ends never change: asked again only for the next connection.
    if (!FControlNamed)
        FControlNamed = FControlSocket->GetSockName(FControlLocal) == 0 && FControlSocket->GetPeerName(FControlPeer) == 0;
    return FControlNamed;
}

bool TCustomFtpCli::DataPeerIsServer()
{
    return ControlNames() && FDataSocket->Sin().SameHost(FControlPeer);
}
