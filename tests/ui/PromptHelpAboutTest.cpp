// The small windows: the one-line prompt, the help window and the about box.
#include "support/QtPrinters.h"
#include "ui/AboutBox.h"
#include "ui/PromptDialog.h"
#include "ui/HelpWindow.h"
#include "ui/UserMessages.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDesktopServices>
#include <QFontDatabase>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>

#include <functional>

namespace {

void PressKey(QWidget *target, int key)
{
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(target, &press);
}

void Click(QWidget *target, Qt::MouseButton button)
{
    const QPointF at(2, 2);
    QMouseEvent press(QEvent::MouseButtonPress, at, target->mapToGlobal(at), button, button, Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, at, target->mapToGlobal(at), button, Qt::NoButton,
                        Qt::NoModifier);
    QApplication::sendEvent(target, &press);
    QApplication::sendEvent(target, &release);
}

// Acts on the first visible dialog of type T once the modal loop runs, and closes it if
// the action left it open, so a test never waits for a user.
template <typename T>
void WhenShown(std::function<void(T *)> act)
{
    QTimer::singleShot(0, [act] {
        T *shown = nullptr;
        for (QWidget *widget : QApplication::topLevelWidgets())
            if (auto *dialog = qobject_cast<T *>(widget); dialog && dialog->isVisible())
                shown = dialog;
        if (!shown) {
            ADD_FAILURE() << "no dialog shown";
            return;
        }
        act(shown);
        if (shown->isVisible())
            shown->reject();
    });
}

// --- Prompt -----------------------------------------------------------------------------

TEST(PromptDialog, withoutValueShowsNoInputFieldAndOkAnswersTrue)
{
    TUserMessages messages;
    bool fieldShown = true;
    QString caption;
    WhenShown<TFormPrompt>([&](TFormPrompt *dialog) {
        fieldShown = dialog->EditInput->isVisible();
        caption = dialog->windowTitle();
        EXPECT_EQ(dialog->LabelPrompt->text(), "Remove /tmp/old?");
        EXPECT_TRUE(dialog->OKBtn->isVisible());
        EXPECT_TRUE(dialog->CancelBtn->isVisible());
        dialog->OKBtn->click();
    });
    EXPECT_TRUE(messages.Prompt(nullptr, "Remove Directory", "Remove /tmp/old?", nullptr));
    EXPECT_FALSE(fieldShown);
    EXPECT_EQ(caption, "Remove Directory");
}

TEST(PromptDialog, okReturnsTypedNameAndCancelOrCloseLeaveValueAlone)
{
    TUserMessages messages;
    QString value = "PROGC";
    WhenShown<TFormPrompt>([](TFormPrompt *dialog) {
        EXPECT_TRUE(dialog->EditInput->isVisible());
        EXPECT_EQ(dialog->EditInput->text(), "PROGC");
        EXPECT_EQ(dialog->EditInput->selectedText(), "PROGC") << "typing must replace the old name";
        dialog->EditInput->setText("PROGH");
        // Enter in the field presses the default button, OK.
        PressKey(dialog->EditInput, Qt::Key_Return);
    });
    EXPECT_TRUE(messages.Prompt(nullptr, "Rename", "Enter new name for 'PROGC'", &value));
    EXPECT_EQ(value, "PROGH");

    WhenShown<TFormPrompt>([](TFormPrompt *dialog) {
        dialog->EditInput->setText("typed");
        dialog->CancelBtn->click();
    });
    EXPECT_FALSE(messages.Prompt(nullptr, "Rename", "Enter new name for 'PROGH'", &value));
    WhenShown<TFormPrompt>([](TFormPrompt *dialog) {
        dialog->EditInput->setText("typed");
        PressKey(dialog, Qt::Key_Escape);
    });
    EXPECT_FALSE(messages.Prompt(nullptr, "Rename", "Enter new name for 'PROGH'", &value));
    WhenShown<TFormPrompt>([](TFormPrompt *dialog) {
        dialog->EditInput->setText("typed");
        dialog->close();
    });
    EXPECT_FALSE(messages.Prompt(nullptr, "Rename", "Enter new name for 'PROGH'", &value));
    EXPECT_EQ(value, "PROGH");
}

TEST(PromptDialog, designedSizeHoldsWithAndWithoutFieldAndLongPromptIsNotCut)
{
    QString value = "A";
    TFormPrompt withField(nullptr, "Enter new name for 'A'", &value);
    TFormPrompt question(nullptr, "Remove /tmp/x?", nullptr);
    withField.show();
    question.show();
    EXPECT_EQ(withField.width(), TFormPrompt::kClientWidth);
    EXPECT_EQ(question.width(), TFormPrompt::kClientWidth);
    EXPECT_EQ(withField.EditInput->width(), TFormPrompt::kInputWidth);

    const QString path = "Remove /home/developer/projects/" + QString(80, 'x') + "?";
    TFormPrompt longQuestion(nullptr, path, nullptr);
    longQuestion.show();
    EXPECT_GE(longQuestion.LabelPrompt->width(), longQuestion.LabelPrompt->sizeHint().width());
}

TEST(PromptDialog, unchangedAnswerKeepsBytesThatAreNotUtf8)
{
    struct Row { std::string shownFrom; QString answer; std::string bytes; };
    const Row rows[] = {
        {"PROGC", "PROGC", "PROGC"},
        {"caf\xe9.c", QString::fromLatin1("caf\xe9.c"), "caf\xe9.c"},    // left as shown
        {"caf\xe9.c", QString::fromUtf8("café.h"), "caf\xc3\xa9.h"},     // typed: UTF-8
        {"caf\xc3\xa9.c", QString::fromUtf8("café.c"), "caf\xc3\xa9.c"},
        {"A", "", ""},
    };
    for (const Row &row : rows)
        EXPECT_EQ(AnswerBytes(row.shownFrom, row.answer), row.bytes) << row.answer.toStdString();
}

// --- Help -------------------------------------------------------------------------------

TEST(HelpWindow, readOnlyFixedPitchMemoWithDesignedCaptionAndSize)
{
    QWidget owner;
    TFormHelp help(&owner);
    EXPECT_EQ(help.windowTitle(), "Zarvel Help");
    EXPECT_EQ(help.size(), QSize(570, 378));
    EXPECT_TRUE(help.Memo1->isReadOnly());
    EXPECT_EQ(help.Memo1->font().family(), QFontDatabase::systemFont(QFontDatabase::FixedFont).family());
    EXPECT_EQ(help.Memo1->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    EXPECT_EQ(help.Memo1->toPlainText(), TFormHelp::HelpText());
    EXPECT_FALSE(help.windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(help.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(help.windowFlags() & Qt::WindowCloseButtonHint);
}

TEST(HelpWindow, everyHeadingIsUnderlinedToItsOwnLengthInOrder)
{
    const QStringList lines = TFormHelp::HelpText().split('\n');
    QStringList headings;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        if (!lines[i].startsWith('='))
            continue;
        EXPECT_EQ(lines[i], QString(lines[i - 1].size(), '=')) << "under " << lines[i - 1].toStdString();
        headings << lines[i - 1];
    }
    EXPECT_EQ(headings, (QStringList{"FILE TRANSFER OPTIONS", "TRANSFER FILE TYPES", "UPLOAD", "DOWNLOAD", "FILE EXISTS",
                                     "DELETE", "RESUME", "SITES", "LOG LEVELS", "THE NONSTOP HOST", "EDIT", "COMPARE AND SYNCHRONIZE", "KEYS", "ENCRYPTION AND CERTIFICATES",
                                     "STARTUP COMMAND LINE", "ABOUT ZARVEL", "COPYRIGHT", "DISCLAIMER"}));
    // No heading stands empty: text follows each before the next heading.
    for (qsizetype i = 1; i + 3 < lines.size(); ++i)
        EXPECT_FALSE(lines[i].startsWith('=') && lines[i + 1].isEmpty() && lines[i + 3].startsWith('='))
            << lines[i - 1].toStdString() << " has no text";
    for (const char *keyword : {"HostName", "HostPort", "UserID", "Password", "ProxyName", "InitialSubvol",
                                "Encryption", "DataConnection", "KeepAlive", "AsciiLineEnds", "Site", "ConfirmDelete",
                                "WhenFileExists", "Connections", "Editor", "HostTimeOffset", "Retries", "AUTOCONNECT", "TOUCHDOWN",
                                "TOUCHUP"})
        EXPECT_TRUE(TFormHelp::HelpText().contains(keyword)) << keyword;
}

// --- About ------------------------------------------------------------------------------

// Stands in for the desktop's handler of web addresses.
class UrlCatcher : public QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;
public Q_SLOTS:
    void open(const QUrl &url) { opened << url; }
};

TEST(AboutBox, versionLabelIsVPlusVersionOrEmpty)
{
    EXPECT_EQ(VersionLabelText("0.1.0"), "v0.1.0");
    EXPECT_EQ(VersionLabelText(""), "");
    TAboutBox about;
    EXPECT_EQ(about.lblVersion->text(), "v" ZARVEL_VERSION);
}

TEST(AboutBox, leftClickOnAddressOpensItWithDesktopHandler)
{
    UrlCatcher catcher;
    QDesktopServices::setUrlHandler("https", &catcher, "open");
    TAboutBox about;
    about.show();
    Click(about.lblUrl, Qt::RightButton);
    EXPECT_TRUE(catcher.opened.isEmpty());
    Click(about.lblUrl, Qt::LeftButton);
    QDesktopServices::unsetUrlHandler("https");
    ASSERT_EQ(catcher.opened.size(), 1);
    EXPECT_EQ(catcher.opened[0], QUrl(ZARVEL_HOMEPAGE));
    EXPECT_EQ(about.lblUrl->text(), ZARVEL_HOMEPAGE);
    EXPECT_EQ(about.lblUrl->cursor().shape(), Qt::PointingHandCursor);
}

TEST(AboutBox, aboutOpenedDuringSplashEndsSplashAndShowsFramedDialog)
{
    TAboutBox about;
    about.Splash();
    Qt::WindowFlags flags;
    bool timerActive = true;
    WhenShown<TAboutBox>([&](TAboutBox *shown) {
        flags = shown->windowFlags();
        timerActive = shown->tmrSplash->isActive();
        shown->accept();
    });
    about.exec();
    EXPECT_FALSE(timerActive) << "the splash timer would hide the about dialog under the user";
    EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(flags & Qt::FramelessWindowHint);
    EXPECT_FALSE(flags & Qt::WindowStaysOnTopHint);
    EXPECT_EQ(about.size(), QSize(TAboutBox::kWidth, TAboutBox::kHeight));
}

} // namespace

#include "PromptHelpAboutTest.moc"
