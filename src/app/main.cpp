// Zarvel's entry: creates the windows in their fixed order, shows the about box as a splash,
// loads the settings and the command line, and runs the event loop.
#include "ui/AboutBox.h"
#include "ui/Configure.h"
#include "ui/SystemSounds.h"
#include "ui/Tancnct.h"
#include "ui/Tanftp.h"
#include "ui/Tanstat.h"
#include "ui/Tanxfer.h"
#include "ui/UserMessages.h"

#include <QApplication>
#include <QScreen>
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

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv); // takes Qt's own options (-platform, ...) out of argv
    QApplication::setApplicationName("Zarvel");
    QApplication::setApplicationVersion(ZARVEL_VERSION);
    TUserMessages messages;
    TSystemSounds sounds;
    try {
        // The main window comes first: closing it ends the program. The others are its
        // children, so they go with it.
        TFormMain formMain(messages, sounds);
        TFormMain::Windows windows;
        windows.AboutBox = new TAboutBox(&formMain);
        windows.FormConnect = new TFormConnect(&formMain);
        windows.FormStatus = new TFormStatus(&formMain);
        windows.FormConfig = new TFormConfig(&formMain);
        windows.FormTransfer = new TFormTransfer(&formMain);
        formMain.AttachWindows(windows);

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
