#pragma once
#include "session/Keyring.h"

#include <QObject>

namespace QKeychain {
class Job;
}

// The desktop keyring through qtkeychain: the Secret Service (GNOME Keyring, KeePassXC) or
// KWallet, whichever the desktop runs. Never falls back to a file of its own.
class TSystemKeyring : public QObject, public TKeyring {
    Q_OBJECT
public:
    explicit TSystemKeyring(QObject *parent = nullptr);

    void Read(const KeyringItem &item, Answer answer) override;
    void Write(const KeyringItem &item, const std::string &password, Answer answer) override;
    void Remove(const KeyringItem &item, Answer answer) override;

private:
    // Starts the job (owned by this object) and answers with its outcome.
    void Run(QKeychain::Job *job, const KeyringItem &item, Answer answer);
    // A read that found nothing may have met a locked keyring whose unlock was refused
    // (the library reports both alike): asks the Secret Service whether its default
    // collection is still locked, and answers Refused if so, else NotFound.
    void AnswerMissingOrLocked(Answer answer);
};
