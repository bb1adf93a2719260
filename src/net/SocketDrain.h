// The end of an orderly close that found bytes the platform could not take yet: the handle
// and those bytes go to a drain, which sends them as room frees up, then ends the stream and
// closes the handle. The socket object itself is closed at once and free for its next use.
#pragma once

#include <QObject>

#include <memory>
#include <string>

class QSocketNotifier;
class QTimer;

class TSendDrain : public QObject {
public:
    // Takes over Handle (a connected, non-blocking stream) and sends Rest on it. Without an
    // event loop to wait in, the handle is closed at once and the bytes are lost.
    // AwaitPeerClose: after the end of the stream, read and drop what the peer still sends
    // until it closes too (TLS peers answer close_notify, and send session tickets nobody
    // read): closing with unread bytes would reset the connection and lose the stream's tail.
    static void Start(int Handle, std::string Rest, bool AwaitPeerClose = false);
    static int Running();                   // drains still sending (for tests)
    static inline int GiveUpMs = 60000;     // no room for this long: the peer is gone (tests shorten it)

    ~TSendDrain() override;                 // closes the handle

private:
    TSendDrain(int Handle, std::string Rest, bool AwaitPeerClose);
    void DropInput();                       // reads and drops; closes at the peer's end
    void SendSome();                        // sends what the platform takes; ends when done or failed
    void Finish(bool Orderly);              // shutdown when orderly, then close, then delete later
    static void CloseAbortively(int Handle); // close with a reset: the data did not all go

    int FHandle;                            // the connection, owned
    std::string FRest;                      // bytes still to send
    size_t FSent = 0;                       // of FRest, already sent
    std::unique_ptr<QSocketNotifier> FWritable; // room in the platform's buffer
    std::unique_ptr<QTimer> FGiveUp;        // restarted by every send that moved bytes
    bool FAwaitPeerClose;
    std::unique_ptr<QSocketNotifier> FReadable; // while awaiting the peer's close
};
