#pragma once
// Data connections for the scripted FTP peer: the passive side (the peer listens and names
// its port in a 229 reply, or a 227 one once it refused EPSV) and the active side (the peer
// connects to the PORT or EPRT address). Each
// call adds steps to the peer's script, so a test reads as the dialogue it plays:
//   data.ExpectPasv(); peer.Reply("RETR f", "150 go\r\n"); data.Open(); data.Send("abc");
//   data.Close(); peer.Send("226 done\r\n");
// Built on Qt's sockets, like the peer itself.

#include "support/FtpScriptPeer.h"

#include <QByteArray>
#include <QTcpServer>
#include <QSocketNotifier>
#include <QTcpSocket>

#include <memory>

class FtpScriptData : public QObject {
public:
    explicit FtpScriptData(FtpScriptPeer &Peer);
    ~FtpScriptData() override;

    // ---- Steps ----
    // The passive data step: expects "EPSV", listens on the peer's address and replies
    // "229 Entering Extended Passive Mode (|||port|)". After RefuseEpsv it plays a server
    // without EPSV: the first time "EPSV" gets 500, then (and from then on directly) "PASV" gets
    // "227 Entering Passive Mode (A,p1,p2)." with A as the address numbers given (they must
    // not matter to the client).
    FtpScriptData &ExpectPasv(const QByteArray &AddressNumbers = "127,0,0,1");
    void RefuseEpsv() { FRefuseEpsv = true; }                // not a step: holds from the call on
    // Expects "PORT h1,h2,h3,h4,p1,p2", remembers the port and replies 200. With
    // ConnectFirst the data connection is made before the reply, as some servers do.
    FtpScriptData &ExpectPort(bool ConnectFirst = false);
    // Expects "EPRT |2|address|port|" (an IPv6 control connection), remembers both and
    // replies 200, or Refusal when given.
    FtpScriptData &ExpectEprt(const QByteArray &Refusal = {});
    // Passive: waits for the client's data connection; active: connects to the PORT port.
    FtpScriptData &Open();
    FtpScriptData &Send(const QByteArray &Bytes);            // bytes on the data connection
    FtpScriptData &SendSplit(const QByteArray &Bytes, int PieceSize, int GapMs = 30); // paced writes
    FtpScriptData &Close();                                  // the peer closes the data connection
    FtpScriptData &Reset();                                  // the peer resets it (RST, no orderly close)
    // From now on each data connection runs TLS (the server's side, PEM files): Open ends
    // when the handshake is done. Not a step: it holds from the call on.
    void UseTls(const QString &CertFile, const QString &KeyFile);
    FtpScriptData &CutTls();                                 // TCP ends, TLS never says so (no close_notify)
    FtpScriptData &ReceiveUntilClose();                      // reads until the client closes it
    // From now on data connections are read natively, so an abortive close (ECONNRESET) is
    // told apart from an orderly end of stream (Qt's sockets report both as a close).
    FtpScriptData &WatchForReset();
    // Active mode: a stranger connects to the PORT port from another address and sends Bytes.
    FtpScriptData &Intrude(const QByteArray &Bytes, const QHostAddress &From);

    // ---- Observing ----
    const QByteArray &Received() const { return FReceived; } // bytes the client sent
    QByteArray PortLine() const { return FPortLine; }        // the PORT command as received
    quint16 ActivePort() const { return FActivePort; }       // port named in PORT or EPRT
    int DataConnections() const { return FDataConnections; } // data connections made so far
    bool ClientReset() const { return FClientReset; }        // with WatchForReset: the client's close was a reset

private:
    void Adopt(QTcpSocket *Socket);
    void TakeNative(QTcpSocket *Socket);     // reads the connection itself from here on
    void ReadNative();                       // what arrived; records how the stream ended
    void EndOfStream();                      // the client's close, orderly or not

    FtpScriptPeer &FPeer;
    FtpScriptServer FListener;
    QTcpSocket *FData = nullptr;
    QByteArray FReceived;
    QByteArray FPortLine;
    quint16 FActivePort = 0;
    QHostAddress FActiveAddress{QHostAddress::LocalHost};    // where Open connects in active mode
    bool FRefuseEpsv = false;                // RefuseEpsv was called
    bool FEpsvRefused = false;               // and the 500 went out
    int FDataConnections = 0;
    int FTaken = 0;                          // data connections an Open step has taken
    std::function<void()> FConnectedWaiter;  // Open waiting for the passive connection
    std::function<void()> FClosedWaiter;     // ReceiveUntilClose waiting for the client's close
    bool FClientClosed = false;
    bool FWatchReset = false;                // WatchForReset was called
    bool FClientReset = false;               // the client's close was a reset
    int FNative = -1;                        // the watched connection's descriptor
    std::unique_ptr<QSocketNotifier> FNativeReadable;
    QString FCertFile, FKeyFile;             // TLS on the data connections when set
};
