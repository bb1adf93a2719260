// Encryption as a user meets it in the main window against the NonStop-style server with TLS:
// the trust dialog answered with Enter and Esc, a changed certificate, the window after a
// Cancel, and a proxy on the path that answers AUTH itself to get the login in clear.
#include "session/Encryption.h"
#include "support/TlsCerts.h"
#include "ui/CertificateDialog.h"
#include "ui/ConnectDialog.h"
#include "ui/MainWindowFixture.h"

#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QDialog>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <deque>
#include <functional>

using namespace zarvel::test;

namespace {

// Acts on the modal dialogs as they show, one step per showing, from the event loop: the
// program's own modal loops run while the test waits in File > Connect.
class ModalScript : public QObject {
public:
    using Step = std::function<void(QWidget *)>;
    ModalScript() { qApp->installEventFilter(this); }
    ~ModalScript() override { qApp->removeEventFilter(this); }
    void Then(Step step) { steps_.push_back(std::move(step)); }
    bool Done() const { return steps_.empty(); }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        auto *dialog = qobject_cast<QDialog *>(watched);
        if (event->type() == QEvent::Show && dialog && dialog->isModal() && !steps_.empty()) {
            const Step step = steps_.front();
            steps_.pop_front();
            QTimer::singleShot(0, dialog, [dialog, step] { step(dialog); });
        }
        return false;
    }

private:
    std::deque<Step> steps_;
};

// A key pressed where the user's keystroke goes: the focused control of the active dialog.
void Press(QWidget *dialog, Qt::Key key)
{
    dialog->activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(dialog));
    QTest::keyClick(dialog->focusWidget() ? dialog->focusWidget() : dialog, key);
}

class EncryptionWindow : public MainWindowFixture {
protected:
    void SetUp() override
    {
        TrustTestAuthority(false); // the test authority is unknown: every certificate asks
        MainWindowFixture::SetUp();
        server->Stop();
        server = StartFtpServer(FtpServerKind::Guardian, "server");
        ASSERT_TRUE(server);
        PutSampleFiles();
    }
    void TearDown() override
    {
        MainWindowFixture::TearDown();
        TrustTestAuthority(false);
    }

    // Loads the command line, shows the window; nothing connects yet.
    void Start(const std::string &commandLine)
    {
        ASSERT_TRUE(form->LoadStartupSettings(commandLine));
        form->show();
    }
    // File > Connect..., Enter in the connect dialog, then `then` on the next dialog that shows.
    void ConnectByMenu(const ModalScript::Step &then = {})
    {
        script.Then([](QWidget *dialog) { Press(dialog, Qt::Key_Return); });
        if (then)
            script.Then(then);
        form->ConnectItem->trigger();
        EXPECT_TRUE(script.Done()) << "a dialog the test expected did not show";
    }
    static TFormCertificate *Certificate(QWidget *dialog)
    {
        auto *certificate = qobject_cast<TFormCertificate *>(dialog);
        EXPECT_NE(certificate, nullptr) << "not the trust dialog: " << dialog->windowTitle().toStdString();
        return certificate;
    }
    std::string StoreText() const
    {
        QFile store(configDir.filePath("Ondrik/Zarvel.conf"));
        return store.open(QIODevice::ReadOnly) ? store.readAll().toStdString() : std::string();
    }
    std::string TrustedName() const { return TrustedCertificateName(server->Host(), server->Port()); }

    ModalScript script;
};

// ---- the trust dialog ----

TEST_F(EncryptionWindow, enterAndEscInTheTrustDialogCancelWithoutASecondBoxAndConnectStaysAvailable)
{
    Start(ServerCommandLine() + " Encryption Require");
    for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Escape}) {
        SCOPED_TRACE(key == Qt::Key_Return ? "Enter" : "Esc");
        ConnectByMenu([&](QWidget *dialog) {
            if (TFormCertificate *certificate = Certificate(dialog)) {
                EXPECT_EQ(certificate->focusWidget(), certificate->BtnCancel);
            }
            Press(dialog, key);
        });
        EXPECT_FALSE(form->Session().Connected);
        EXPECT_TRUE(form->ConnectItem->isEnabled()) << "the window must be able to connect again";
        EXPECT_TRUE(messages.shown.isEmpty()) << messages.shown.join("; ").toStdString();
        EXPECT_EQ(StoreText().find(TrustedName()), std::string::npos);
    }
    // A deliberate click trusts, and the certificate is remembered.
    ConnectByMenu([](QWidget *dialog) {
        if (TFormCertificate *certificate = Certificate(dialog)) {
            certificate->BtnTrust->click();
        }
    });
    EXPECT_TRUE(form->Session().Connected) << messages.shown.join("; ").toStdString();
    EXPECT_NE(StoreText().find(TrustedName()), std::string::npos);
    EXPECT_NE(StoreText().find(TlsSeenName(server->Host(), server->Port()) + "=1"), std::string::npos)
        << "a host that spoke TLS is remembered";
}

TEST_F(EncryptionWindow, aChangedCertificateIsTrustedOnlyAfterTheBoxIsTicked)
{
    DestroyWindow();
    CreateWindow(QByteArray::fromStdString("text " + TrustedName() + "=AB:CD\n"));
    Start(ServerCommandLine() + " Encryption Require");
    ConnectByMenu([](QWidget *dialog) {
        TFormCertificate *certificate = Certificate(dialog);
        ASSERT_NE(certificate, nullptr);
        EXPECT_TRUE(certificate->LabelWarning->text().startsWith("WARNING"));
        EXPECT_FALSE(certificate->BtnTrust->isEnabled());
        EXPECT_FALSE(certificate->BtnTrustOnce->isEnabled());
        certificate->CheckChanged->click();
        Press(dialog, Qt::Key_Return); // ticked or not, Enter is Cancel
    });
    EXPECT_FALSE(form->Session().Connected);
    EXPECT_NE(StoreText().find(TrustedName() + "=AB:CD"), std::string::npos);

    ConnectByMenu([](QWidget *dialog) {
        TFormCertificate *certificate = Certificate(dialog);
        ASSERT_NE(certificate, nullptr);
        certificate->CheckChanged->click();
        certificate->BtnTrust->click();
    });
    EXPECT_TRUE(form->Session().Connected) << messages.shown.join("; ").toStdString();
    EXPECT_EQ(StoreText().find(TrustedName() + "=AB:CD"), std::string::npos);
    EXPECT_NE(StoreText().find(TrustedName() + "="), std::string::npos);
}

// ---- a proxy that answers AUTH ----

class StrippedWindow : public EncryptionWindow {
protected:
    void SetUp() override
    {
        EncryptionWindow::SetUp();
        TrustTestAuthority(true);
        SetMode("relay");
        proxy.start("/usr/bin/python3", {QString(ZARVEL_SOURCE_DIR) + "/tests/support/auth_strip_proxy.py",
                                         "--target-port", QString::number(server->Port()), "--mode-file", modeFile()});
        ASSERT_TRUE(proxy.waitForReadyRead(20000)) << proxy.readAllStandardError().toStdString();
        const QByteArray first = proxy.readLine().trimmed();
        ASSERT_TRUE(first.startsWith("auth-strip-proxy listening on 127.0.0.1:")) << first.toStdString();
        proxyPort = first.mid(first.lastIndexOf(':') + 1).toInt();
        Start(ProxyCommandLine());
    }
    std::string ProxyCommandLine() const
    {
        return "HostName 127.0.0.1 HostPort " + std::to_string(proxyPort) + " UserID " + server->User() +
               " Password " + server->Password() + " InitialSubvol " + kHome + " Encryption IfAvailable";
    }
    void TearDown() override
    {
        proxy.closeWriteChannel();
        proxy.waitForFinished(5000);
        EncryptionWindow::TearDown();
    }
    QString modeFile() const { return configDir.filePath("proxy-mode"); }
    // "relay", or the reply the proxy gives to AUTH, for the connections made from now on.
    void SetMode(const QByteArray &mode)
    {
        QFile f(modeFile());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(mode);
    }
    // The client's commands the proxy saw in clear since the last call.
    QString Seen()
    {
        proxy.waitForReadyRead(200);
        return QString::fromLatin1(proxy.readAllStandardOutput());
    }
    void Disconnect()
    {
        form->DisconnectItem->trigger();
        ASSERT_TRUE(WaitUntil([this] { return !form->Session().Connected; }));
    }

    QProcess proxy;
    int proxyPort = 0;
};

TEST_F(StrippedWindow, noPasswordInClearWithoutTheUsersYesAndAlwaysAllowIsRemembered)
{
    SetMode("500 AUTH not understood");
    messages.plainAnswers = {plainNo};
    ConnectByMenu();
    EXPECT_FALSE(form->Session().Connected);
    EXPECT_EQ(messages.shown, QStringList{"plain: 127.0.0.1"}) << "the user's own No needs no error box";
    EXPECT_FALSE(Seen().contains("C: USER"));

    messages.plainAnswers = {plainAlways};
    ConnectByMenu();
    ASSERT_TRUE(form->Session().Connected) << messages.shown.join("; ").toStdString();
    EXPECT_TRUE(Seen().contains("C: PASS"));
    Disconnect();

    messages.shown.clear();
    ConnectByMenu();
    EXPECT_TRUE(form->Session().Connected) << "always allowed: no question";
    EXPECT_TRUE(messages.shown.isEmpty()) << messages.shown.join("; ").toStdString();
}

TEST_F(StrippedWindow, aHostThatSpokeTlsIsRefusedPlainUntilForgottenAndA421IsAFailure)
{
    // Remembered as the trust dialog's test shows it is after an encrypted session.
    DestroyWindow();
    CreateWindow(QByteArray::fromStdString("int " + TlsSeenName("127.0.0.1", proxyPort) + "=1\n"));
    Start(ProxyCommandLine());

    for (const char *reply : {"500 AUTH not understood", "421 Service not available"}) {
        SCOPED_TRACE(reply);
        SetMode(reply);
        messages.shown.clear();
        ConnectByMenu();
        EXPECT_FALSE(form->Session().Connected);
        ASSERT_EQ(messages.shown.size(), 1) << "no question, one error box";
        EXPECT_TRUE(messages.shown[0].startsWith("error: ")) << messages.shown[0].toStdString();
        EXPECT_TRUE(messages.shown[0].contains(reply[0] == '5' ? "may be removing the encryption" : reply))
            << messages.shown[0].toStdString();
        EXPECT_FALSE(Seen().contains("C: USER"));
    }

    // Forgotten in the connect dialog, the host is asked about again.
    SetMode("500 AUTH not understood");
    script.Then([this](QWidget *) {
        windows.FormConnect->btnForgetTls->click();
        windows.FormConnect->btnCancel->click();
    });
    form->ConnectItem->trigger();
    messages.shown.clear();
    messages.plainAnswers = {plainOnce};
    ConnectByMenu();
    EXPECT_TRUE(form->Session().Connected) << messages.shown.join("; ").toStdString();
    EXPECT_EQ(messages.shown.value(0), "plain: 127.0.0.1");
}

} // namespace
