#pragma once
// The real main window, built as the program builds it, connected to the NonStop-style
// server (tools/guardian-ftpd) on a free loopback port. Message boxes and sounds are
// recorded (RecordingSeams.h); the PC side works in a temporary folder.
//
//   class MyWindowTest : public MainWindowFixture {};
//   TEST_F(MyWindowTest, something) {
//       ASSERT_TRUE(Connect());                  // AutoConnect as tools/dev.sh start does
//       SelectRemote({"PROGC"});
//       Click(form->GroupBoxMode->BtnDownload);
//       EXPECT_TRUE(QFile::exists(PcPath("PROG.C")));
//   }
#include "support/FtpServers.h"
#include "support/MemoryKeyring.h"
#include "ui/RecordingSeams.h"
#include "ui/MainWindow.h"

#include <gtest/gtest.h>
#include <QTemporaryDir>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QAbstractButton;
class QListWidget;

class MainWindowFixture : public testing::Test {
public:
    // The subvolume the session starts in, and a second one (holding OTHERC) to change to.
    static constexpr const char *kHome = "$DATA01.ZDEMO";
    static constexpr const char *kOther = "$DATA01.ZOTHER";
    // The sample subvolume: name, file code (PROGC 101, PROGH 101, MYOBJ 100, TOOLO 700,
    // CUSTDATA 0, LOG01 180), in the server's order.
    static const std::vector<std::pair<std::string, int>> &SampleFiles();

protected:

    // Starts the server with the sample files (SampleFiles) and builds the windows.
    void SetUp() override;
    // Replaces the server by one on ::1 with the same files (the caller skips the test when
    // the machine has no IPv6 on loopback).
    void MoveServerToIpv6();
    void PutSampleFiles();                        // SampleFiles in kHome, OTHERC in kOther
    // Destroys the windows first, then stops the server.
    void TearDown() override;

    // Builds the main window and the other windows in the program's order (again, after
    // DestroyWindow); `storeText` is written to the settings store first when not empty.
    void CreateWindow(const QByteArray &storeText = {});
    void DestroyWindow();

    // Connects as the demo does: the command line with the server's address, user,
    // password and kHome, AutoConnect, plus `extra`; shows the window and waits until the
    // session is open and listed. False (with the messages shown) when it is not. Transfers
    // overwrite without asking unless `extra` holds "WhenFileExists Ask".
    bool Connect(const std::string &extra = "");
    // The command line Connect uses, without AutoConnect (with Encryption None).
    std::string ServerCommandLine() const;

    // ---- The remote side ----
    // A file in the server's store: subvolume "$VOL.SUB", Guardian name, file code, content.
    void PutRemoteFile(const std::string &subvol, const std::string &name, int fileCode,
                       const QByteArray &content);
    std::string RemotePath(const std::string &subvol, const std::string &name) const;
    // The remote list's lines and the names in them, in list order.
    QStringList RemoteLines() const;
    QStringList RemoteNames() const;
    // Selects exactly the remote lines with these names (fails the test on an unknown one).
    void SelectRemote(const QStringList &names);

    // ---- The PC side (the current folder is a temporary one) ----
    void PutPcFile(const QString &name, const QByteArray &content);
    QString PcPath(const QString &name) const;
    QStringList PcNames() const;                  // FileListBoxPC's names, in list order
    void SelectPc(const QStringList &names);      // selects exactly these names

    // ---- Acting and looking ----
    void Click(QAbstractButton *button);          // a user's click (nothing if disabled)
    QString StatusText() const;                   // status bar, first panel
    QString CountText() const;                    // status bar, second panel
    QString LogText() const;                      // the log window's lines
    // Runs the event loop until `done` holds or 20 s pass; returns `done()`.
    static bool WaitUntil(const std::function<bool()> &done);
    // Waits until no FTP request is running.
    bool WaitUntilIdle();

    std::unique_ptr<zarvel::test::FtpServerProcess> server;
    QTemporaryDir pcDir;                          // the PC folder shown
    QTemporaryDir configDir;                      // holds the settings store
    TMemoryKeyring keyring;                       // lent to every window the test builds
    // Makes the windows built from now on use the desktop keyring instead of `keyring`.
    bool useSystemKeyring = false;
    RecordedMessages messages;
    RecordedSounds sounds;
    std::unique_ptr<TFormMain> form;
    TFormMain::Windows windows;

private:
    QString savedFolder_;                         // the process's folder before the test
};
