#pragma once
// The logic behind the main window: the FTP client and the session state, the connection's
// lifecycle, the log, and the remote subvolume browser. It sees the window only through the
// small interfaces of SessionViews.h, so it runs without a display.
//
// Files: SessionController.cpp holds the connection and the log; RemoteBrowser.cpp the
// subvolume, listing and filter operations and the subvolume box's handlers.
#include "ftp/FtpClient.h"
#include "session/ConnectionSettings.h"
#include "session/Encryption.h"
#include "session/HostCommand.h"
#include "session/LogSink.h"
#include "session/SessionViews.h"
#include "session/TandemFilter.h"

#include <QTimer>
#include <string>

// "State -> " and the name of the state, as the log shows a change of the client's state.
std::string StateChangeText(TFtpState state);

class TSessionController : public LogSink {
public:
    // The window's side; every pointer must outlive the controller.
    struct Views {
        TRemoteView *Remote = nullptr;
        TStatusPanels *Status = nullptr;
        TSessionWindow *Window = nullptr;
        TMessageBoxes *Messages = nullptr;
        TCertificatePrompt *Certificates = nullptr; // the trust dialog
        TPlainLoginPrompt *PlainLogin = nullptr;    // the question before a login in clear
    };

    // Creates and configures FTPCLI and wires its events to this controller.
    explicit TSessionController(const Views &views);
    // Unwires the client first: closing its sockets must not reach the window.
    ~TSessionController() override;
    TSessionController(const TSessionController &) = delete;
    TSessionController &operator=(const TSessionController &) = delete;

    // The settings held by the connect and configure dialogs, created after the main window.
    // Until they are given, nothing reaches the log window and ConnectToHost does nothing.
    void SetSettings(const ConnectionSettings *connection, const GeneralSettings *general);
    // Where certificates the user trusts are remembered; null remembers nothing.
    void SetTrustStore(TSettingsStore *store) { trustStore_ = store; }

    // ---- Connection ----
    // Connects and logs in with the connection settings, enters the initial subvolume and
    // switches the session controls on; on failure shows and logs the client's error text
    // and closes the client. Returns whether the session is open. Refused while a
    // connection is being made: the settings it started with stay in force until it ends.
    bool ConnectToHost();
    // Ends the session: QUIT, or while a request waits (a listing that never ends) an abort,
    // which closes the connection at once. The result is not examined.
    void DisconnectClick();
    // Switches the session controls and the Connected flag.
    void SetConnectedControls(bool on);
    // True while a request waits for the server (FtpClientBusy).
    bool ClientBusy() const;
    // Aborts the running operation (the progress dialog's Cancel); the client's result.
    bool AbortTransfer();
    // FTPCLI's OnSessionClosed: captions back to "Zarvel", controls off, "Disconnected".
    void FTPCLISessionClosed(TCustomFtpCli *sender, int error);
    // FTPCLI's OnVerifyCertificate: the remembered certificate, else the trust dialog.
    void FTPCLIVerifyCertificate(TCustomFtpCli *sender, const TTlsPeerInfo &peer, bool &accept);
    // FTPCLI's OnPlainLogin: a host remembered for TLS is refused, else "Always allow" or the question.
    void FTPCLIPlainLogin(TCustomFtpCli *sender, bool &allow, std::string &refusal);
    // FTPCLI's OnStateChange: the state's text at level 3; any activity restarts the
    // keep-alive interval.
    void FTPCLIStateChange(TCustomFtpCli *sender);

    // ---- Keep-alive ----
    // Starts the interval again from now (KeepAlive seconds), or stops it when the session is
    // closed or the interval is 0. Called on every activity and after the settings changed.
    void RestartKeepAlive();
    // The interval's end: sends NOOP when the session is idle (connected, no request running
    // or waited for, no batch), else only starts the interval again. A NOOP that fails ends
    // the session (the server's close or an abort), which reports "Disconnected". Returns
    // whether a NOOP was sent.
    bool KeepAliveTick();

    // ---- Log ----
    // Level 1 also replaces the status bar's first panel; the log window takes the text when
    // the level is not above LogLevel.
    void Log(int level, const std::string &text) override;
    // FTPCLI's OnDisplay: the FTP dialogue at level 2, unless the window is closing.
    void FTPMessage(TCustomFtpCli *sender, std::string &text);

    // Opens the lost session again with what it was opened with and enters the subvolume it
    // was in (leaving OSS as the first time); captions, lock and controls follow. Asks nothing:
    // a certificate other than the one this session accepted is refused. Whether it is open.
    bool Reconnect();

    // ---- File > Send Command ----
    // Sends what the user typed (HostCommandLine) as one command line; the command and its
    // whole reply go to the log window whatever the log level. A refused line, or a session
    // that cannot take it now, is said in the log and the status bar. Returns whether it was sent.
    bool SendHostCommand(const std::string &typed);

    // ---- Remote subvolume browser ----
    // Changes to the subvolume (CWD unless empty, then PWD), shows and remembers it, lists
    // it. Not forced, the subvolume shown (same letter case) is not entered again.
    bool ChangeSubvol(const std::string &subvol, bool forced);
    // Lists the current subvolume into the remote list through FTPFileList. A subvolume
    // without files (a 550 to LIST, or the heading alone) is an empty list, "0 File(s)" and
    // "No files in $VOL.SUBVOL", and counts as success.
    bool ListTandemFiles();
    // FTPCLI's OnDisplayFile during a listing: skips the heading, filters, counts.
    void FTPFileList(TCustomFtpCli *sender, std::string &line);
    // Parses and puts a filter definition in force; a refused one changes nothing.
    bool SetTandemFilter(const std::string &definition);

    // Handlers of the subvolume and filter boxes and the Tandem "Refresh".
    void ComboBoxTanSubvolDropDown();   // the history list was opened
    void ComboBoxTanSubvolChange();     // the text changed by typing or choosing
    void ComboBoxTanSubvolExit();       // focus left the box
    // A key typed in the box; returns true when it was Enter and was consumed.
    bool ComboBoxTanSubvolKeyPress(char key);
    void ComboBoxTanFilterChange();     // another filter chosen
    void BtnRefreshTandemClick();       // "Refresh" in the "Tandem" group

    // ---- State ----
    TFtpClient FTPCLI;                  // the one FTP session
    bool Connected = false;             // a session is open; set only by SetConnectedControls
    bool Connecting = false;            // ConnectToHost is on the stack
    bool SessionEnded = false;          // the session closed since ConnectToHost connected
    bool SubvolEdited = false;          // the subvolume text was typed since the last change
    bool SubvolDroppedDown = false;     // the history list was opened since the last change
    bool GuardianRefused = false;       // the host refused QUOTE GUARDIAN this session
    bool Reconnecting = false;          // Reconnect is on the stack
    std::string SessionCaptionText;     // the caption while this session is open
    std::string SessionFingerprint;     // the certificate this session accepted; empty: plain
    int ListedLines = 0;                // lines received in the current listing
    int ShownFiles = 0;                 // lines added to the list in the current listing
    int UnshownFiles = 0;               // lines past MaxListedFiles in the current listing
    // The list keeps at most this many files of one listing: a server that lists without
    // end would otherwise take all memory. Far more than a subvolume holds.
    static constexpr int MaxListedFiles = 200000;
    // A listing that takes longer than this says in the status bar that it runs, and how to
    // cancel it; and again each time this passes.
    static constexpr int ListingNoticeMs = 2000;
    QTimer ListingNotice;               // repeats while a listing runs
    TandemFilterList TandemFilters;     // the file-code filters in force
    bool BatchRunning = false;          // a download or upload batch runs: no keep-alive
    QTimer KeepAliveTimer;              // single shot: the end of the idle interval
    THostCommand HostCommand{FTPCLI};   // File > Send Command's line in flight

private:
    void SetConnecting(bool on);        // Connecting, and File > Connect with it
    void SetSessionCommands();          // File > Connect and Disconnect as the flags allow
    bool RefuseWhileBusy();             // logs the client's refusal when ClientBusy
    std::string TlsHost() const;        // whose certificate and TLS answers: the proxy's with a proxy
    bool EnterSubvol(const std::string &subvol); // CWD (unless empty) and PWD
    // PWD answered a path: the account started in the OSS file system. QUOTE GUARDIAN, said
    // in the log; true when the host took it. A refusal is said clearly, once a session.
    bool LeaveOss();

    Views views_;
    const ConnectionSettings *connection_ = nullptr; // the connect dialog's
    const GeneralSettings *general_ = nullptr;       // the configure dialog's
    TSettingsStore *trustStore_ = nullptr;           // remembered certificates and TLS answers
    bool userDeclined_ = false;                      // this connection ended at the user's own No or Cancel
};
