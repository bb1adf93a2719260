#pragma once
#include "session/Keyring.h"

#include <QCoreApplication>
#include <map>
#include <memory>
#include <string>
#include <vector>

// A keyring in memory. It answers from the event loop as the real one does, records every
// request ("write DEV.MGR@tandem1:21"), and can be told to fail every request.
class TMemoryKeyring : public TKeyring {
public:
    std::map<std::string, std::string> items;  // key ("user@host:port") -> password
    std::map<std::string, std::string> labels; // key -> label of the item written
    std::vector<std::string> requests;         // "read KEY", "write KEY", "remove KEY", in order
    // Done answers as a keyring does; Unavailable or Refused fails every request so.
    KeyringStatus failWith = KeyringStatus::Done;

    ~TMemoryKeyring() override { *alive_ = false; }

    void Read(const KeyringItem &item, Answer answer) override
    {
        const std::string key = Record("read", item);
        KeyringAnswer result = Outcome(items.count(key) > 0);
        if (result.Status == KeyringStatus::Done)
            result.Password = items[key];
        Later(std::move(answer), result);
    }
    void Write(const KeyringItem &item, const std::string &password, Answer answer) override
    {
        const std::string key = Record("write", item);
        const KeyringAnswer result = Outcome(true);
        if (result.Status == KeyringStatus::Done) {
            items[key] = password;
            labels[key] = KeyringLabel(item);
        }
        Later(std::move(answer), result);
    }
    void Remove(const KeyringItem &item, Answer answer) override
    {
        const std::string key = Record("remove", item);
        const KeyringAnswer result = Outcome(items.count(key) > 0);
        if (result.Status == KeyringStatus::Done)
            items.erase(key);
        Later(std::move(answer), result);
    }

private:
    std::string Record(const std::string &request, const KeyringItem &item)
    {
        const std::string key = KeyringKey(item);
        requests.push_back(request + " " + key);
        return key;
    }
    KeyringAnswer Outcome(bool present) const
    {
        KeyringAnswer result;
        result.Status = failWith != KeyringStatus::Done ? failWith
                        : present                      ? KeyringStatus::Done
                                                       : KeyringStatus::NotFound;
        if (failWith != KeyringStatus::Done)
            result.Reason = "memory keyring told to fail";
        return result;
    }
    void Later(Answer answer, const KeyringAnswer &result)
    {
        QMetaObject::invokeMethod(QCoreApplication::instance(), [alive = alive_, answer, result] {
            if (*alive)
                answer(result);
        }, Qt::QueuedConnection);
    }

    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true); // answers due are dropped once gone
};

// Lends a keyring that outlives its borrowers (one per window built in a test) to a window
// that owns what it is given; answers still due when the borrower goes are dropped.
class TLentKeyring : public TKeyring {
public:
    explicit TLentKeyring(TKeyring &keyring) : keyring_(keyring) {}
    ~TLentKeyring() override { *alive_ = false; }
    void Read(const KeyringItem &item, Answer answer) override { keyring_.Read(item, Guarded(std::move(answer))); }
    void Write(const KeyringItem &item, const std::string &password, Answer answer) override
    {
        keyring_.Write(item, password, Guarded(std::move(answer)));
    }
    void Remove(const KeyringItem &item, Answer answer) override { keyring_.Remove(item, Guarded(std::move(answer))); }

private:
    Answer Guarded(Answer answer) const
    {
        return [alive = alive_, answer = std::move(answer)](const KeyringAnswer &result) {
            if (*alive)
                answer(result);
        };
    }
    TKeyring &keyring_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};
