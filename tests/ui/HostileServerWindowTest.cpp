// What a hostile server can make the window do: names that would replace hidden PC files or
// deceive the eye, texts that would become live links, and a listing that never ends. The
// scripted peer plays the server.
#include "ui/ScriptedWindowFixture.h"
#include "ui/LocalPCGroup.h"
#include "ui/PromptDialog.h"
#include "ui/TandemGroup.h"
#include "ui/TransferGroup.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

namespace {

class HostileServerWindowTest : public ScriptedWindowFixture {};

std::string ListingLineNameOf(const std::vector<std::string> &lines)
{
    return lines.size() == 1 ? lines[0].substr(0, lines[0].find(' ')) : std::string("<not one line>");
}

// Select all + Download in the home folder must not replace .bashrc or .profile, which the PC
// list does not show; the reason is in the log, the failures in the summary.
TEST_F(HostileServerWindowTest, dotNamesInAListingAreRefusedAndHiddenPcFilesStay)
{
    UsePeer("int LogLevel=0\n");
    PutPcFile(".bashrc", "mine");
    ASSERT_TRUE(ConnectToListing(QByteArray::fromStdString(ScriptedLine(".bashrc", 101, 9) + "\r\n" +
                                                           ScriptedLine(".profile", 101, 9) + "\r\n")));
    const qsizetype commandsBefore = peer.Commands().size();
    form->GroupBoxTandem->ListBoxTanFiles->selectAll();
    Click(form->GroupBoxMode->BtnDownload);
    EXPECT_EQ(peer.Commands().size(), commandsBefore) << "nothing asked of the server";

    EXPECT_EQ(StatusText(), "0 file(s) downloaded successfully. Failed to download 2 file(s)"
                            " - the failed files are listed in File > Log Window");
    EXPECT_TRUE(LogText().contains(".bashrc not downloaded: a host file name never starts with a period, "
                                   "and \".bashrc\" would be a hidden PC file"))
        << LogText().toStdString();
    QFile kept(PcPath(".bashrc"));
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), "mine");
    EXPECT_FALSE(QFile::exists(PcPath(".profile")));
}

// A 530 reply with markup must not become a heading and a live link, in the error box or
// in the status bar.
TEST_F(HostileServerWindowTest, serverTextWithMarkupShowsAsPlainTextInBoxAndStatusBar)
{
    UsePeer("int LogLevel=0\n");
    const QByteArray reply = "530 <h1>Locked</h1><a href=\"https://evil.example/\">Click here to reset your "
                             "NonStop password</a>";
    // While the client quits, the status bar holds the server's text.
    QString statusText;
    Qt::TextFormat statusFormat = Qt::AutoText;
    peer.Send("220 hi\r\n").Reply("USER u", "331 pw\r\n").Reply("PASS p", reply + "\r\n").Expect("QUIT");
    peer.Then([&](FtpScriptPeer &, std::function<void()> next) {
        statusText = form->StatusMessage->text();
        statusFormat = form->StatusMessage->textFormat();
        next();
    });
    peer.Send("221 bye\r\n");
    EXPECT_FALSE(form->Session().ConnectToHost());
    ASSERT_EQ(messages.shown.size(), 1);
    EXPECT_TRUE(statusText.contains("<a href=")) << statusText.toStdString();
    EXPECT_EQ(statusFormat, Qt::PlainText);

    // The box itself, as the program shows it.
    Qt::TextFormat format = Qt::AutoText;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            format = box->textFormat();
            box->accept();
        }
    });
    poll.start(10);
    TUserMessages().ErrorDialog(form.get(), messages.shown.first().section(": ", 1));
    EXPECT_EQ(format, Qt::PlainText);
}

// A right-to-left override makes "EVIL<U+202E>gpj.exe" look like "EVILexe.jpg": lists and
// dialogs show the character as its code, and the name still acts as itself.
TEST_F(HostileServerWindowTest, bidirectionalControlsInNamesShowAsTheirCodes)
{
    UsePeer("int LogLevel=0\n");
    const std::string name = "EVIL\xe2\x80\xaegpj.exe";
    PutPcFile(QString::fromStdString(name), "x");
    ASSERT_TRUE(ConnectToListing(QByteArray::fromStdString(ScriptedLine(name.c_str(), 0, 4) + "\r\n")));

    EXPECT_TRUE(RemoteNames().value(0).startsWith("EVIL\\u202Egpj.exe")) << RemoteNames().value(0).toStdString();
    form->GroupBoxTandem->ListBoxTanFiles->selectAll();
    EXPECT_EQ(ListingLineNameOf(form->GroupBoxTandem->SelectedLines()), name) << "the bytes act, not the text shown";

    Click(form->GroupBoxPC->BtnRefreshPC);
    EXPECT_TRUE(PcNames().contains("EVIL\\u202Egpj.exe")) << PcNames().join(";").toStdString();
    SelectPc({"EVIL\\u202Egpj.exe"});
    EXPECT_EQ(form->GroupBoxPC->SelectedNames(), std::vector<std::string>{name});

    const TFormPrompt prompt(form.get(), "Delete " + QString::fromStdString(name) + "?", nullptr);
    EXPECT_EQ(prompt.LabelPrompt->text(), "Delete EVIL\\u202Egpj.exe?");
}

// One byte every few seconds keeps a listing alive for ever: after a few seconds the status
// bar says it runs and how to stop it, and Disconnect stops it at once.
TEST_F(HostileServerWindowTest, endlessListingSaysSoAndDisconnectEndsIt)
{
    UsePeer("int LogLevel=0\n");
    ASSERT_TRUE(ConnectToListing(QByteArray::fromStdString(ScriptedLine("PROGC", 101, 10) + "\r\n")));
    data.ExpectPort();
    peer.Expect("LIST").Send("150 listing\r\n");
    data.Open().SendSplit(QByteArray(200, 'x'), 1, 1500);
    peer.AllowUnfinished();

    bool noticed = false;
    QElapsedTimer running;
    running.start();
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (!noticed && StatusText().contains("Esc or File > Disconnect cancels")) {
            noticed = true;
            form->DisconnectItem->trigger();
        } else if (running.elapsed() > 15000) {
            form->Session().AbortTransfer(); // no notice, or Disconnect did nothing: end the wait
        }
    });
    watch.start(50);
    Click(form->GroupBoxTandem->BtnRefreshTandem);
    watch.stop();

    EXPECT_TRUE(noticed) << StatusText().toStdString();
    EXPECT_LT(running.elapsed(), 15000) << "Disconnect did not end the listing";
    EXPECT_FALSE(form->Session().Connected);
}

} // namespace
