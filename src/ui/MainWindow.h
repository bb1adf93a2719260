#pragma once
#include "session/FileOperationsView.h"
#include "session/Keyring.h"
#include "session/LogSink.h"
#include "session/SessionController.h"
#include "session/SessionViews.h"
#include "session/SettingsStore.h"
#include "session/StartupSettings.h"
#include "session/UserPrompt.h"
#include "ui/HandlerGuard.h"

#include <QMainWindow>
#include <memory>
#include <string>
#include <vector>

class QAction;
class TFolderSync;
struct FolderSyncSetup;
struct SyncAction;
class QLabel;
class QListWidget;
class QSplitter;
class TAboutBox;
class TDragFilesTrg;
class TFormConfig;
class TFormConnect;
class TFormEdits;
class TRemoteEdits;
class TFormStatus;
class TFormTransfer;
class TLocalPCGroup;
class TTandemGroup;
class TTransferGroup;
class TUserMessages;

// The main window: the program's one long-lived window. It owns the session controller
// (src/session/SessionController.h: the FTP client, the flags, the filters, the logic) and
// the settings store; its handlers only hand the user's actions to the controller.
// Closing it ends the program.
class TFormMain : public QMainWindow,
                  public LogSink,
                  public TUserPrompt,
                  private TConfirmation,
                  private TStartupWindows,
                  private TSessionWindow,
                  private TStatusPanels,
                  private TMessageBoxes,
                  private TCertificatePrompt,
                  private TPlainLoginPrompt,
                  private THostSessionView {
    Q_OBJECT
public:
    // Builds the window and opens the settings store at `storePath`. A store that cannot
    // be used is reported and the program goes on without one. Throws ESettingsStoreError
    // when a stored filter has the wrong type, which ends start-up.
    TFormMain(TUserMessages &messages, TSounds &sounds,
              const QString &storePath = TFileSettingsStore::DefaultPath(), QWidget *parent = nullptr);
    ~TFormMain() override;

    // The size the window opens at when no size of an earlier run is stored.
    static constexpr QSize kDefaultSize{980, 640};

    // The windows created after this one at start-up; all must be set before
    // LoadStartupSettings.
    struct Windows {
        TAboutBox *AboutBox = nullptr;
        TFormConnect *FormConnect = nullptr;
        TFormStatus *FormStatus = nullptr;
        TFormConfig *FormConfig = nullptr;
        TFormTransfer *FormTransfer = nullptr;
    };
    // Hands the windows over and gives the controller the dialogs' settings.
    void AttachWindows(const Windows &windows);
    // Replaces the desktop keyring, which the window starts with, before LoadStartupSettings.
    void UseKeyring(std::unique_ptr<TKeyring> keyring) { Keyring = std::move(keyring); }

    // Loads the stored settings, applies the command line, asks the keyring for the saved
    // password and arms the automatic connection, which waits for the keyring's answer;
    // after a command-line error shows it, closes this window and returns false.
    bool LoadStartupSettings(const std::string &commandLine);

    // Puts this window, the log window and the splitter where the last run left them, on a
    // screen that is there; without a stored place, the default size in the middle of the
    // primary screen. Closing the window stores them (SavePlacement).
    void RestorePlacement();
    void SavePlacement();

    // Opens the session with the connect dialog's settings, then offers to finish the batch
    // that did not finish on this site (OfferUnfinishedBatch).
    virtual void ConnectToHost();
    // "4 files of the last download were not transferred: Finish now?": Yes goes to its PC
    // folder and subvolume and runs the files left; No forgets the batch.
    void OfferUnfinishedBatch();
    std::string BatchMemoryPath() const;        // the unfinished batch's file, beside the settings

    // One line for the log (the controller's Log): level 1 also goes to the status bar;
    // the log window takes lines whose level is not above the configured LogLevel.
    void Log(int level, const std::string &text) override;

    // Replaces the PC filter ("description|patterns|..."); empty keeps the built-in one.
    void SetFilterPC(const std::string &filter);
    // Selects every item of the list, first to last, and scrolls to the top.
    static void SelectAll(QListWidget *list);

    // Menu and window handlers.
    // File > Connect: the connect dialog, then ConnectToHost; with a session open, first
    // offers to end it.
    void ConnectClick();
    void ConfigureClick();   // File > Configure: the configure dialog; OK applies and stores
    void DisconnectClick();  // File > Disconnect: QUIT, enabled while a session is open
    void ExitClick();        // File > Exit: close, which ends the program
    void AboutClick();       // Help > About: the about box, modal
    void LogWindowClick();   // File > Log Window, or a double click on the status bar
    // File > Send Command: one line for the host, its reply in the log window (opened).
    void SendCommandClick();
    void FormPaint();        // starts the automatic connection at the first paint
    // F5: Refresh of the side holding the focus; of both when neither does.
    void RefreshFocusedList();
    // F6: from the PC side to the Tandem list (while it takes input), else to the PC list.
    void SwitchList();

    // Handlers of the "Tandem" group (the logic is the controller's).
    void ComboBoxTanSubvolDropDown();
    void ComboBoxTanSubvolChange();
    void ComboBoxTanSubvolExit();
    bool ComboBoxTanSubvolKeyPress(char key);
    void ComboBoxTanFilterChange();
    void BtnRefreshTandemClick();
    void ListBoxTanFilesKeyPress(char key);

    // File operations on both sides, and Help > Help (MainWindowFileOps.cpp).
    void BtnDeleteTandemClick();  // delete the selected host files
    void BtnRenameTandemClick();  // rename the selected host files one by one
    void BtnDeletePCClick();      // delete the selected PC files
    void BtnRenamePCClick();      // rename the selected PC files one by one
    void BtnMkDirPCClick();       // create a PC folder
    void BtnRmDirPCClick();       // remove the PC folder highlighted in the folder list
    void Help1Click();            // the help window, modal, destroyed after it closes
    // The one-line prompt dialog, owned by this window, through the message seam.
    bool PromptUser(const std::string &caption, const std::string &prompt, std::string *value) override;
    // The question before a delete, Yes or No, through the message seam.
    bool AskYesNo(const std::string &caption, const std::string &text) override;

    // Transfers (MainWindowTransfers.cpp).
    void BtnDownloadClick();       // downloads the selected remote files
    void DownloadLines(const std::vector<std::string> &lines); // the download batch, while Download may act
    void BtnUploadClick();         // uploads the selected PC files; nothing without a selection
    void ListBoxTanFilesTrgDrop(TDragFilesTrg *sender); // uploads files dropped on the remote list
    void UploadFiles(const std::vector<std::string> &paths); // the upload batch
    void BtnRefreshPCClick();      // re-reads the PC file list
    void FileListBoxPCKeyUp(int key, Qt::KeyboardModifiers modifiers); // Ctrl+A selects all
    void FTPCLIProgress(TCustomFtpCli *sender, qint64 count, bool &abort); // progress to the dialog
    bool BatchRunning() const;     // a download or upload batch is running

    // Editing host files (MainWindowEdits.cpp).
    void BtnEditTandemClick();     // the selected remote file in the PC's editor
    void EditsItemClick();         // File > Edited Files
    void EditHostChanged(int id);  // the host file changed: overwrite, save as new name, or cancel
    bool ConfirmCloseWithEdits();  // edits whose text is not on the host: close anyway?
    TRemoteEdits &Edits() { return *Edits_; }
    TFormEdits *FormEdits = nullptr; // "Edited Files"
    // Compare and Synchronize (MainWindowCompare.cpp), over a connection of their own.
    void CompareClick();           // marks both lists by each file's state
    void SynchronizeClick();       // compares, then the preview dialog, then the run
    bool CancelFolderSync();       // the progress dialog's Cancel during a run; false when none runs

    // Runs a handler under the guard that shows its exceptions in the error box; once the
    // window is being destroyed (focus still moves then), no handler runs.
    template <typename Handler>
    void Guarded(Handler &&handler)
    {
        if (!Closing)
            RunGuarded(Messages, this, std::forward<Handler>(handler));
    }
    // A slot for connect(): the member handler, run under the guard.
    template <typename... Args>
    auto GuardedSlot(void (TFormMain::*handler)(Args...))
    {
        return [this, handler](Args... args) { Guarded([&] { (this->*handler)(args...); }); };
    }

    TSessionController &Session() { return *Session_; }
    TSettingsStore *SettingsStore() const { return Store.get(); }
    const Windows &Forms() const { return Forms_; }
    TUserMessages &UserMessages() { return Messages; }
    TSounds &Sounds() { return Sounds_; }

    // Session state of the window itself; the session's own flags are the controller's.
    bool AutoConnectPending = false;     // connect at the next paint; set once at start-up
    std::string FilterPC;                // the PC file list's filter text in force

    // Menu commands.
    QAction *ConnectItem;
    QAction *DisconnectItem;
    QAction *LogWindowItem;
    QAction *SendCommandItem;            // on while a session is open
    QAction *EditsItem;                  // File > Edited Files
    QAction *ConfigureItem;
    QAction *ExitItem;
    QAction *HelpItem;
    QAction *AboutItem;
    QAction *CompareItem;          // File > Compare (F7), enabled with the session
    QAction *SynchronizeItem;      // File > Synchronize... (Shift+F7), enabled with the session

    // The three groups, each with its controls by their names.
    QSplitter *SplitterGroups;       // the groups side by side; moves the width between the sides
    TLocalPCGroup *GroupBoxPC;       // "Local PC", always enabled
    TTransferGroup *GroupBoxMode;    // "Transfer", enabled while a session is open
    TTandemGroup *GroupBoxTandem;    // "Tandem", its controls enabled while a session is open

    // Status bar panels: level 1 messages, and the remote file count.
    QLabel *StatusMessage;
    QLabel *StatusCount;
    QLabel *StatusLock;            // the lock: shown while the session is encrypted

    TDragFilesTrg *ListBoxTanFilesTrg; // takes files dropped on ListBoxTanFiles

protected:
    void paintEvent(QPaintEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override; // F5 (MainWindowKeys.cpp)
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void CreateMenus();
    void CreateGroups();
    void CreateStatusBar();
    void ChainTabOrder();          // Tab group by group; F6 between the lists
    void WireTandemGroup();
    void WireFileOperationsAndHelp();
    TFileOperationViews FileOperationViews();  // this window's side of the file operations
    void WireConfigure();          // File > Configure
    void WireTransfers();          // buttons, keys, drops and progress of the transfers
    void WireKeys();               // F1, F2, F4, F5, Delete, Enter, Ctrl+Q (MainWindowKeys.cpp)
    void WireEdits();              // the Edit button, its menu entry and the edits window
    void AttachTransferDialog();   // the progress dialog's Cancel and the progress reporter
    void WireCompare();            // Compare and Synchronize (MainWindowCompare.cpp)
    FolderSyncSetup CurrentSyncSetup(); // the session's settings, subvolume, transfer controls and filters
    bool StartFolderSync();        // a new comparison; false while one runs
    void MarkCompared();           // the comparison's states on the items of both lists
    void RunSync(std::vector<SyncAction> actions); // the ticked steps, behind the progress dialog

    // What LoadStartupSettings reaches in the windows.
    ConnectionSettings &HeldConnectionSettings() override;
    GeneralSettings &HeldGeneralSettings() override;
    void SetProxyControls(bool on) override;
    void ShowCommandLineError(const std::string &message) override;
    void SetAutoConnectPending(bool on) override;
    void CloseMainWindow() override;

    // What the session controller reaches in the window.
    void SetSessionControlsEnabled(bool on) override;
    void SetConnectCommandEnabled(bool on) override;
    void SetDisconnectCommandEnabled(bool on) override;
    void SetCaptions(const std::string &text) override;
    void AddLogLine(const std::string &text) override;
    bool IsClosing() const override { return Closing; }
    void SetStatusMessage(const std::string &text) override;
    void SetFileCount(const std::string &text) override;
    void SetEncryptionLock(const std::string &text) override;
    TTrustAnswer AskTrust(const TCertificateQuestion &question) override;
    TPlainAnswer AskPlainLogin(const std::string &host) override;
    void Simple(const std::string &text) override;
    void ErrorDialog(const std::string &text) override;

    // What the host file operations reach of the session and the log window.
    bool IsConnected() const override;
    bool ListTandemFiles() override;
    int LogLevel() const override;
    void ClearLog() override;

    TUserMessages &Messages;                     // message boxes
    TSounds &Sounds_;                            // system sounds
    QString StorePath;                           // the settings file, named by the password note
    std::unique_ptr<TSettingsStore> Store;       // open for the window's life; null without one
    std::unique_ptr<TKeyring> Keyring;           // saved passwords; gone before the store and dialogs
    std::unique_ptr<TSessionController> Session_; // the FTP client and the session logic
    std::unique_ptr<TRemoteEdits> Edits_;        // host files in the PC's editor; own connection
    Windows Forms_;                              // the other long-lived windows
    class TTransferSide;                         // the batches' view of this window
    std::unique_ptr<TTransferSide> Transfers_;   // made with the window
    std::unique_ptr<TFolderSync> FolderSync_;    // the running comparison or synchronization
    bool Closing = false;                        // destruction has begun
};
