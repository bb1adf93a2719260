// Entry point of every test program: a Qt application on the offscreen platform, with
// the per-user config location moved to a temporary folder so no test touches real settings.
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
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    testing::InitGoogleMock(&argc, argv);
    return RUN_ALL_TESTS();
}
