#include "support/FtpScriptPeer.h"

#include <QCoreApplication>
#include <QFile>
#include <QSslKey>
#include <QSslSocket>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>
#include <gtest/gtest.h>

bool StartServerTls(QSslSocket *Socket, const QString &CertFile, const QString &KeyFile)
{
    QFile Cert(CertFile), Key(KeyFile);
    if (!Socket || !Cert.open(QIODevice::ReadOnly) || !Key.open(QIODevice::ReadOnly))
        return false;
    Socket->setLocalCertificate(QSslCertificate(Cert.readAll()));
    Socket->setPrivateKey(QSslKey(Key.readAll(), QSsl::Ec));
    Socket->setPeerVerifyMode(QSslSocket::VerifyNone);
    Socket->startServerEncryption();
    return true;
}

void FtpScriptServer::SetTls(const QString &CertFile, const QString &KeyFile)
{
    FCertFile = CertFile;
    FKeyFile = KeyFile;
}

void FtpScriptServer::incomingConnection(qintptr Handle)
{
    auto *Socket = new QSslSocket(this);
    if (!Socket->setSocketDescriptor(Handle)) {
        delete Socket;
        return;
    }
    if (!FCertFile.isEmpty() && !StartServerTls(Socket, FCertFile, FKeyFile))
        ADD_FAILURE() << "scripted peer: cannot start TLS";
    addPendingConnection(Socket);
}

FtpScriptPeer &FtpScriptPeer::StartTls(const QString &CertFile, const QString &KeyFile)
{
    return Then([CertFile, KeyFile](FtpScriptPeer &P, std::function<void()> Next) {
        auto *Ssl = qobject_cast<QSslSocket *>(P.FControl);
        if (Ssl)
            QObject::connect(Ssl, &QSslSocket::encrypted, &P, [Next] { Next(); }, Qt::SingleShotConnection);
        if (!StartServerTls(Ssl, CertFile, KeyFile))
            ADD_FAILURE() << "scripted peer: cannot start TLS";
    });
}

FtpScriptPeer::FtpScriptPeer(const QHostAddress &Address) : FAddress(Address)
{
    connect(&FServer, &QTcpServer::newConnection, this, [this] { OnNewConnection(); });
    if (!FServer.listen(Address, 0))
        ADD_FAILURE() << "scripted peer cannot listen: " << FServer.errorString().toStdString();
}

FtpScriptPeer::~FtpScriptPeer()
{
    *FAlive = false;
    if (!FAllowUnfinished && !Finished())
        ADD_FAILURE() << "scripted peer: " << FSteps.size() + (FRunning ? 1 : 0)
                      << " step(s) of the dialogue never ran; commands seen: "
                      << FCommands.join(" | ").toStdString();
    if (FControl) {
        FControl->disconnect(this);
        FControl->abort();
    }
}

quint16 FtpScriptPeer::Port() const
{
    return FServer.serverPort();
}

FtpScriptPeer &FtpScriptPeer::Send(const QByteArray &Bytes)
{
    return Then([Bytes](FtpScriptPeer &P, std::function<void()> Next) {
        P.Write(Bytes);
        Next();
    });
}

FtpScriptPeer &FtpScriptPeer::SendSplit(const QByteArray &Bytes, int PieceSize, int GapMs)
{
    for (int at = 0; at < Bytes.size(); at += PieceSize) {
        if (at > 0)
            Delay(GapMs);
        Send(Bytes.mid(at, PieceSize));
    }
    return *this;
}

FtpScriptPeer &FtpScriptPeer::Expect(const QByteArray &Line)
{
    return Then([Line](FtpScriptPeer &P, std::function<void()> Next) {
        P.FLineWaiter = [Line, Next](const QByteArray &Got) {
            EXPECT_EQ(Got.toStdString(), Line.toStdString()) << "scripted peer: unexpected command";
            Next();
        };
        P.DeliverLines();
    });
}

FtpScriptPeer &FtpScriptPeer::ExpectPrefix(const QByteArray &Prefix)
{
    return Then([Prefix](FtpScriptPeer &P, std::function<void()> Next) {
        P.FLineWaiter = [Prefix, Next](const QByteArray &Got) {
            EXPECT_TRUE(Got.startsWith(Prefix))
                << "scripted peer: expected a command starting with \"" << Prefix.toStdString()
                << "\", got \"" << Got.toStdString() << "\"";
            Next();
        };
        P.DeliverLines();
    });
}

FtpScriptPeer &FtpScriptPeer::Delay(int Ms)
{
    return Then([Ms](FtpScriptPeer &P, std::function<void()> Next) {
        std::weak_ptr<bool> alive = P.FAlive;
        QTimer::singleShot(Ms, &P, [alive, Next] {
            if (auto a = alive.lock(); a && *a)
                Next();
        });
    });
}

FtpScriptPeer &FtpScriptPeer::Close()
{
    return Then([](FtpScriptPeer &P, std::function<void()> Next) {
        if (P.FControl) {
            P.FControl->flush();
            P.FControl->disconnectFromHost();
        }
        Next();
    });
}

FtpScriptPeer &FtpScriptPeer::ExpectClose()
{
    return Then([](FtpScriptPeer &P, std::function<void()> Next) {
        if (P.FClientClosed) {
            Next();
            return;
        }
        P.FCloseWaiter = Next;
    });
}

FtpScriptPeer &FtpScriptPeer::Then(Action Step)
{
    FSteps.push_back(std::move(Step));
    // Steps added after the client connected and the script ran dry start at once.
    if (FControl && !FRunning)
        QTimer::singleShot(0, this, [this] { if (!FRunning) RunNext(); });
    return *this;
}

FtpScriptPeer &FtpScriptPeer::AllowUnfinished()
{
    FAllowUnfinished = true;
    return *this;
}

bool FtpScriptPeer::WaitFinished(int Ms)
{
    // The overload of processEvents with a time limit drops WaitForMoreEvents and would spin:
    // sleep in the loop instead, woken by the next event or a short timer.
    QDeadlineTimer deadline(Ms);
    while (!Finished() && !deadline.hasExpired()) {
        QTimer Wake;
        Wake.setSingleShot(true);
        Wake.start(20);
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return Finished();
}

void FtpScriptPeer::OnNewConnection()
{
    while (QTcpSocket *s = FServer.nextPendingConnection()) {
        ++FConnections;
        if (FControl) {
            FControl->disconnect(this);
            FControl->deleteLater();
        }
        FControl = s;
        FClientClosed = false;
        FInput.clear();
        connect(s, &QTcpSocket::readyRead, this, [this] { OnReadyRead(); });
        connect(s, &QTcpSocket::disconnected, this, [this, s] {
            if (s != FControl)
                return;
            FClientClosed = true;
            if (auto w = std::exchange(FCloseWaiter, nullptr))
                w();
        });
        if (!FRunning)
            RunNext();
    }
}

void FtpScriptPeer::OnReadyRead()
{
    FInput += FControl->readAll();
    for (;;) {
        int lf = FInput.indexOf('\n');
        if (lf < 0)
            break;
        QByteArray line = FInput.left(lf + 1);
        FInput.remove(0, lf + 1);
        EXPECT_TRUE(line.endsWith("\r\n")) << "scripted peer: command not ended by CR LF: "
                                           << line.toStdString();
        while (line.endsWith('\n') || line.endsWith('\r'))
            line.chop(1);
        FCommands.append(line);
        FPendingLines.push_back(line);
    }
    DeliverLines();
}

void FtpScriptPeer::DeliverLines()
{
    // A line may come before the Expect step that waits for it has started (both ends share
    // one event loop); it waits here. Lines left when the script has ended were unexpected.
    while (!FPendingLines.empty()) {
        if (FLineWaiter) {
            QByteArray line = FPendingLines.front();
            FPendingLines.pop_front();
            std::exchange(FLineWaiter, nullptr)(line);
        } else if (Finished()) {
            ADD_FAILURE() << "scripted peer: command \"" << FPendingLines.front().toStdString()
                          << "\" arrived after the end of the script";
            FPendingLines.pop_front();
        } else {
            break;
        }
    }
}

void FtpScriptPeer::RunNext()
{
    if (FSteps.empty()) {
        FRunning = false;
        DeliverLines();
        return;
    }
    FRunning = true;
    Action step = std::move(FSteps.front());
    FSteps.pop_front();
    auto done = std::make_shared<bool>(false);
    std::weak_ptr<bool> alive = FAlive;
    step(*this, [this, done, alive] {
        auto a = alive.lock();
        if (!a || !*a || *done)
            return;
        *done = true;
        // Continue from the loop, so a step never runs inside the one before it.
        QTimer::singleShot(0, this, [this] { RunNext(); });
    });
}

void FtpScriptPeer::Write(const QByteArray &Bytes)
{
    if (!FControl) {
        ADD_FAILURE() << "scripted peer: no connection to send on";
        return;
    }
    FControl->write(Bytes);
    FControl->flush();
}
