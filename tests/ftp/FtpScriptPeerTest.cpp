// The scripted peer itself: a dialogue runs in order, and a command the script does not expect
// fails the test that runs it.
#include "support/FtpScriptPeer.h"

#include <QCoreApplication>
#include <QTcpSocket>
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

namespace {

QByteArray ReadSome(QTcpSocket &s, int atLeast)
{
    QByteArray got;
    for (int i = 0; i < 200 && got.size() < atLeast; ++i) {
        s.waitForReadyRead(20);
        QCoreApplication::processEvents();
        got += s.readAll();
    }
    return got;
}

TEST(FtpScriptPeer, PlaysDialogueInOrder)
{
    FtpScriptPeer peer;
    peer.Send("220 hi\r\n").Reply("USER u", "331 pw\r\n").SendSplit("230-a\r\n230 b\r\n", 3).Close();
    QTcpSocket c;
    c.connectToHost("127.0.0.1", peer.Port());
    ASSERT_TRUE(c.waitForConnected(2000));
    EXPECT_EQ(ReadSome(c, 8), "220 hi\r\n");
    c.write("USER u\r\n");
    EXPECT_EQ(ReadSome(c, 23), "331 pw\r\n230-a\r\n230 b\r\n");
    EXPECT_TRUE(peer.WaitFinished());
    EXPECT_EQ(peer.Commands(), QList<QByteArray>{"USER u"});
}

TEST(FtpScriptPeer, UnexpectedCommandFailsTheTest)
{
    EXPECT_NONFATAL_FAILURE(
        {
            FtpScriptPeer peer;
            peer.Send("220 hi\r\n").Expect("USER u");
            QTcpSocket c;
            c.connectToHost("127.0.0.1", peer.Port());
            c.waitForConnected(2000);
            ReadSome(c, 8);
            c.write("PASS x\r\n");
            peer.WaitFinished(2000);
        },
        "unexpected command");
}

} // namespace
