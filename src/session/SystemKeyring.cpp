#include "session/SystemKeyring.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <qt6keychain/keychain.h>

namespace {

// The library stores each item under a service name, which becomes the item's label in the
// Secret Service, and a key; with the label as service the keyring's window tells items apart.
QString Service(const KeyringItem &item)
{
    return QString::fromStdString(KeyringLabel(item));
}

QString Key(const KeyringItem &item)
{
    return QString::fromStdString(KeyringKey(item));
}

KeyringStatus StatusOf(QKeychain::Error error)
{
    switch (error) {
    case QKeychain::NoError:
        return KeyringStatus::Done;
    case QKeychain::EntryNotFound:
        return KeyringStatus::NotFound;
    case QKeychain::AccessDeniedByUser:
    case QKeychain::AccessDenied: // a locked collection the user did not unlock
        return KeyringStatus::Refused;
    default:
        return KeyringStatus::Unavailable;
    }
}

} // namespace

TSystemKeyring::TSystemKeyring(QObject *parent) : QObject(parent) {}

void TSystemKeyring::Read(const KeyringItem &item, Answer answer)
{
    Run(new QKeychain::ReadPasswordJob(Service(item)), item, std::move(answer));
}

void TSystemKeyring::Write(const KeyringItem &item, const std::string &password, Answer answer)
{
    auto *job = new QKeychain::WritePasswordJob(Service(item));
    job->setTextData(QString::fromStdString(password));
    Run(job, item, std::move(answer));
}

void TSystemKeyring::Remove(const KeyringItem &item, Answer answer)
{
    Run(new QKeychain::DeletePasswordJob(Service(item)), item, std::move(answer));
}

void TSystemKeyring::Run(QKeychain::Job *job, const KeyringItem &item, Answer answer)
{
    // The job has no parent: a running job deleted with this object could still be called
    // back by the keyring library. It deletes itself once finished; the connection goes
    // with this object, so a late answer is dropped.
    job->setKey(Key(item));
    job->setInsecureFallback(false);
    job->setAutoDelete(true);
    connect(job, &QKeychain::Job::finished, this, [this, answer = std::move(answer)](QKeychain::Job *done) {
        KeyringAnswer result;
        result.Status = StatusOf(done->error());
        if (result.Status != KeyringStatus::Done)
            result.Reason = done->errorString().toStdString();
        else if (const auto *read = qobject_cast<QKeychain::ReadPasswordJob *>(done))
            result.Password = read->textData().toStdString();
        if (result.Status == KeyringStatus::NotFound && qobject_cast<QKeychain::ReadPasswordJob *>(done)) {
            AnswerMissingOrLocked(answer);
            return;
        }
        // Answered from the loop even if the library finished inside start().
        QMetaObject::invokeMethod(this, [answer, result] { answer(result); }, Qt::QueuedConnection);
    });
    job->start();
}

void TSystemKeyring::AnswerMissingOrLocked(Answer answer)
{
    QDBusMessage call = QDBusMessage::createMethodCall(
        "org.freedesktop.secrets", "/org/freedesktop/secrets/aliases/default",
        "org.freedesktop.DBus.Properties", "Get");
    call << QString("org.freedesktop.Secret.Collection") << QString("Locked");
    call.setAutoStartService(false); // only asks a keyring that already runs
    auto *watcher = new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [answer](QDBusPendingCallWatcher *done) {
        done->deleteLater();
        const QDBusPendingReply<QDBusVariant> reply = *done;
        KeyringAnswer result;
        result.Status = KeyringStatus::NotFound;
        if (reply.isValid() && reply.value().variant().toBool()) {
            result.Status = KeyringStatus::Refused;
            result.Reason = "The keyring is locked";
        }
        answer(result);
    });
}
