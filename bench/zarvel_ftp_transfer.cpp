// One FTP download or upload with TFtpClient, for the transfer benchmark:
//   zarvel-ftp-transfer [--host H] --port P --user U --password W [--passive|--active]
//                       [--resume] [--tls] [--ascii] get REMOTE LOCAL | put LOCAL REMOTE
// --ascii moves the file as ASCII, CR LF on the wire and LF in the local file; --resume downloads with REST from the local file's size (RestGet); --tls requires FTP over
// TLS (the server's certificate must verify: SSL_CERT_FILE names a private authority).
// Exits 0 on success; prints the engine's statistics line and any failure to stderr.
#include "ftp/FtpClient.h"

#include <QCoreApplication>

#include <cstdio>
#include <cstring>
#include <string>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    std::string host = "127.0.0.1", port, user, password, verb, first, second;
    bool passive = true, resume = false, tls = false, ascii = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() { return i + 1 < argc ? std::string(argv[++i]) : std::string(); };
        if (a == "--host") host = value();
        else if (a == "--port") port = value();
        else if (a == "--user") user = value();
        else if (a == "--password") password = value();
        else if (a == "--passive") passive = true;
        else if (a == "--active") passive = false;
        else if (a == "--resume") resume = true;
        else if (a == "--tls") tls = true;
        else if (a == "--ascii") ascii = true;
        else if (verb.empty()) verb = a;
        else if (first.empty()) first = a;
        else second = a;
    }
    if ((verb != "get" && verb != "put") || port.empty() || first.empty() || second.empty()) {
        std::fprintf(stderr, "usage: %s [--host H] --port P --user U --password W [--passive|--active] "
                             "[--resume] [--tls] [--ascii] get REMOTE LOCAL | put LOCAL REMOTE\n", argv[0]);
        return 2;
    }

    TFtpClient ftp;
    ftp.SetHostName(host);
    ftp.SetPort(port);
    ftp.SetUserName(user);
    ftp.SetPassWord(password);
    ftp.SetEncryption(tls ? ftpEncryptRequire : ftpEncryptNone);
    // engine notes (statistics, failures) go to stderr
    ftp.OnDisplay = [](TCustomFtpCli *, std::string &msg) {
        if (msg.rfind("! ", 0) == 0)
            std::fprintf(stderr, "%s\n", msg.c_str());
    };
    qint64 lastProgress = 0;
    ftp.OnProgress = [&lastProgress](TCustomFtpCli *, qint64 count, bool &) { lastProgress = count; };
    auto fail = [&](const char *step) {
        std::fprintf(stderr, "%s failed: %s\n", step, ftp.ErrorMessage().c_str());
        return 1;
    };
    if (!ftp.Connect())
        return fail("Connect");
    ftp.SetPassive(passive);
    ftp.SetBinary(!ascii);
    ftp.SetConvertLineEnds(ascii);
    if (!ftp.TypeSet())
        return fail("TYPE");
    if (verb == "get") {
        ftp.SetHostFileName(first);
        ftp.SetLocalFileName(second);
        if (!(resume ? ftp.RestGet() : ftp.Get()))
            return fail("Get");
    } else {
        ftp.SetLocalFileName(first);
        ftp.SetHostFileName(second);
        if (!ftp.Put())
            return fail("Put");
    }
    std::fprintf(stderr, "last progress count %lld\n", static_cast<long long>(lastProgress));
    ftp.Quit();
    return 0;
}
