#include "support/SecretService.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <vector>

extern char **environ;

namespace {

using Clock = std::chrono::steady_clock;

std::unique_ptr<TSecretService> &Instance()
{
    static std::unique_ptr<TSecretService> service;
    return service;
}

bool Exited(pid_t pid)
{
    return ::waitpid(pid, nullptr, WNOHANG) == pid;
}

// A call on a connection of its own: the process's session bus connection, once made, is
// kept even when it failed, so it is not made before the service is known to answer.
QDBusMessage Call(const std::string &address, const QDBusMessage &call)
{
    const QString name = "zarvel-secret-service-probe";
    QDBusMessage reply;
    {
        const QDBusConnection bus = QDBusConnection::connectToBus(QString::fromStdString(address), name);
        if (bus.isConnected())
            reply = bus.call(call, QDBus::Block, 5000);
    }
    QDBusConnection::disconnectFromBus(name);
    return reply;
}

bool BusAnswers(const std::string &address)
{
    const QDBusMessage call = QDBusMessage::createMethodCall("org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                             "org.freedesktop.DBus", "GetId");
    return Call(address, call).type() == QDBusMessage::ReplyMessage;
}

// The default collection's Locked property; nothing while the service does not answer.
std::optional<bool> DefaultCollectionLocked(const std::string &address)
{
    QDBusMessage call = QDBusMessage::createMethodCall(
        "org.freedesktop.secrets", "/org/freedesktop/secrets/aliases/default",
        "org.freedesktop.DBus.Properties", "Get");
    call << QString("org.freedesktop.Secret.Collection") << QString("Locked");
    // Started on demand, the bus would run a keyring daemon of its own, locked, in the way of ours.
    call.setAutoStartService(false);
    const QDBusMessage reply = Call(address, call);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return std::nullopt;
    return reply.arguments().first().value<QDBusVariant>().variant().toBool();
}

} // namespace

TSecretService *TSecretService::Get(std::string *reason)
{
    static std::string failure;
    if (!Instance() && failure.empty()) {
        std::unique_ptr<TSecretService> service(new TSecretService);
        if (service->Start(&failure))
            Instance() = std::move(service);
    }
    if (!Instance())
        *reason = "no private Secret Service: " + failure;
    return Instance().get();
}

bool TSecretService::Started()
{
    return Instance() != nullptr;
}

TSecretService::~TSecretService()
{
    Stop(keyring_);
    Stop(bus_);
}

bool TSecretService::Start(std::string *reason)
{
    if (!dir_.isValid()) {
        *reason = "no temporary folder";
        return false;
    }
    for (const char *folder : {"home", "run"})
        QDir().mkpath(dir_.filePath(folder));
    QFile::setPermissions(dir_.filePath("run"), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    address_ = "unix:path=" + dir_.filePath("bus").toStdString();

    bus_ = Spawn({"dbus-daemon", "--session", "--nofork", "--address=" + address_}, {}, "bus.log");
    if (bus_ <= 0) {
        *reason = "dbus-daemon could not be run";
        return false;
    }
    // A loaded machine may take long; only a daemon that ends or never answers counts as failed.
    const auto deadline = Clock::now() + std::chrono::seconds(120);
    while (!BusAnswers(address_)) {
        if (Exited(bus_))
            bus_ = -1;
        if (bus_ < 0 || Clock::now() > deadline) {
            *reason = "dbus-daemon did not start" + Log();
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    // --unlock takes the login keyring's password on standard input, creating it when new.
    keyring_ = Spawn({"gnome-keyring-daemon", "--foreground", "--unlock", "--components=secrets"},
                     "zarvel-test", "keyring.log");
    while (keyring_ > 0 && Clock::now() < deadline) {
        if (Exited(keyring_)) {
            keyring_ = -1;
            *reason = "gnome-keyring-daemon ended" + Log();
            return false;
        }
        if (DefaultCollectionLocked(address_) == false) {
            // From here on this process's session bus is the private one.
            qputenv("DBUS_SESSION_BUS_ADDRESS", QByteArray::fromStdString(address_));
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    *reason = keyring_ > 0 ? "gnome-keyring-daemon did not offer an unlocked keyring within 120 s" + Log()
                           : "gnome-keyring-daemon could not be run";
    return false;
}

pid_t TSecretService::Spawn(const std::vector<std::string> &args, const std::string &input, const std::string &log)
{
    // The user's bus, display and folders stay out: an unlock prompt must fail, not appear.
    static const char *const kDropped[] = {"DISPLAY=", "WAYLAND_DISPLAY=", "DBUS_SESSION_BUS_ADDRESS=", "HOME=",
                                           "XDG_", "LD_PRELOAD="};
    std::vector<std::string> env;
    for (char **e = environ; *e; ++e) {
        bool dropped = false;
        for (const char *prefix : kDropped)
            dropped = dropped || std::strncmp(*e, prefix, std::strlen(prefix)) == 0;
        if (!dropped)
            env.emplace_back(*e);
    }
    const std::string home = dir_.filePath("home").toStdString();
    env.insert(env.end(), {"HOME=" + home, "XDG_RUNTIME_DIR=" + dir_.filePath("run").toStdString(),
                           "XDG_DATA_HOME=" + home + "/.local/share", "XDG_CONFIG_HOME=" + home + "/.config",
                           "XDG_CACHE_HOME=" + home + "/.cache", "DBUS_SESSION_BUS_ADDRESS=" + address_});
    std::vector<char *> envp;
    for (std::string &e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    std::vector<char *> argv;
    for (const std::string &a : args)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);

    const std::string in = dir_.filePath(QString::fromStdString(log + ".in")).toStdString();
    QFile inFile(QString::fromStdString(in));
    if (!inFile.open(QIODevice::WriteOnly) || inFile.write(input.data(), qint64(input.size())) != qint64(input.size()))
        return -1;
    inFile.close();
    const std::string out = dir_.filePath(QString::fromStdString(log)).toStdString();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, in.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    // Its own process group, so what the bus starts on demand (the prompter) stops with it.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attr, 0);
    pid_t pid = -1;
    const int rc = ::posix_spawnp(&pid, argv[0], &actions, &attr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    return rc == 0 ? pid : -1;
}

void TSecretService::Stop(pid_t &pid)
{
    if (pid <= 0)
        return;
    // The leader is reaped only after the group's last signal, so the group id is still ours.
    ::kill(-pid, SIGTERM);
    const auto deadline = Clock::now() + std::chrono::seconds(3);
    while (Clock::now() < deadline) {
        siginfo_t info{};
        if (::waitid(P_PID, id_t(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ::kill(-pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    pid = -1;
}

std::string TSecretService::Log() const
{
    std::string log;
    for (const char *name : {"bus.log", "keyring.log"}) {
        QFile file(dir_.filePath(name));
        if (file.open(QIODevice::ReadOnly))
            log += std::string("\n--- ") + name + "\n" + file.readAll().right(2000).toStdString();
    }
    return log;
}

bool TSecretService::Lock()
{
    QDBusMessage alias = QDBusMessage::createMethodCall("org.freedesktop.secrets", "/org/freedesktop/secrets",
                                                        "org.freedesktop.Secret.Service", "ReadAlias");
    alias << QString("default");
    const QDBusMessage found = Call(address_, alias);
    if (found.type() != QDBusMessage::ReplyMessage || found.arguments().isEmpty())
        return false;
    QDBusMessage call = QDBusMessage::createMethodCall("org.freedesktop.secrets", "/org/freedesktop/secrets",
                                                       "org.freedesktop.Secret.Service", "Lock");
    call << QVariant::fromValue(QList<QDBusObjectPath>{found.arguments().first().value<QDBusObjectPath>()});
    Call(address_, call);
    return DefaultCollectionLocked(address_) == true;
}

std::string TSecretService::Search(const std::string &attribute, const std::string &value) const
{
    QProcess tool;
    tool.setProcessChannelMode(QProcess::MergedChannels);
    tool.start("secret-tool", {"search", "--all", QString::fromStdString(attribute), QString::fromStdString(value)});
    if (!tool.waitForFinished(15000))
        return "secret-tool did not finish";
    std::string lines;
    for (const QByteArray &line : tool.readAll().split('\n'))
        if (line.startsWith("label = ") || line.startsWith("secret = "))
            lines += line.toStdString() + "\n";
    return lines;
}
