// Entry point of every test program: a Qt application on the offscreen platform, with
// the per-user config and data locations moved to a temporary folder so no test touches real
// settings or the real trash, and the session bus moved away so none touches the user's keyring.
#include <QApplication>
#include <QTemporaryDir>
#include <gmock/gmock.h>
#include <cstdio>

int main(int argc, char *argv[])
{
    QTemporaryDir config;
    // An empty XDG_CONFIG_HOME would send the tests to the user's real ~/.config.
    if (!config.isValid()) {
        std::fprintf(stderr, "cannot create a temporary config folder: %s\n",
                     qPrintable(config.errorString()));
        return 1;
    }
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
    // Nor the user's trash: deleted PC files go to $XDG_DATA_HOME/Trash.
    qputenv("XDG_DATA_HOME", config.filePath("data").toUtf8());
    // Nor the user's keyring: the session bus is one that does not exist (the keyring tests
    // start a private one), and no desktop steers the keyring library to its own wallet.
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + config.filePath("no-session-bus").toUtf8());
    for (const char *desktop : {"XDG_CURRENT_DESKTOP", "DESKTOP_SESSION", "KDE_FULL_SESSION"})
        qunsetenv(desktop);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    testing::InitGoogleMock(&argc, argv);
    return RUN_ALL_TESTS();
}
