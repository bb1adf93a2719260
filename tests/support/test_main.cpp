// Entry point of every test program: a Qt application on the offscreen platform, with
// the per-user config location moved to a temporary folder so no test touches real settings.
#include <QApplication>
#include <QTemporaryDir>
#include <gmock/gmock.h>
#include <cstdlib>

int main(int argc, char *argv[])
{
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    testing::InitGoogleMock(&argc, argv);
    return RUN_ALL_TESTS();
}
