#pragma once
// File > Send Command: one command line for the host (SITE HELP, QUOTE OSS ...) sent through
// the browsing session's quote operation, its whole reply handed back line by line. It runs
// asynchronously: the window stays live, and nothing waits in a nested loop.
#include "ftp/FtpClient.h"

#include <QByteArray>
#include <QObject>

#include <string>

// The line to send for what the user typed: blanks around it trimmed and a leading "QUOTE"
// (the word command-line clients use) dropped. Empty with `refusal` set when it may not go:
// nothing typed, a line break, or USER or PASS (the login belongs to the connect dialog).
std::string HostCommandLine(const std::string &typed, std::string &refusal);

class THostCommand : public QObject {
    Q_OBJECT
public:
    explicit THostCommand(TCustomFtpCli &client); // the session's client; it must outlive this
    ~THostCommand() override;

    // Sends one line made by HostCommandLine. False, with `why`, when the session cannot take
    // it now (not connected, another request running); nothing is sent then.
    bool Send(const std::string &line, std::string &why);
    bool Running() const { return running_; }     // sent, its reply not yet complete

Q_SIGNALS:
    void Line(const QByteArray &text);            // "> " + the command, then "< " + each reply line
    void Finished(bool ok);                       // the reply is complete: a success (below 500) or not

private:
    void Start(const std::string &line);          // hooks the client and starts the quote
    void Done(bool ok);                           // unhooks; Finished

    TCustomFtpCli &client_;
    bool running_ = false;
};
