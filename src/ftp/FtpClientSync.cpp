// TFtpClient: the synchronous operations. Each starts the asynchronous request and runs the
// event loop until the request is over or the server stayed silent for Timeout seconds. The
// wait blocks in the loop (no spinning), woken by events or by a timer at the deadline.
#include "ftp/FtpClient.h"
#include "net/CoarseClock.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <climits>
#include <utility>

namespace {

// Milliseconds of the clock the deadline runs on: read once per block of a transfer.
qint64 DeadlineTicks()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(TCoarseClock::now().time_since_epoch()).count();
}

} // namespace

TFtpClient::TFtpClient()
    : FWakeTimer(std::make_unique<QTimer>())
{
    FTimeout = 15;
    FWakeTimer->setSingleShot(true);
    QObject::connect(FWakeTimer.get(), &QTimer::timeout, [this] { WakeWait(); });
}

TFtpClient::~TFtpClient() = default;

bool TFtpClient::Progress()
{
    bool aborted = TCustomFtpCli::Progress();
    // Data moving proves the server alive: the limit bounds silence, not the transfer.
    if (FTimeout > 0)
        FDeadline = DeadlineTicks() + qint64(FTimeout) * 1000;
    return aborted;
}

bool TFtpClient::Synchronize(void (TCustomFtpCli::*Proc)())
{
    FRefused = false;
    try {
        (this->*Proc)();
    } catch (...) {
        return false;
    }
    // With OnError set a refusal does not throw; it must still fail the call.
    if (FRefused)
        return false;
    return WaitUntilReady();
}

void TFtpClient::RestartTimeLimit(qint64 AtLeastMs)
{
    if (FTimeout > 0)
        FDeadline = DeadlineTicks() + std::max(qint64(FTimeout) * 1000, AtLeastMs);
}

void TFtpClient::RequestEnded()
{
    WakeWait();
}

void TFtpClient::WakeWait()
{
    if (FWaitLoop) {
        FWoken = true;
        FWaitLoop->quit();
    }
}

bool TFtpClient::WaitUntilReady()
{
    // The wait blocks in a loop of its own: the application leaving its event loop (quit)
    // ends every loop running, this one too, and that must end the request as a failure.
    QEventLoop loop;
    QEventLoop *const outer = std::exchange(FWaitLoop, &loop);
    FDeadline = DeadlineTicks() + qint64(FTimeout) * 1000;
    bool ended = false;
    for (;;) {
        if (!FRequestRunning) {
            ended = true;
            break;
        }
        const qint64 now = DeadlineTicks();
        if (!QCoreApplication::instance() || QCoreApplication::closingDown() ||
            (FTimeout > 0 && now > FDeadline))
            break;
        // Armed again only after it fired: progress moves the deadline on every block, and
        // re-arming the timer on each pass cost more than the transfer's own work. A timer
        // that fires before a moved deadline just makes one more pass.
        if (FTimeout > 0 && !FWakeTimer->isActive())
            FWakeTimer->start(int(std::clamp<qint64>(FDeadline - now + 1, 1, INT_MAX)));
        FWoken = false;
        loop.exec();
        if (!FWoken)
            break;   // not ended by us: the application is leaving its event loop
    }
    FWaitLoop = outer;
    // A wait inside another one (only an Abort from a handler can be) hands the timer back.
    if (outer)
        WakeWait();
    else
        FWakeTimer->stop();
    if (ended)
        return FRequestResult == 0;
    AbortAsync();
    FErrorMessage = "426 Timeout";
    FReplyCode = 426;
    return false;
}

bool TFtpClient::Open() { return Synchronize(&TCustomFtpCli::OpenAsync); }
bool TFtpClient::User() { return Synchronize(&TCustomFtpCli::UserAsync); }
bool TFtpClient::Pass() { return Synchronize(&TCustomFtpCli::PassAsync); }
bool TFtpClient::Connect() { return Synchronize(&TCustomFtpCli::ConnectAsync); }
bool TFtpClient::Cwd() { return Synchronize(&TCustomFtpCli::CwdAsync); }
bool TFtpClient::Pwd() { return Synchronize(&TCustomFtpCli::PwdAsync); }
bool TFtpClient::CDup() { return Synchronize(&TCustomFtpCli::CDupAsync); }
bool TFtpClient::TypeSet() { return Synchronize(&TCustomFtpCli::TypeSetAsync); }
bool TFtpClient::TypeBinary() { return Synchronize(&TCustomFtpCli::TypeBinaryAsync); }
bool TFtpClient::TypeAscii() { return Synchronize(&TCustomFtpCli::TypeAsciiAsync); }
bool TFtpClient::Get() { return Synchronize(&TCustomFtpCli::GetAsync); }
bool TFtpClient::Put() { return Synchronize(&TCustomFtpCli::PutAsync); }
bool TFtpClient::RestPut() { return Synchronize(&TCustomFtpCli::RestPutAsync); }
bool TFtpClient::RestartPut() { return Synchronize(&TCustomFtpCli::RestartPutAsync); }
bool TFtpClient::Append() { return Synchronize(&TCustomFtpCli::AppendAsync); }
bool TFtpClient::Quit() { return Synchronize(&TCustomFtpCli::QuitAsync); }
bool TFtpClient::Abort() { return Synchronize(&TCustomFtpCli::AbortAsync); }
bool TFtpClient::Receive() { return Synchronize(&TCustomFtpCli::ReceiveAsync); }
bool TFtpClient::Transmit() { return Synchronize(&TCustomFtpCli::TransmitAsync); }
bool TFtpClient::AppendFile() { return Synchronize(&TCustomFtpCli::AppendFileAsync); }
bool TFtpClient::Dir() { return Synchronize(&TCustomFtpCli::DirAsync); }
bool TFtpClient::Directory() { return Synchronize(&TCustomFtpCli::DirectoryAsync); }
bool TFtpClient::Ls() { return Synchronize(&TCustomFtpCli::LsAsync); }
bool TFtpClient::List() { return Synchronize(&TCustomFtpCli::ListAsync); }
bool TFtpClient::Mkd() { return Synchronize(&TCustomFtpCli::MkdAsync); }
bool TFtpClient::Mkdir() { return Synchronize(&TCustomFtpCli::MkdirAsync); }
bool TFtpClient::Ren() { return Synchronize(&TCustomFtpCli::RenAsync); }
bool TFtpClient::Rename() { return Synchronize(&TCustomFtpCli::RenameAsync); }
bool TFtpClient::Dele() { return Synchronize(&TCustomFtpCli::DeleAsync); }
bool TFtpClient::Delete() { return Synchronize(&TCustomFtpCli::DeleteAsync); }
bool TFtpClient::Rmd() { return Synchronize(&TCustomFtpCli::RmdAsync); }
bool TFtpClient::Rmdir() { return Synchronize(&TCustomFtpCli::RmdirAsync); }
bool TFtpClient::Syst() { return Synchronize(&TCustomFtpCli::SystAsync); }
bool TFtpClient::System() { return Synchronize(&TCustomFtpCli::SystemAsync); }
bool TFtpClient::Size() { return Synchronize(&TCustomFtpCli::SizeAsync); }
bool TFtpClient::FileSize() { return Synchronize(&TCustomFtpCli::FileSizeAsync); }
bool TFtpClient::Quote() { return Synchronize(&TCustomFtpCli::QuoteAsync); }
bool TFtpClient::DoQuote() { return Synchronize(&TCustomFtpCli::DoQuoteAsync); }
bool TFtpClient::RestGet() { return Synchronize(&TCustomFtpCli::RestGetAsync); }
bool TFtpClient::RestartGet() { return Synchronize(&TCustomFtpCli::RestartGetAsync); }
