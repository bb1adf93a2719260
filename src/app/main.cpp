// Zarvel's entry: creates the windows in their fixed order, shows the about box as a splash,
// loads the settings and the command line, and runs the event loop.
#include "NoDisplay.h"
#include "session/CommandLine.h"
#include "session/CommandLineUsage.h"
#include "session/FolderCommandRun.h"
#include "session/SettingsStore.h"
#include "session/Sites.h"
#include "ui/AboutBox.h"
#include "ui/MainWindow.h"
#include "ui/SystemSounds.h"
#include "ui/UserMessages.h"
#include "ui/WindowAssembly.h"

#include <QApplication>
#include <QIcon>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

namespace {

// The keywords are read from one text, as typed after the program's name; an argument the
// shell kept whole (a site name with a blank) is quoted so it stays one value.
std::string CommandLineText(int argc, char *argv[])
{
    return JoinArguments(std::vector<std::string>(argv + 1, argv + argc));
}

// Whether the command line can be understood before there is a display: its sites come
// from the settings file, which is only read here.
std::string CommandLineProblem(const std::string &commandLine)
{
    ConnectionSettings connection;
    GeneralSettings general;
    TFileSettingsStore store(TFileSettingsStore::DefaultPath());
    std::string unreadable;
    TSettingsStore *sites = store.OpenOrCreate(unreadable) ? &store : nullptr;
    return ApplyCommandLine(commandLine, connection, general, [sites](const std::string &name, ConnectionSettings &site) {
        return LoadSiteSettings(sites, name, site);
    });
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
    if (request == CommandLineRequest::Folder) {
        // No window: runs without a display.
        QCoreApplication app(argc, argv);
        return RunFolderCommand(CommandLineText(argc, argv));
    }
    if (request != CommandLineRequest::Run)
        return PrintAndEnd(request);

    ArmNoDisplayReport(CommandLineProblem(CommandLineText(argc, argv)));
    QApplication app(argc, argv); // takes Qt's own options (-platform, ...) out of argv
    DisarmNoDisplayReport();
    // The desktop matches windows to the menu entry by their class, which is this name. No
    // display name: Qt would append it to every window title.
    QApplication::setApplicationName(QStringLiteral(ZARVEL_APP_ID));
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
        formMain.RestorePlacement();
        formMain.show();
        return QApplication::exec();
    } catch (const std::exception &e) {
        messages.ErrorDialog(nullptr, TextForDisplay(e.what()));
        return 1;
    }
}
