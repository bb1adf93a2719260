#include "ui/UserMessages.h"
#include "ui/CertificateDialog.h"
#include "ui/FileExistsDialog.h"
#include "ui/FailuresDialog.h"
#include "ui/PromptDialog.h"

#include <QCheckBox>
#include <QMessageBox>
#include <QPushButton>
#include <QStringDecoder>
#include <QTextDocument>
#include <string>

namespace {

// The application name is the desktop id, not a caption for the boxes.
const QString kProgramCaption = QStringLiteral("Zarvel");

void Show(QWidget *parent, QMessageBox::Icon icon, const QString &title, const QString &text,
          bool onTop = false)
{
    QMessageBox box(icon, title, VisibleText(text), QMessageBox::Ok, parent);
    // Server replies reach these boxes: markup in them ("<a href=...>") must stay text.
    box.setTextFormat(Qt::PlainText);
    // Boxes of the start-up come while the splash stays on top; they must not hide under it.
    if (onTop)
        box.setWindowFlag(Qt::WindowStaysOnTopHint);
    box.exec();
}

} // namespace

void TUserMessages::Simple(QWidget *parent, const QString &text)
{
    Show(parent, QMessageBox::NoIcon, kProgramCaption, text);
}

void TUserMessages::ErrorDialog(QWidget *parent, const QString &text)
{
    Show(parent, QMessageBox::Critical, QStringLiteral("Error"), text);
}

void TUserMessages::CommandLineError(QWidget *parent, const QString &text)
{
    Show(parent, QMessageBox::Critical, QString(), text, true);
}

void TUserMessages::Warning(QWidget *parent, const QString &text)
{
    Show(parent, QMessageBox::Warning, kProgramCaption, text, true);
}

void TUserMessages::ShowException(QWidget *parent, const QString &text)
{
    Show(parent, QMessageBox::Critical, kProgramCaption, text);
}

bool TUserMessages::Confirm(QWidget *parent, const QString &caption, const QString &text)
{
    QMessageBox box(QMessageBox::Question, caption, text, QMessageBox::Yes | QMessageBox::No, parent);
    box.setDefaultButton(QMessageBox::No);
    box.setEscapeButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

void TUserMessages::ShowFailures(QWidget *parent, const QString &caption, const QString &summary,
                                 const QStringList &failures)
{
    TFailuresDialog dialog(parent, summary, failures);
    dialog.setWindowTitle(caption);
    dialog.exec();
}

FileExistsReply TUserMessages::AskFileExists(QWidget *parent, const FileExistsQuestion &question)
{
    TFileExistsDialog dialog(parent, question);
    dialog.exec();
    return dialog.Reply();
}

TTrustAnswer TUserMessages::AskCertificateTrust(QWidget *parent, const TCertificateQuestion &question)
{
    TFormCertificate dialog(question, parent);
    dialog.exec();
    return dialog.Answer();
}

TPlainAnswer TUserMessages::AskPlainLogin(QWidget *parent, const QString &host)
{
    QMessageBox box(QMessageBox::Warning, kProgramCaption,
                    host + " does not offer encryption: send the password and files in clear?",
                    QMessageBox::Yes | QMessageBox::No, parent);
    box.setDefaultButton(QMessageBox::No);
    box.setEscapeButton(QMessageBox::No);
    auto *always = new QCheckBox("Always allow for this site");
    box.setCheckBox(always);
    if (box.exec() != QMessageBox::Yes)
        return plainNo;
    return always->isChecked() ? plainAlways : plainOnce;
}

bool TUserMessages::Prompt(QWidget *parent, const QString &caption, const QString &prompt, QString *value)
{
    TFormPrompt dialog(parent, prompt, value);
    dialog.setWindowTitle(caption);
    return dialog.exec() == QDialog::Accepted;
}

int TUserMessages::Choose(QWidget *parent, const QString &text, const QStringList &buttons)
{
    QMessageBox box(QMessageBox::Question, "Zarvel", text, QMessageBox::NoButton, parent);
    QList<QAbstractButton *> added;
    for (const QString &caption : buttons)
        added.append(static_cast<QAbstractButton *>(box.addButton(caption, QMessageBox::ActionRole)));
    if (!added.isEmpty())
        box.setEscapeButton(added.back()); // the last choice is the one that changes nothing
    box.exec();
    return int(added.indexOf(box.clickedButton()));
}

QString TextForDisplay(const std::string &bytes)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QByteArrayView view(bytes.data(), qsizetype(bytes.size()));
    QString text = utf8.decode(view);
    if (!utf8.hasError())
        return text;
    return QString::fromLatin1(view);
}

QString VisibleText(const QString &text)
{
    QString shown;
    shown.reserve(text.size());
    for (const QChar c : text) {
        if (c.category() == QChar::Other_Format)
            shown += QStringLiteral("\\u") + QString::number(c.unicode(), 16).toUpper().rightJustified(4, '0');
        else
            shown += c;
    }
    return shown;
}

QString TextForShowing(const std::string &bytes)
{
    return VisibleText(TextForDisplay(bytes));
}

QString PlainToolTip(const QString &text)
{
    return Qt::convertFromPlainText(VisibleText(text), Qt::WhiteSpaceNoWrap);
}
