// The readiness watchers of one socket handle, shared by the files that arm, disarm and
// release them.
#pragma once

#include "net/Socket.h"

#include <QSocketNotifier>
#include <QTimer>

#include <memory>

struct TCustomWSocket::TNotifiers {
    std::unique_ptr<QSocketNotifier> Read;
    std::unique_ptr<QSocketNotifier> Write;
    // While readable reports wait for a handler to read, a peer close is still looked for,
    // now and then, so it is never lost.
    std::unique_ptr<QTimer> CloseWatch;
};
