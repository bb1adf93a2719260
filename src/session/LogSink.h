#pragma once
#include <string>

// The session logic's one output channel. Level 0 carries errors (always shown), 1 status
// messages (also shown in the status bar), 2 the FTP dialogue, 3 the client's state changes.
// Texts are bytes, as the protocol and the file system give them.
class LogSink {
public:
    virtual ~LogSink() = default;
    virtual void Log(int level, const std::string &text) = 0;
};
