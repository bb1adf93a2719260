#pragma once
#include "session/Encryption.h"
#include "session/FileExists.h"

#include <QString>
#include <QStringList>

class QWidget;

// The message boxes and prompts the program shows, behind one class so tests can see what
// would be shown, and answer, instead of blocking in a modal box.
class TUserMessages {
public:
    virtual ~TUserMessages() = default;
    // Simple box: the application's title, one OK button, no icon (input checks).
    virtual void Simple(QWidget *parent, const QString &text);
    // Error dialog titled "Error" (a failed connection).
    virtual void ErrorDialog(QWidget *parent, const QString &text);
    // Error-icon box with an empty title and one OK button (command-line errors).
    virtual void CommandLineError(QWidget *parent, const QString &text);
    // Warning with the application's title: a problem the program works around, such as
    // a settings store it cannot use.
    virtual void Warning(QWidget *parent, const QString &text);
    // The application's error box for an exception a window handler raised: error icon,
    // the application's title, one OK button.
    virtual void ShowException(QWidget *parent, const QString &text);
    // The one-line prompt (TFormPrompt) titled `caption`. With `value`, an input field
    // holds it and OK copies the typed text back; without one only OK and Cancel show.
    // True on OK; Cancel and the close box leave `value` alone.
    virtual bool Prompt(QWidget *parent, const QString &caption, const QString &prompt, QString *value);
    // A question with Yes and No, No the default button, the application's title; true on Yes.
    virtual bool Confirm(QWidget *parent, const QString &caption, const QString &text);
    // The failed files at the end of a batch (TFailuresDialog), titled `caption`.
    virtual void ShowFailures(QWidget *parent, const QString &caption, const QString &summary,
                              const QStringList &failures);
    // The question about a file whose target exists (TFileExistsDialog); the user's reply.
    virtual FileExistsReply AskFileExists(QWidget *parent, const FileExistsQuestion &question);
    // A question with buttons of its own, titled with the application's name: the index of
    // the button pressed; -1 when the box was closed without one. Escape presses the last.
    virtual int Choose(QWidget *parent, const QString &text, const QStringList &buttons);
    // The certificate trust dialog (TFormCertificate); the user's answer.
    virtual TTrustAnswer AskCertificateTrust(QWidget *parent, const TCertificateQuestion &question);
    // "<host> does not offer encryption: send the password and files in clear?" with Yes and
    // No (the default, and Esc) and "Always allow for this site".
    virtual TPlainAnswer AskPlainLogin(QWidget *parent, const QString &host);
};

// Texts are bytes inside the program; shown as UTF-8, with bytes that are not UTF-8 kept
// visible as Latin-1 rather than turned into replacement marks.
QString TextForDisplay(const std::string &bytes);
// What a label, a list or a box shows of a name or a server's text: invisible format
// characters (bidirectional overrides such as U+202E, zero-width ones) as their code, "\u202E",
// so "PROG\u202Egpj.exe" cannot pass for "PROGexe.jpg". Editable fields keep the text as it is.
QString VisibleText(const QString &text);
QString TextForShowing(const std::string &bytes);
// A tooltip shows rich text when its text looks like markup: this one shows `text` as it is.
QString PlainToolTip(const QString &text);
