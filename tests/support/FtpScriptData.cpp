#include "support/FtpScriptData.h"

#include <QFile>
#include <QSslKey>
#include <QSslSocket>
#include <QTimer>
#include <sys/socket.h>
#include <unistd.h>
#include <cerrno>
#include <gtest/gtest.h>

FtpScriptData::FtpScriptData(FtpScriptPeer &Peer) : FPeer(Peer)
{
    connect(&FListener, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *s = FListener.nextPendingConnection())
            Adopt(s);
        if (auto w = std::exchange(FConnectedWaiter, nullptr))
            w();
    });
}

FtpScriptData::~FtpScriptData()
{
    FNativeReadable.reset();
    if (FNative >= 0)
        ::close(FNative);
    if (FData) {
        FData->disconnect(this);
        FData->abort();
    }
}

void FtpScriptData::Adopt(QTcpSocket *Socket)
{
    ++FDataConnections;
    if (FData) {
        FData->disconnect(this);
        FData->deleteLater();
    }
    FData = Socket;
    FData->setParent(this);
    FClientClosed = false;
    connect(FData, &QTcpSocket::readyRead, this, [this, Socket] { FReceived += Socket->readAll(); });
    connect(FData, &QTcpSocket::disconnected, this, [this, Socket] {
        if (Socket != FData)
            return;
        FReceived += Socket->readAll();
        EndOfStream();
    });
    if (FWatchReset) {
        // Taken before the event loop lets Qt read a byte (or the reset) from it.
        if (Socket->state() == QAbstractSocket::ConnectedState)
            TakeNative(Socket);
        else
            connect(Socket, &QTcpSocket::connected, this, [this, Socket] { TakeNative(Socket); });
    }
}

FtpScriptData &FtpScriptData::WatchForReset()
{
    FWatchReset = true;
    return *this;
}

void FtpScriptData::TakeNative(QTcpSocket *Socket)
{
    if (Socket != FData)
        return;
    FReceived += Socket->readAll();
    FNativeReadable.reset();
    if (FNative >= 0)
        ::close(FNative);
    // The duplicate keeps the connection open when Qt lets its own descriptor go.
    FNative = ::dup(int(Socket->socketDescriptor()));
    // Only the reading handlers go: a step may still wait for this socket's connected signal.
    disconnect(Socket, &QTcpSocket::readyRead, this, nullptr);
    disconnect(Socket, &QTcpSocket::disconnected, this, nullptr);
    disconnect(Socket, &QTcpSocket::errorOccurred, this, nullptr);
    Socket->abort();
    FClientReset = false;
    FNativeReadable = std::make_unique<QSocketNotifier>(FNative, QSocketNotifier::Read);
    connect(FNativeReadable.get(), &QSocketNotifier::activated, this, [this] { ReadNative(); });
}

void FtpScriptData::ReadNative()
{
    char chunk[65536];
    for (;;) {
        const ssize_t n = ::recv(FNative, chunk, sizeof chunk, MSG_DONTWAIT);
        if (n > 0) {
            FReceived.append(chunk, int(n));
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            return;
        FClientReset = n < 0 && errno == ECONNRESET;
        FNativeReadable->setEnabled(false);
        EndOfStream();
        return;
    }
}

void FtpScriptData::EndOfStream()
{
    FClientClosed = true;
    if (auto w = std::exchange(FClosedWaiter, nullptr))
        w();
}

FtpScriptData &FtpScriptData::ExpectPasv(const QByteArray &AddressNumbers)
{
    if (!FRefuseEpsv) {
        FPeer.Expect("EPSV");
        FPeer.Then([this](FtpScriptPeer &P, std::function<void()> Next) {
            if (!FListener.isListening() && !FListener.listen(P.Address(), 0))
                ADD_FAILURE() << "scripted data peer cannot listen";
            P.Control()->write("229 Entering Extended Passive Mode (|||" + QByteArray::number(FListener.serverPort()) +
                               "|)\r\n");
            Next();
        });
        return *this;
    }
    if (!FEpsvRefused) {
        FEpsvRefused = true;
        FPeer.Reply("EPSV", "500 'EPSV': command not understood.\r\n");
    }
    FPeer.Expect("PASV");
    FPeer.Then([this, AddressNumbers](FtpScriptPeer &P, std::function<void()> Next) {
        if (!FListener.isListening() && !FListener.listen(P.Address(), 0))
            ADD_FAILURE() << "scripted data peer cannot listen";
        const quint16 port = FListener.serverPort();
        P.Control()->write("227 Entering Passive Mode (" + AddressNumbers + "," + QByteArray::number(port >> 8) +
                           "," + QByteArray::number(port & 0xFF) + ").\r\n");
        Next();
    });
    return *this;
}

FtpScriptData &FtpScriptData::ExpectPort(bool ConnectFirst)
{
    FPeer.ExpectPrefix("PORT ");
    FPeer.Then([this](FtpScriptPeer &P, std::function<void()> Next) {
        FPortLine = P.LastCommand();
        const QList<QByteArray> parts = FPortLine.mid(5).split(',');
        if (parts.size() == 6)
            FActivePort = quint16(parts[4].toInt() * 256 + parts[5].toInt());
        else
            ADD_FAILURE() << "scripted data peer: bad PORT line " << FPortLine.toStdString();
        Next();
    });
    if (ConnectFirst) {
        Open();
        FPeer.Delay(50);  // the client sees the connection well before the reply
    }
    FPeer.Send("200 PORT command successful.\r\n");
    return *this;
}

FtpScriptData &FtpScriptData::ExpectEprt(const QByteArray &Refusal)
{
    FPeer.ExpectPrefix("EPRT |2|");
    FPeer.Then([this](FtpScriptPeer &P, std::function<void()> Next) {
        FPortLine = P.LastCommand();
        const QList<QByteArray> parts = FPortLine.mid(5).split('|');
        // "|2|address|port|" splits into "", "2", address, port, ""
        if (parts.size() == 5 && !QHostAddress(QString::fromLatin1(parts[2])).isNull()) {
            FActiveAddress = QHostAddress(QString::fromLatin1(parts[2]));
            // A mapped address is reached over IPv4, so a stranger bound to 127.0.0.2 can try it too.
            bool mapped = false;
            const quint32 v4 = FActiveAddress.toIPv4Address(&mapped);
            if (mapped)
                FActiveAddress = QHostAddress(v4);
            FActivePort = quint16(parts[3].toInt());
        } else {
            ADD_FAILURE() << "scripted data peer: bad EPRT line " << FPortLine.toStdString();
        }
        Next();
    });
    FPeer.Send(Refusal.isEmpty() ? QByteArray("200 EPRT command successful.\r\n") : Refusal + "\r\n");
    return *this;
}

FtpScriptData &FtpScriptData::Open()
{
    FPeer.Then([this](FtpScriptPeer &, std::function<void()> Opened) {
        // With TLS the connection is open once its handshake is done.
        auto Next = [this, Opened] {
            auto *Ssl = qobject_cast<QSslSocket *>(FData);
            if (FCertFile.isEmpty() || !Ssl || Ssl->isEncrypted()) {
                Opened();
                return;
            }
            QObject::connect(Ssl, &QSslSocket::encrypted, this, [Opened] { Opened(); }, Qt::SingleShotConnection);
            if (Ssl->mode() == QSslSocket::UnencryptedMode && !StartServerTls(Ssl, FCertFile, FKeyFile))
                ADD_FAILURE() << "scripted data peer: cannot start TLS";
        };
        if (FActivePort != 0) {
            auto *s = new QSslSocket(this);
            Adopt(s);
            ++FTaken;
            auto failed = connect(s, &QTcpSocket::errorOccurred, this, [s](QAbstractSocket::SocketError) {
                ADD_FAILURE() << "scripted data peer cannot connect: " << s->errorString().toStdString();
            });
            connect(s, &QTcpSocket::connected, this, [this, failed, Next] {
                disconnect(failed);  // later errors are the client's close, not a failed connect
                Next();
            });
            s->connectToHost(FActiveAddress, FActivePort);
            return;
        }
        if (FDataConnections > FTaken) {
            ++FTaken;
            Next();
            return;
        }
        FConnectedWaiter = [this, Next] {
            ++FTaken;
            Next();
        };
    });
    return *this;
}

FtpScriptData &FtpScriptData::Send(const QByteArray &Bytes)
{
    FPeer.Then([this, Bytes](FtpScriptPeer &, std::function<void()> Next) {
        if (!FData)
            ADD_FAILURE() << "scripted data peer: no data connection to send on";
        else {
            FData->write(Bytes);
            FData->flush();
        }
        Next();
    });
    return *this;
}

FtpScriptData &FtpScriptData::SendSplit(const QByteArray &Bytes, int PieceSize, int GapMs)
{
    for (int at = 0; at < Bytes.size(); at += PieceSize) {
        if (at > 0)
            FPeer.Delay(GapMs);
        Send(Bytes.mid(at, PieceSize));
    }
    return *this;
}

FtpScriptData &FtpScriptData::Close()
{
    FPeer.Then([this](FtpScriptPeer &, std::function<void()> Next) {
        if (FData) {
            FData->flush();
            FData->disconnectFromHost();
        }
        Next();
    });
    return *this;
}

FtpScriptData &FtpScriptData::Reset()
{
    FPeer.Then([this](FtpScriptPeer &, std::function<void()> Next) {
        if (FData) {
            // A zero linger time makes the close a reset.
            const linger hard{1, 0};
            ::setsockopt(int(FData->socketDescriptor()), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
            FData->abort();
        }
        Next();
    });
    return *this;
}

void FtpScriptData::UseTls(const QString &CertFile, const QString &KeyFile)
{
    FCertFile = CertFile;
    FKeyFile = KeyFile;
    FListener.SetTls(CertFile, KeyFile);
}

FtpScriptData &FtpScriptData::CutTls()
{
    FPeer.Then([this](FtpScriptPeer &, std::function<void()> Next) {
        if (FData) {
            FData->flush();
            FData->waitForBytesWritten(1000);
            ::shutdown(int(FData->socketDescriptor()), SHUT_RDWR);
            FData->abort();
        }
        Next();
    });
    return *this;
}

FtpScriptData &FtpScriptData::ReceiveUntilClose()
{
    FPeer.Then([this](FtpScriptPeer &, std::function<void()> Next) {
        if (FClientClosed) {
            Next();
            return;
        }
        FClosedWaiter = Next;
    });
    return *this;
}

FtpScriptData &FtpScriptData::Intrude(const QByteArray &Bytes, const QHostAddress &From)
{
    FPeer.Then([this, Bytes, From](FtpScriptPeer &, std::function<void()> Next) {
        auto *s = new QTcpSocket(this);
        if (!s->bind(From, 0))
            ADD_FAILURE() << "scripted data peer cannot bind the stranger to " << From.toString().toStdString();
        connect(s, &QTcpSocket::connected, this, [s, Bytes, Next] {
            s->write(Bytes);
            s->flush();
            Next();
        });
        connect(s, &QTcpSocket::errorOccurred, this, [s, Next](QAbstractSocket::SocketError) {
            if (s->state() != QAbstractSocket::ConnectedState)
                Next();   // refused at once is fine too: the stranger got nowhere
        });
        s->connectToHost(FActiveAddress, FActivePort);
    });
    return *this;
}
