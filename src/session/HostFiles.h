#pragma once
#include <string>

class TFtpClient;

// True while a request of the client waits for the server: the client refuses another one
// then ("FTP component not ready"), so a click meanwhile must be refused, never half-run.
bool FtpClientBusy(const TFtpClient &client);
inline constexpr const char *ClientBusyText = "FTP component not ready";

// A Guardian subvolume exists only while it holds files, so a real host answers LIST of an
// empty (or not yet used) one with 550: true when the client's failed LIST, which delivered
// `lines` lines, was that answer. The session is still open then.
bool ListingRefusedAsEmpty(const TFtpClient &client, int lines);

// The FTP client as the host file operations use it: one synchronous request at a time.
class THostFiles {
public:
    virtual ~THostFiles() = default;
    // DELE of `name`; true when the host confirmed it.
    virtual bool Dele(const std::string &name) = 0;
    // RNFR `from`, then RNTO `to`; true when the host confirmed both.
    virtual bool Ren(const std::string &from, const std::string &to) = 0;
    // Why the last request failed, as the client words it.
    virtual std::string ErrorMessage() const = 0;
};

// THostFiles through the main window's FTP client: names go in HostFileName (and the new
// name in the local file name, which RNTO carries), then the synchronous request runs.
class TFtpHostFiles : public THostFiles {
public:
    explicit TFtpHostFiles(TFtpClient &client) : Client(client) {}
    bool Dele(const std::string &name) override;
    bool Ren(const std::string &from, const std::string &to) override;
    std::string ErrorMessage() const override;

private:
    bool Refuse();       // true, and the refusal noted, while the client is busy

    TFtpClient &Client;  // the main window's FTPCLI
    bool Refused = false; // the last request was refused before it started
};
