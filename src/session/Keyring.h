#pragma once
#include <cstdint>
#include <functional>
#include <string>

// Saved passwords in the desktop keyring: one item per user ID, host and port, so the item
// follows the login it opens, not where the settings that name it are kept.

// How a keyring request ended.
enum class KeyringStatus {
    Done,        // read, written or removed
    NotFound,    // no item for this login
    Unavailable, // no keyring service, or it failed: the program falls back to the file
    Refused,     // the keyring stayed locked: the user refused to unlock it
};

struct KeyringAnswer {
    KeyringStatus Status = KeyringStatus::Unavailable;
    std::string Password; // the item's password, after a read that found it
    std::string Reason;   // the keyring's own words when it failed
};

// The login an item belongs to. Texts are bytes, as typed.
struct KeyringItem {
    std::string UserID;
    std::string Host;
    std::int32_t Port = 0;
};

// The item's label in the keyring's own window: "Zarvel: DEV.MGR on tandem1:21".
std::string KeyringLabel(const KeyringItem &item);
// The item's key among the program's items: "DEV.MGR@tandem1:21".
std::string KeyringKey(const KeyringItem &item);

// The keyring, asynchronous: a locked keyring may put up its own unlock prompt and wait
// for the user, so no request blocks.
class TKeyring {
public:
    using Answer = std::function<void(const KeyringAnswer &)>;
    virtual ~TKeyring() = default;
    // Each request answers exactly once, later, from the event loop (never inside the
    // call). Answers still due when the keyring is destroyed are dropped.
    virtual void Read(const KeyringItem &item, Answer answer) = 0;
    virtual void Write(const KeyringItem &item, const std::string &password, Answer answer) = 0;
    // Removing an item that does not exist answers Done or NotFound, as the keyring has it.
    virtual void Remove(const KeyringItem &item, Answer answer) = 0;
};
