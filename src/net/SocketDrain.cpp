#include "net/SocketDrain.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace {
int RunningDrains = 0;
}

void TSendDrain::Start(int Handle, std::string Rest, bool AwaitPeerClose)
{
    if (!QCoreApplication::instance()) {
        CloseAbortively(Handle);
        return;
    }
    // Owned by the application object: a drain still running at exit closes its handle then.
    auto *Drain = new TSendDrain(Handle, std::move(Rest), AwaitPeerClose);
    Drain->setParent(QCoreApplication::instance());
    Drain->SendSome();
}

int TSendDrain::Running() { return RunningDrains; }

TSendDrain::TSendDrain(int Handle, std::string Rest, bool AwaitPeerClose)
    : FHandle(Handle)
    , FRest(std::move(Rest))
    , FWritable(std::make_unique<QSocketNotifier>(Handle, QSocketNotifier::Write))
    , FGiveUp(std::make_unique<QTimer>())
    , FAwaitPeerClose(AwaitPeerClose)
{
    ++RunningDrains;
    FWritable->setEnabled(false);
    connect(FWritable.get(), &QSocketNotifier::activated, this, [this] { SendSome(); });
    FGiveUp->setSingleShot(true);
    FGiveUp->setInterval(GiveUpMs);
    connect(FGiveUp.get(), &QTimer::timeout, this, [this] { Finish(false); });
}

TSendDrain::~TSendDrain()
{
    FWritable.reset();
    FReadable.reset();
    if (FHandle >= 0)
        CloseAbortively(FHandle); // cut off by the exit: the rest never left
    --RunningDrains;
}

void TSendDrain::CloseAbortively(int Handle)
{
    // The peer must see a reset, never an orderly end after a part of the data.
    const linger Reset{1, 0};
    setsockopt(Handle, SOL_SOCKET, SO_LINGER, &Reset, sizeof Reset);
    ::close(Handle);
}

void TSendDrain::SendSome()
{
    FWritable->setEnabled(false);
    while (FSent < FRest.size()) {
        const ssize_t n = ::send(FHandle, FRest.data() + FSent, FRest.size() - FSent, MSG_NOSIGNAL);
        if (n > 0) {
            FSent += static_cast<size_t>(n);
            FGiveUp->start();
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            FWritable->setEnabled(true);
            if (!FGiveUp->isActive())
                FGiveUp->start();
            return;
        }
        Finish(false); // the connection broke: the peer sees no orderly end
        return;
    }
    Finish(true);
}

void TSendDrain::DropInput()
{
    char Scratch[4096];
    for (;;) {
        const ssize_t n = ::recv(FHandle, Scratch, sizeof Scratch, 0);
        if (n > 0)
            continue;
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return;
        break; // the peer's end, or a broken connection
    }
    FReadable->setEnabled(false);
    FGiveUp->stop();
    ::close(FHandle);
    FHandle = -1;
    deleteLater();
}

void TSendDrain::Finish(bool Orderly)
{
    FWritable->setEnabled(false);
    FGiveUp->stop();
    if (Orderly && FAwaitPeerClose && !FReadable) {
        ::shutdown(FHandle, SHUT_WR);
        FReadable = std::make_unique<QSocketNotifier>(FHandle, QSocketNotifier::Read);
        connect(FReadable.get(), &QSocketNotifier::activated, this, [this] { DropInput(); });
        FGiveUp->start();
        return;
    }
    if (FReadable)
        FReadable->setEnabled(false);
    if (Orderly) {
        ::shutdown(FHandle, SHUT_WR);
        const linger Off{0, 0}; // everything is with the platform: close must not wait
        setsockopt(FHandle, SOL_SOCKET, SO_LINGER, &Off, sizeof Off);
        ::close(FHandle);
    } else {
        CloseAbortively(FHandle);
    }
    FHandle = -1;
    deleteLater();
}
