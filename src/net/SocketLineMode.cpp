// Line mode of the socket: the receive buffer, line search and delivery, line editing,
// the last partial line at session end and the redelivery when the mode is switched.
//
// Held bytes live in FRcvBuf from FRcvHead on; a handler takes a line from the front, so the
// front is always the untaken part of the pending line. All delivery state is kept in
// members (never in pointers across a handler call), which keeps nested deliveries (a
// handler that pumps events, closes the socket or switches the mode) consistent.
#include "net/Socket.h"

#include <sys/socket.h>

#include <algorithm>
#include <climits>
#include <cstring>

namespace {

constexpr char Backspace = 8;
constexpr char Tab = 9;

int ClampToInt(size_t n) { return n > static_cast<size_t>(INT_MAX) ? INT_MAX : static_cast<int>(n); }

} // namespace

TCustomLineWSocket::TCustomLineWSocket()
    : FLineAlive(std::make_shared<bool>(true))
{
}

TCustomLineWSocket::~TCustomLineWSocket() = default;

// ---- properties ---------------------------------------------------------------------------

void TCustomLineWSocket::SetLineMode(bool Value)
{
    if (Value == FLineMode)
        return;
    FLineMode = Value;
    const bool Pending = FLineLength > 0;
    if (!Value)
        FLineLength = 0; // the untaken part stays at the front, offered raw from now on
    if (FRcvdCnt > 0 || Pending)
        QueueRedelivery();
}

void TCustomLineWSocket::SetLineEnd(const std::string &Value)
{
    const bool WasActive = LineActive();
    FLineEnd = Value;
    // An empty LineEnd turns line mode off in effect: treat it like switching LineMode.
    if (WasActive != LineActive()) {
        if (!LineActive())
            FLineLength = 0;
        if (FRcvdCnt > 0)
            QueueRedelivery();
    }
}

// ---- the receive buffer -----------------------------------------------------------------------

void TCustomLineWSocket::Reserve(size_t Keep, size_t Need)
{
    if (FRcvHead + Need <= FRcvBufSize)
        return;
    if (Need <= FRcvBufSize) {
        // Room enough once the bytes already taken from the front are given back.
        std::memmove(FRcvBuf.get(), FRcvBuf.get() + FRcvHead, Keep);
        FRcvHead = 0;
        return;
    }
    // Grow by half at least, so a long line arriving in many reads is not copied for
    // every read; memory stays within a constant factor of what is held.
    const size_t NewSize = std::max(Need, FRcvBufSize + FRcvBufSize / 2);
    std::unique_ptr<char[]> NewBuf(new char[NewSize]);
    if (Keep > 0)
        std::memcpy(NewBuf.get(), FRcvBuf.get() + FRcvHead, Keep);
    FRcvBuf = std::move(NewBuf);
    FRcvBufSize = NewSize;
    FRcvHead = 0;
}

void TCustomLineWSocket::Consume(size_t Count)
{
    FRcvHead += Count;
    FRcvdCnt -= Count;
    if (FRcvdCnt == 0)
        FRcvHead = 0;
    FTakenCount += Count;
}

void TCustomLineWSocket::FreeRcvBuf()
{
    FRcvBuf.reset();
    FRcvBufSize = FRcvHead = FRcvdCnt = FLineLength = 0;
}

void TCustomLineWSocket::TakeHeld(std::string &Out)
{
    Out.clear();
    if (FRcvdCnt > 0) {
        Out.assign(FRcvBuf.get() + FRcvHead, FRcvdCnt);
        Consume(FRcvdCnt);
    }
    FLineLength = 0;
}

// ---- reading ------------------------------------------------------------------------------------

int TCustomLineWSocket::GetRcvdCount()
{
    // In line mode only a found line is readable; bytes at the platform are not a line yet.
    if (LineActive())
        return ClampToInt(FLineLength);
    if (FRcvdCnt == 0)
        return TCustomSocksWSocket::GetRcvdCount();
    // Mode off with bytes still held: they come first and count as readable, so a handler
    // that reads RcvdCount bytes takes them.
    if (HSocket() == INVALID_SOCKET)
        return ClampToInt(FRcvdCnt);
    const int Platform = TCustomSocksWSocket::GetRcvdCount();
    return ClampToInt(FRcvdCnt + static_cast<size_t>(Platform > 0 ? Platform : 0));
}

int TCustomLineWSocket::DoRecv(void *Buffer, int BufferSize, int Flags)
{
    if (FRcvdCnt == 0 || FReadingPlatform)
        return TCustomSocksWSocket::DoRecv(Buffer, BufferSize, Flags);
    const bool Active = LineActive();
    if (Active && FLineLength == 0)
        return TCustomSocksWSocket::DoRecv(Buffer, BufferSize, Flags);
    if (BufferSize <= 0)
        return 0;
    const size_t Avail = Active ? FLineLength : FRcvdCnt;
    const size_t n = std::min(static_cast<size_t>(BufferSize), Avail);
    std::memcpy(Buffer, FRcvBuf.get() + FRcvHead, n);
    if (Flags & MSG_PEEK)
        return static_cast<int>(n);
    Consume(n);
    if (Active) {
        FLineLength -= n;
        // A line taken outside a delivery (after a handler left it) lets the lines behind
        // it through.
        if (FLineLength == 0 && FDeliveryDepth == 0 && FRcvdCnt > 0)
            QueueRedelivery();
    }
    ReadTaken();
    return static_cast<int>(n);
}

// ---- receiving and delivering -------------------------------------------------------------------

bool TCustomLineWSocket::TriggerDataAvailable(int Error)
{
    if (!LineActive()) {
        if (FReader) {
            ReaderTake();
            return true;
        }
        return TCustomSocksWSocket::TriggerDataAvailable(Error);
    }

    const int Pending = TCustomSocksWSocket::GetRcvdCount(); // at the platform, not the line
    if (Pending <= 0)
        return true;
    Reserve(FRcvdCnt, FRcvdCnt + static_cast<size_t>(Pending) + 1);
    int n;
    {
        FReadingPlatform = true;
        struct TReset {
            bool &Flag;
            ~TReset() { Flag = false; }
        } Reset{FReadingPlatform};
        n = Receive(FRcvBuf.get() + FRcvHead + FRcvdCnt, Pending);
    }
    if (n <= 0)
        return true;
    size_t Count = static_cast<size_t>(n);
    FRcvBuf[FRcvHead + FRcvdCnt + Count] = '\0';

    std::string Echo;
    if (FLineEdit) {
        FEchoOut.clear();
        EditLine(Count);
        Echo.swap(FEchoOut);
    } else if (FLineEcho) {
        Echo.assign(FRcvBuf.get() + FRcvHead + FRcvdCnt, Count);
    }

    // Start where a LineEnd split across two reads can still be found.
    const size_t EndLen = FLineEnd.size();
    const size_t Start = FRcvdCnt > EndLen ? FRcvdCnt - EndLen : 0;
    FRcvdCnt += Count;
    FRcvBuf[FRcvHead + FRcvdCnt] = '\0';

    if (!Echo.empty() && State() == wsConnected) {
        // The bytes are held before the echo goes out: a send that closes the connection
        // then delivers them as the last line instead of losing them.
        std::weak_ptr<bool> Alive = FLineAlive;
        SendStr(Echo);
        if (Alive.expired())
            return true;
    }
    ScanAndDeliver(Start);
    return true;
}

void TCustomLineWSocket::ScanAndDeliver(size_t Start)
{
    std::weak_ptr<bool> Alive = FLineAlive;
    // A line left pending by a handler that took nothing goes first; scanning from the
    // front finds exactly that line again.
    if (FLineLength > 0)
        Start = 0;
    while (LineActive() && FRcvdCnt >= FLineEnd.size()) {
        const char *Held = FRcvBuf.get() + FRcvHead;
        Start = std::min(Start, FRcvdCnt);
        const void *Hit = memmem(Held + Start, FRcvdCnt - Start, FLineEnd.data(), FLineEnd.size());
        if (!Hit)
            return;
        FLineLength = static_cast<size_t>(static_cast<const char *>(Hit) - Held) + FLineEnd.size();
        FLineReceived = true;
        if (!DeliverPendingLine() || Alive.expired())
            return;
        if (FRcvBuf)
            FRcvBuf[FRcvHead + FRcvdCnt] = '\0';
        Start = 0;
    }
}

bool TCustomLineWSocket::DeliverPendingLine()
{
    std::weak_ptr<bool> Alive = FLineAlive;
    while (LineActive() && FLineLength > 0) {
        if (!OnDataAvailable && !FReader) {
            Consume(FLineLength); // nobody takes lines: drop it
            FLineLength = 0;
            break;
        }
        const quint64 TakenBefore = FTakenCount;
        ++FDeliveryDepth;
        struct TDepth {
            std::weak_ptr<bool> Alive;
            int &Depth;
            ~TDepth()
            {
                if (!Alive.expired())
                    --Depth;
            }
        } Depth{Alive, FDeliveryDepth};
        OfferData();
        if (Alive.expired())
            return false;
        // A handler that took nothing would be called for ever: keep the line pending
        // (RcvdCount shows it) until more data arrive, the session ends or it is read.
        if (FTakenCount == TakenBefore && LineActive() && FLineLength > 0)
            return false;
    }
    if (!LineActive())
        FLineLength = 0; // switched off mid-line: the untaken part stays at the front
    return true;
}

void TCustomLineWSocket::OfferData()
{
    if (FReader)
        ReaderTake();
    else if (OnDataAvailable)
        OnDataAvailable(this, 0);
}

void TCustomLineWSocket::ReaderTake()
{
    std::string &Line = *FReader;
    const bool Active = LineActive();
    // A line replaces what the reader holds; raw data (an empty LineEnd) may come in several
    // offers of one receive loop and are gathered.
    const size_t Keep = Active ? 0 : Line.size();
    const int Count = RcvdCount();
    Line.resize(Keep + static_cast<size_t>(Count > 0 ? Count : 0));
    const int n = Count > 0 ? Receive(Line.data() + Keep, Count) : 0;
    Line.resize(Keep + static_cast<size_t>(n > 0 ? n : 0));
    FLineReceived = true; // also ends the wait when an empty LineEnd turns line mode off
    // Stop at this line: later lines stay held for the next read instead of overwriting it.
    if (Active)
        FLineMode = false;
}

void TCustomLineWSocket::EditLine(size_t &Count)
{
    char *Held = FRcvBuf.get() + FRcvHead;
    const size_t Floor = FLineLength; // a line already found is never edited away
    size_t Write = FRcvdCnt;          // write position; equals the read position until an edit
    size_t Low = FRcvdCnt;            // lowest write position reached
    bool Edited = false;
    size_t Base = 0;                  // once edited, Tail holds the positions [Base, Write)
    std::string Tail;

    for (size_t i = 0; i < Count; ++i) {
        const char c = Held[FRcvdCnt + i];
        if (c == Backspace) {
            if (!Edited) {
                Edited = true;
                Base = Write;
            }
            if (Write > Floor) {
                if (FLineEcho)
                    FEchoOut += "\b \b";
                if (Write > Base)
                    Tail.pop_back();
                else
                    --Base;
                --Write;
                Low = std::min(Low, Write);
            }
        } else if (c == Tab) {
            if (!Edited) {
                Edited = true;
                Base = Write;
            }
            // Columns count from the first held byte; a tab on a tab stop gives eight.
            do {
                Tail.push_back(' ');
                ++Write;
                if (FLineEcho)
                    FEchoOut.push_back(' ');
            } while (Write % 8 != 0);
        } else {
            if (FLineEcho)
                FEchoOut.push_back(c);
            if (Edited)
                Tail.push_back(c);
            ++Write;
        }
    }
    if (!Edited)
        return;
    // Bytes in [Low, Base) are plain new bytes still in place; the edited ones follow.
    Reserve(FRcvdCnt + Count, Base + Tail.size() + 1);
    Held = FRcvBuf.get() + FRcvHead;
    std::memcpy(Held + Base, Tail.data(), Tail.size());
    Held[Base + Tail.size()] = '\0';
    FRcvdCnt = Low;
    Count = Write - Low;
}

// ---- session end and mode switches --------------------------------------------------------------

void TCustomLineWSocket::TriggerSessionClosed(int Error)
{
    std::weak_ptr<bool> Alive = FLineAlive;
    FLineReceived = true;
    if (FRcvBuf) {
        // Handler exceptions end the delivery only, as in the receive loop; the session
        // still ends and reports.
        try {
            if (LineActive() && FRcvdCnt > 0) {
                FLineLength = FRcvdCnt; // the last line, without LineEnd
                DeliverPendingLine();
            } else {
                // Mode switched off before the redelivery ran: the bytes still go out raw.
                while (!LineActive() && FRcvdCnt > 0 && (OnDataAvailable || FReader)) {
                    const quint64 TakenBefore = FTakenCount;
                    OfferData();
                    if (Alive.expired() || FTakenCount == TakenBefore)
                        break;
                }
            }
        } catch (...) {
        }
        if (Alive.expired())
            return;
        FreeRcvBuf();
    }
    TCustomSocksWSocket::TriggerSessionClosed(Error);
}

void TCustomLineWSocket::TriggerChangeState(TSocketState OldState, TSocketState NewState)
{
    // A new connection starts with an empty buffer, also after a close that ended the
    // session without a closed event (a reset reported by an operation).
    if (OldState == wsClosed && NewState != wsClosed && FRcvBuf)
        FreeRcvBuf();
    TCustomSocksWSocket::TriggerChangeState(OldState, NewState);
}

void TCustomLineWSocket::QueueRedelivery()
{
    PostDeferred([this] { Redeliver(); });
}

void TCustomLineWSocket::Redeliver()
{
    std::weak_ptr<bool> Alive = FLineAlive;
    // Handler exceptions are dropped as the receive loop drops them.
    try {
        // Raw offers while line mode is off; each must take something or the offers end,
        // so nothing repeats when no handler reads.
        while (!LineActive() && FRcvdCnt > 0 && (OnDataAvailable || FReader)) {
            const quint64 TakenBefore = FTakenCount;
            OfferData();
            if (Alive.expired() || FTakenCount == TakenBefore)
                return;
        }
        // Line mode (again): the held bytes are split into lines now, without waiting for
        // more data to arrive.
        if (LineActive() && FRcvdCnt > 0)
            ScanAndDeliver(0);
    } catch (...) {
    }
}
