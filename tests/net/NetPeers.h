// Loopback peers and event recording shared by the socket tests. Peers are plain POSIX
// sockets driven by the test between pumps of the Qt event loop.
#pragma once

#include "net/Socket.h"

#include <functional>
#include <string>
#include <vector>

// Pumps the Qt event loop until Done() holds or TimeoutMs passes; returns Done().
bool PumpUntil(const std::function<bool()> &Done, int TimeoutMs = 5000);
// Pumps for about Ms milliseconds.
void PumpFor(int Ms);

// A listening POSIX socket on 127.0.0.1 and a free port.
class TPeerListener {
public:
    explicit TPeerListener(int RcvBuf = 0); // RcvBuf > 0 shrinks the accepted sockets' receive buffer
    ~TPeerListener();
    int Port() const { return FPort; }
    std::string PortStr() const { return std::to_string(FPort); }
    int AcceptOne(int TimeoutMs = 5000);    // accepted handle (blocking mode), or -1
    int Fd() const { return FFd; }

private:
    int FFd = -1;
    int FPort = 0;
};

// Connects S to 127.0.0.1 at the listener's port and returns the peer's accepted handle.
// SendBuffer: S's platform send buffer in bytes, so a test fills it soon (0: as it comes).
int ConnectPair(TWSocket &S, TPeerListener &L, int SendBuffer = 0);
// n bytes of a pattern that shows any byte out of place.
std::string Pattern(size_t n);
// A loopback port nothing listens on (bound once, then released).
int UnusedPort();
// A blocking client connection to 127.0.0.1:Port, or -1.
int ConnectTo(int Port);
// Reads what is available on a blocking handle within TimeoutMs (until Want bytes or EOF).
std::string ReadAvailable(int Fd, size_t Want, int TimeoutMs = 5000);
// Whether the peer of Fd has closed (EOF seen within TimeoutMs).
bool SeesEof(int Fd, int TimeoutMs = 5000);
// Reads (and drops) everything until the stream ends: 0 for an orderly end, else the error
// that ended it (ECONNRESET for a reset); -1 when it has not ended in time.
int StreamEnd(int Fd, int TimeoutMs = 5000);
void WriteAll(int Fd, const std::string &Data);
void ResetAndClose(int Fd); // closes with a reset (linger on, 0 s)

// Records every event of a socket as text, in order.
struct TEventLog {
    std::vector<std::string> Items;
    void Attach(TCustomWSocket &S, bool WithDataAvailable = true, bool WithDataSent = true);
    int Count(const std::string &Item) const;
    std::string Joined() const;
};
