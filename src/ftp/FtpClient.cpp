// The FTP component: construction and destruction, properties with effects, and the
// helpers shared by the engine (exception names, the millisecond tick).
#include "ftp/FtpClient.h"
#include "ftp/FtpGatheredWrites.h"
#include "ftp/FtpReadAhead.h"

#include "net/Socket.h"

#include <QFile>
#include <QObject>
#include <QTimer>

#include <chrono>
#include <cxxabi.h>
#include <typeinfo>
#include <unistd.h>

std::string TCustomFtpCli::ExceptionClassName(const std::exception &E)
{
    const char *mangled = typeid(E).name();
    int status = 0;
    char *demangled = abi::__cxa_demangle(mangled, nullptr, nullptr, &status);
    std::string name = status == 0 && demangled ? demangled : mangled;
    std::free(demangled);
    return name;
}

qint64 FtpTickCount()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// ---------------------------------------------------------------------------------------------
// Construction

TCustomFtpCli::TCustomFtpCli()
    : FEndpoint(std::make_unique<QObject>()),
      FControlSocket(std::make_unique<TWSocket>()),
      FDataSocket(std::make_unique<TWSocket>())
{
    FConnectTimer = std::make_unique<QTimer>();
    FConnectTimer->setSingleShot(true);
    QObject::connect(FConnectTimer.get(), &QTimer::timeout, [this] { ConnectAttemptTimedOut(); });
    FControlSocket->OnDnsLookupDone = [this](TCustomWSocket *S, int E) { ControlSocketDnsLookupDone(S, E); };
    FControlSocket->OnSessionConnected = [this](TCustomWSocket *S, int E) { ControlSocketSessionConnected(S, E); };
    FControlSocket->OnDataAvailable = [this](TCustomWSocket *S, int E) { ControlSocketDataAvailable(S, E); };
    FControlSocket->OnSessionClosed = [this](TCustomWSocket *S, int E) { ControlSocketSessionClosed(S, E); };
}

TCustomFtpCli::~TCustomFtpCli()
{
    // Queued notifications die with the endpoint; the sockets close without events.
    FEndpoint.reset();
    for (TWSocket *s : {FControlSocket.get(), FDataSocket.get()}) {
        s->OnDnsLookupDone = nullptr;
        s->OnSessionConnected = nullptr;
        s->OnDataAvailable = nullptr;
        s->OnSessionClosed = nullptr;
        s->OnSessionAvailable = nullptr;
        s->OnDataSent = nullptr;
    }
    DestroyLocalStream();
    if (FAcceptedHandle >= 0)
        ::close(FAcceptedHandle);
}

// ---------------------------------------------------------------------------------------------
// Properties with effects

void TCustomFtpCli::SetLocalFileName(const std::string &v)
{
    FLocalFileName = v;
}

void TCustomFtpCli::SetBinary(bool v)
{
    FType = v ? 'I' : 'A';
}

TFtpShareMode TCustomFtpCli::ShareMode() const
{
    switch (FShareMode) {
    case 0: return ftpShareCompat;
    case 16: return ftpShareExclusive;
    case 32: return ftpShareDenyWrite;
    case 48: return ftpShareDenyRead;
    case 64: return ftpShareDenyNone;
    default: return ftpShareExclusive;
    }
}

void TCustomFtpCli::SetShareMode(TFtpShareMode v)
{
    switch (v) {
    case ftpShareCompat: FShareMode = 0; break;
    case ftpShareExclusive: FShareMode = 16; break;
    case ftpShareDenyWrite: FShareMode = 32; break;
    case ftpShareDenyRead: FShareMode = 48; break;
    case ftpShareDenyNone: FShareMode = 64; break;
    default: FShareMode = 16; break;
    }
}

void TCustomFtpCli::SetConnectionType(TFtpConnectionType v)
{
    if (FControlOpen) {
        HandleError("FTP component connected");
        return;
    }
    switch (v) {
    case ftpProxy:
    case ftpSocks4:
    case ftpSocks4A:
    case ftpSocks5:
        // Through a proxy only passive data connections can reach the server.
        FConnectionType = v;
        FPassive = true;
        break;
    default:
        FConnectionType = ftpDirect;
        break;
    }
}

void TCustomFtpCli::SetPassive(bool v)
{
    FPassive = FConnectionType == ftpDirect ? v : true;
}

void TCustomFtpCli::SetDisplayFileMode(TFtpDisplayFileMode v)
{
    FDisplayFileMode = v == ftpBinary ? ftpBinary : ftpLineByLine;
}

// The socket layer has no SOCKS negotiation to configure, so the settings are only kept.
std::string TCustomFtpCli::SocksPassword() const { return FSocksPassword; }
void TCustomFtpCli::SetSocksPassword(const std::string &v) { FSocksPassword = v; }
std::string TCustomFtpCli::SocksPort() const { return FSocksPort; }
void TCustomFtpCli::SetSocksPort(const std::string &v) { FSocksPort = v; }
std::string TCustomFtpCli::SocksServer() const { return FSocksServer; }
void TCustomFtpCli::SetSocksServer(const std::string &v) { FSocksServer = v; }
std::string TCustomFtpCli::SocksUserCode() const { return FSocksUserCode; }
void TCustomFtpCli::SetSocksUserCode(const std::string &v) { FSocksUserCode = v; }

bool TCustomFtpCli::GetConnected() const
{
    return FControlSocket && FControlSocket->State() != wsClosed;
}

void TCustomFtpCli::DropHandlers()
{
    OnDisplay = {};
    OnDisplayFile = {};
    OnListingLineDropped = {};
    OnCommand = {};
    OnResponse = {};
    OnProgress = {};
    OnSessionConnected = {};
    OnSessionClosed = {};
    OnRequestDone = {};
    OnStateChange = {};
    OnReadyToTransmit = {};
    OnBgException = {};
    OnError = {};
    OnVerifyCertificate = {};
    OnTlsNote = {};
    OnPlainLogin = {};
}
