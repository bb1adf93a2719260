// Zarvel's entry: creates the windows in their fixed order, shows the about box as a splash,
// loads the settings and the command line, and runs the event loop.
#include "session/CommandLineUsage.h"
#include "session/SettingsStore.h"
#include "ui/AboutBox.h"
#include "ui/MainWindow.h"
#include "ui/SystemSounds.h"
#include "ui/UserMessages.h"
#include "ui/WindowAssembly.h"

#include <QApplication>
#include <QIcon>
#include <QScreen>
#include <cstdio>
#include <exception>
#include <string>

namespace {

// The keywords are read from one text, as typed after the program's name; the shell has
// already split it at blanks, which the grammar treats as separators anyway.
std::string CommandLineText(int argc, char *argv[])
{
    std::string text;
    for (int i = 1; i < argc; ++i) {
        if (i > 1)
            text += ' ';
        text += argv[i];
    }
    return text;
}

// Prints --help or --version on standard output. Runs before any Qt application object
// exists, so it works without a display. A failed write (a full disk, a closed pipe) is an
// error, not silent success.
int PrintAndEnd(CommandLineRequest request)
{
    const std::string text = request == CommandLineRequest::Version
        ? VersionText(ZARVEL_VERSION)
        : CommandLineUsage(TFileSettingsStore::DefaultPath().toStdString());
    if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::fflush(stdout) != 0) {
        std::perror("zarvel: standard output");
        return 1;
    }
    return 0;
}

// The pictures of the installed theme icon, built in, so the windows have the icon also
// when run from the build tree, and without an SVG image plugin.
QIcon ApplicationIcon()
{
    QIcon icon;
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/icons/%1x%1/apps/" ZARVEL_APP_ID ".png").arg(size));
    return icon;
}

} // namespace

int main(int argc, char *argv[])
{
    const CommandLineRequest request = RequestOf(CommandLineText(argc, argv));
    if (request != CommandLineRequest::Run)
        return PrintAndEnd(request);

    QApplication app(argc, argv); // takes Qt's own options (-platform, ...) out of argv
    QApplication::setApplicationName("Zarvel");
    QApplication::setApplicationVersion(ZARVEL_VERSION);
    // Lets the desktop match the windows to the menu entry (and its icon) it started.
    QGuiApplication::setDesktopFileName(QStringLiteral(ZARVEL_APP_ID));
    QApplication::setWindowIcon(ApplicationIcon());
    TUserMessages messages;
    TSystemSounds sounds;
    try {
        // The main window comes first: closing it ends the program. The others are its
        // children, so they go with it.
        TFormMain formMain(messages, sounds);
        const TFormMain::Windows windows = AttachNewWindows(formMain, messages);

        windows.AboutBox->Splash();
        if (!formMain.LoadStartupSettings(CommandLineText(argc, argv)))
            return 2; // the command line was wrong; the user has seen why
        if (const QScreen *screen = QGuiApplication::primaryScreen())
            formMain.move(screen->availableGeometry().center() - formMain.rect().center());
        formMain.show();
        return QApplication::exec();
    } catch (const std::exception &e) {
        messages.ErrorDialog(nullptr, TextForDisplay(e.what()));
        return 1;
    }
}
