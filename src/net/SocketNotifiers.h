// The readiness watchers of one socket handle, shared by the files that arm, disarm and
// release them.
#pragma once

#include "net/Socket.h"

#include <QSocketNotifier>
#include <QTimer>

#include <memory>

struct TCustomWSocket::TNotifiers {
    // The parent of the three below: a closed handle's watchers go with one deferred delete,
    // not three (each a wake-up of the event loop, twice per file of a batch).
    std::unique_ptr<QObject> Owner = std::make_unique<QObject>();
    QSocketNotifier *Read = new QSocketNotifier(QSocketNotifier::Read, Owner.get());
    QSocketNotifier *Write = new QSocketNotifier(QSocketNotifier::Write, Owner.get());
    // While readable reports wait for a handler to read, a peer close is still looked for,
    // now and then, so it is never lost.
    QTimer *CloseWatch = new QTimer(Owner.get());
};
