#pragma once
// A private desktop keyring for the keyring tests: a session bus of its own with
// gnome-keyring-daemon's Secret Service on it, its login keyring unlocked, everything in a
// temporary home. Started at the first Get() of a test program and stopped (by process id)
// when the program's tests end; from the start on, this process's session bus is that one.
// Nothing of the user's own bus, keyring or display is used.
//
//   std::string reason;
//   TSecretService *keyring = TSecretService::Get(&reason);
//   if (!keyring) GTEST_SKIP() << reason;
#include <QTemporaryDir>
#include <string>
#include <vector>
#include <sys/types.h>

class TSecretService {
public:
    // The running service; null with the reason when it cannot start here.
    static TSecretService *Get(std::string *reason);
    // Whether this process has started one (its session bus is then the private one).
    static bool Started();
    ~TSecretService();

    // Locks the login keyring, as a locked session would; false when the service refused.
    bool Lock();
    // What `secret-tool search --all` prints for the items with this attribute and value
    // ("label = ...", "secret = ...", one per line); empty when none matches.
    std::string Search(const std::string &attribute, const std::string &value) const;

private:
    TSecretService() = default;
    bool Start(std::string *reason);
    pid_t Spawn(const std::vector<std::string> &argv, const std::string &input, const std::string &log);
    void Stop(pid_t &pid);
    std::string Log() const;

    QTemporaryDir dir_;      // home, runtime folder, bus socket and logs
    std::string address_;    // the private bus
    pid_t bus_ = -1;         // dbus-daemon
    pid_t keyring_ = -1;     // gnome-keyring-daemon
};
