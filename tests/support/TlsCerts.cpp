#include "support/TlsCerts.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdlib>
#include <sys/stat.h>

namespace zarvel::test {

std::string TlsCertsDir()
{
    static QTemporaryDir dir(QDir::tempPath() + "/zarvel-tls-XXXXXX");
    static bool made = false;
    if (!made && dir.isValid()) {
        QProcess maker;
        maker.start("/usr/bin/python3",
                    {QString(ZARVEL_SOURCE_DIR) + "/tools/tls/make_certs.py", dir.path()});
        made = maker.waitForFinished(60000) && maker.exitStatus() == QProcess::NormalExit && maker.exitCode() == 0;
        if (!made)
            ADD_FAILURE() << "make_certs.py failed: " << maker.readAllStandardError().toStdString();
        // The servers that read them run as other users.
        ::chmod(dir.path().toLocal8Bit().constData(), 0755);
    }
    return dir.path().toStdString();
}

std::string TlsCertFile(const std::string &name) { return TlsCertsDir() + "/" + name + ".pem"; }

std::string TlsKeyFile(const std::string &name) { return TlsCertsDir() + "/" + name + ".key"; }

void TrustTestAuthority(bool on)
{
    if (on)
        ::setenv("SSL_CERT_FILE", TlsCertFile("ca").c_str(), 1);
    else
        ::unsetenv("SSL_CERT_FILE");
}

} // namespace zarvel::test
