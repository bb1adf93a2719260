// Synchronous line read: ReadLine waits for one line in the event loop, blocking until an
// event or the deadline arrives, so a long wait costs no processor time.
#include "net/Socket.h"

#include <QCoreApplication>

#include <algorithm>
#include <chrono>

void TCustomSyncWSocket::ReadLine(int Timeout, std::string &Line)
{
    Line.clear();
    if (State() != wsConnected) {
        RaiseException("ReadLine failed: not connected");
        return;
    }
    FTimeout = Timeout == 0  ? 60000
               : Timeout > 0 ? static_cast<qint64>(Timeout) * 1000
                             : -static_cast<qint64>(Timeout);
    FLineReceived = false;

    // The caller's reader and mode come back however the wait ends, exceptions included.
    struct TRestore {
        TCustomSyncWSocket *Self;
        std::weak_ptr<bool> Alive;
        std::string *Reader;
        bool Mode;
        ~TRestore()
        {
            if (Alive.expired())
                return;
            Self->FReader = Reader;
            Self->FLineMode = Mode;
            // Lines that came with the one returned stay held: offer them again.
            if (Self->RcvdHeld() > 0)
                Self->QueueRedelivery();
        }
    } Restore{this, LineAliveToken(), FReader, FLineMode};

    FReader = &Line;
    FLineMode = true; // directly: no redelivery for this switch

    std::weak_ptr<bool> Alive = LineAliveToken();
    if (RcvdHeld() > 0)
        ScanAndDeliver(0); // a line left by an earlier read is returned at once
    if (Alive.expired())
        return;
    // Bytes a handler of the caller left at the platform get no new readable report:
    // take them in now.
    if (!FLineReceived && TCustomSocksWSocket::GetRcvdCount() > 0)
        TriggerDataAvailable(0);
    if (Alive.expired())
        return;
    const int Result = FLineReceived ? 0 : Synchronize(nullptr, FLineReceived);
    if (Alive.expired())
        return;
    if (Result == SyncTimeoutError && RcvdHeld() > 0)
        TakeHeld(Line);
}

int TCustomSyncWSocket::Synchronize(const std::function<void()> &Proc, bool &DoneFlag)
{
    if (Proc)
        Proc();
    return WaitUntilReady(DoneFlag);
}

int TCustomSyncWSocket::WaitUntilReady(bool &DoneFlag)
{
    using Clock = std::chrono::steady_clock;
    std::weak_ptr<bool> Alive = LineAliveToken();
    const Clock::time_point Deadline = Clock::now() + std::chrono::milliseconds(FTimeout);
    for (;;) {
        if (Alive.expired())
            return SyncTimeoutError; // destroyed by a handler during the wait
        if (DoneFlag)
            return 0;
        const Clock::time_point Now = Clock::now();
        // A session that ended without a closed event (a reset reported by an operation)
        // brings no line any more.
        if ((FTimeout > 0 && Now >= Deadline) || QCoreApplication::closingDown() || FTerminated ||
            HSocket() == INVALID_SOCKET)
            return SyncTimeoutError;
        // Sleep in the loop until an event arrives or the deadline passes.
        const auto Left = std::chrono::ceil<std::chrono::milliseconds>(Deadline - Now).count();
        WaitForEvents(static_cast<int>(std::clamp<qint64>(Left, 1, 3600 * 1000)));
        if (!Alive.expired() && MultiThreaded() && QCoreApplication::closingDown())
            FTerminated = true;
    }
}
