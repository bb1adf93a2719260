#pragma once
#include "session/LogSink.h"
#include "session/SettingsStore.h"
#include "session/StartupSettings.h"
#include <QMainWindow>
#include <memory>
#include <string>

class QAction;
class QGroupBox;
class QLabel;
class TAboutBox;
class TFormConfig;
class TFormConnect;
class TFormStatus;
class TFormTransfer;
class TUserMessages;

// The main window: the program's one long-lived window and the owner of the session state
// (the settings store, the filters, the flags). Closing it ends the program.
class TFormMain : public QMainWindow, public LogSink, private TStartupWindows {
    Q_OBJECT
public:
    // Builds the window and opens the settings store at `storePath`. A store that cannot
    // be used is reported and the program goes on without one. Throws ESettingsStoreError
    // when a stored filter has the wrong type, which ends start-up.
    explicit TFormMain(TUserMessages &messages,
                       const QString &storePath = TFileSettingsStore::DefaultPath(),
                       QWidget *parent = nullptr);
    ~TFormMain() override;

    // The windows created after this one at start-up; all must be set before
    // LoadStartupSettings.
    struct Windows {
        TAboutBox *AboutBox = nullptr;
        TFormConnect *FormConnect = nullptr;
        TFormStatus *FormStatus = nullptr;
        TFormConfig *FormConfig = nullptr;
        TFormTransfer *FormTransfer = nullptr;
    };
    void AttachWindows(const Windows &windows);

    // Loads the stored settings, applies the command line and arms the automatic
    // connection; after a command-line error shows it, closes this window and returns false.
    bool LoadStartupSettings(const std::string &commandLine);

    // Opens the session with the connect dialog's settings.
    virtual void ConnectToHost();

    // One line for the log: level 1 also goes to the status bar; the log window takes
    // lines whose level is not above the configured LogLevel.
    void Log(int level, const std::string &text) override;

    // Menu and window handlers.
    void ExitClick();        // File > Exit: close, which ends the program
    void AboutClick();       // Help > About: the about box, modal
    void LogWindowClick();   // File > Log Window, or a double click on the status bar
    void FormPaint();        // starts the automatic connection at the first paint

    TSettingsStore *SettingsStore() const { return Store.get(); }
    const Windows &Forms() const { return Forms_; }

    // Session state.
    bool AutoConnectPending = false;     // connect at the next paint; set once at start-up
    bool Connected = false;              // a session is open
    std::string FilterPC;                // the PC file list's filter text
    std::string TandemFilterDefinition;  // the Tandem file-code filter definition in force

    // Menu commands.
    QAction *ConnectItem;
    QAction *DisconnectItem;
    QAction *LogWindowItem;
    QAction *ConfigureItem;
    QAction *ExitItem;
    QAction *HelpItem;
    QAction *AboutItem;

    // The three groups; their controls come with the operations that use them.
    QGroupBox *GroupBoxPC;       // "Local PC", always enabled
    QGroupBox *GroupBoxMode;     // "Transfer", enabled while a session is open
    QGroupBox *GroupBoxTandem;   // "Tandem", enabled while a session is open

    // Status bar panels: level 1 messages, and the remote file count.
    QLabel *StatusMessage;
    QLabel *StatusCount;

protected:
    void paintEvent(QPaintEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void CreateMenus();
    void CreateGroups();
    void CreateStatusBar();

    // What LoadStartupSettings reaches in the windows.
    ConnectionSettings &HeldConnectionSettings() override;
    GeneralSettings &HeldGeneralSettings() override;
    void SetProxyControls(bool on) override;
    void ShowCommandLineError(const std::string &message) override;
    void SetAutoConnectPending(bool on) override;
    void CloseMainWindow() override;

    TUserMessages &Messages;                // message boxes
    std::unique_ptr<TSettingsStore> Store;  // open for the window's life; null without one
    Windows Forms_;                         // the other long-lived windows
};
