#pragma once
// A scripted FTP server for protocol tests: a loopback listener (127.0.0.1, or ::1) on a free port that plays a
// dialogue step by step (expect this command line, send these exact bytes, split or merged,
// wait, close). A command line the script does not expect fails the running test, and so does
// a script left unfinished when the peer is destroyed (unless AllowUnfinished was called).
// Built on Qt's own sockets so that a fault in our socket layer cannot hide in the peer.

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QTcpServer>
#include <QTcpSocket>

#include <deque>
#include <functional>
#include <memory>

// Accepts TLS-capable connections, which act as plain ones until a StartTls step.
// With SetTls, each connection starts the server's side of TLS at once (data connections,
// whose clients send their hello as soon as they connect).
class FtpScriptServer : public QTcpServer {
public:
    void SetTls(const QString &CertFile, const QString &KeyFile);

protected:
    void incomingConnection(qintptr Handle) override;

private:
    QString FCertFile, FKeyFile;
};

class QSslSocket;
// Sets up the server's side of TLS on Socket with the PEM files and starts it; false when
// the files cannot be read.
bool StartServerTls(QSslSocket *Socket, const QString &CertFile, const QString &KeyFile);

class FtpScriptPeer : public QObject {
public:
    // One step of the dialogue. A step runs when the one before has finished; Next finishes
    // it. Steps that need to wait (for a command, a timer, a data connection) call Next later.
    using Action = std::function<void(FtpScriptPeer &Peer, std::function<void()> Next)>;

    explicit FtpScriptPeer(const QHostAddress &Address = QHostAddress::LocalHost);
    ~FtpScriptPeer() override;

    quint16 Port() const;                                   // the free port it listens on
    QHostAddress Address() const { return FAddress; }       // the address it listens on
    QByteArray PortText() const { return QByteArray::number(Port()); }

    // ---- Building the script ----
    FtpScriptPeer &Send(const QByteArray &Bytes);           // send these bytes in one write
    FtpScriptPeer &SendSplit(const QByteArray &Bytes, int PieceSize, int GapMs = 15); // several writes, paced
    FtpScriptPeer &Expect(const QByteArray &Line);          // the next command line must be this (no CR LF)
    FtpScriptPeer &ExpectPrefix(const QByteArray &Prefix);  // the next command line must start so
    FtpScriptPeer &Reply(const QByteArray &Line, const QByteArray &Bytes) { return Expect(Line).Send(Bytes); }
    FtpScriptPeer &Delay(int Ms);                           // wait before the next step
    FtpScriptPeer &Close();                                 // close the control connection
    FtpScriptPeer &ExpectClose();                           // wait until the client closes it
    FtpScriptPeer &Then(Action Step);                       // any other step (data connections ...)
    FtpScriptPeer &AllowUnfinished();                       // do not fail on steps left at the end
    // The server's side of a TLS handshake on the control connection (PEM files); the
    // dialogue goes on encrypted once it is done.
    FtpScriptPeer &StartTls(const QString &CertFile, const QString &KeyFile);

    // ---- Observing ----
    const QList<QByteArray> &Commands() const { return FCommands; } // every command line received
    QByteArray LastCommand() const { return FCommands.isEmpty() ? QByteArray() : FCommands.last(); }
    bool Finished() const { return FSteps.empty() && !FRunning; } // every step has run
    int Connections() const { return FConnections; }        // connections accepted so far
    bool ClientClosed() const { return FClientClosed; }     // the client closed the connection
    QTcpSocket *Control() const { return FControl; }        // the current control connection
    // Runs the event loop until the script has finished or Ms passed; true when finished.
    bool WaitFinished(int Ms = 5000);

private:
    void OnNewConnection();
    void OnReadyRead();
    void RunNext();
    void DeliverLines();
    void Write(const QByteArray &Bytes);

    QHostAddress FAddress;
    FtpScriptServer FServer;
    QTcpSocket *FControl = nullptr;
    std::deque<Action> FSteps;
    bool FRunning = false;                                  // a step has started and not finished
    QByteArray FInput;                                      // received bytes not yet a full line
    std::deque<QByteArray> FPendingLines;                   // lines received, not yet matched
    std::function<void(const QByteArray &)> FLineWaiter;    // the Expect step waiting for a line
    std::function<void()> FCloseWaiter;                     // the ExpectClose step waiting
    QList<QByteArray> FCommands;
    int FConnections = 0;
    bool FClientClosed = false;
    bool FAllowUnfinished = false;
    std::shared_ptr<bool> FAlive = std::make_shared<bool>(true); // guards delayed steps
};
