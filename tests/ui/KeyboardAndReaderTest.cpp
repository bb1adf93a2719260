// Every window as a keyboard and a screen reader meet it, found by walking the widget trees,
// so controls added later are checked too: names by purpose, one letter per command, the Tab
// chain between the two lists, F6, Esc; and the File menu's commands as the session allows.
#include "ui/MainWindowFixture.h"
#include "ui/AboutBox.h"
#include "ui/CertificateDialog.h"
#include "ui/ConfigureDialog.h"
#include "ui/ConnectDialog.h"
#include "ui/HelpWindow.h"
#include "ui/LocalPCGroup.h"
#include "ui/LogWindow.h"
#include "ui/PromptDialog.h"
#include "ui/TandemGroup.h"
#include "ui/TransferGroup.h"
#include "ui/TransferProgressDialog.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAccessible>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

#include <map>

namespace {

// The name a screen reader gives a control: the label that points at it, when there is one
// (on Linux Qt names a combo box by its value and leaves its name to that relation), else
// its own.
QString HeardName(QWidget *widget)
{
    QAccessibleInterface *face = QAccessible::queryAccessibleInterface(widget);
    if (!face)
        return {};
    // Its group box is a label too, for what it holds; the caption is the one that names it.
    for (const auto &[other, relation] : face->relations(QAccessible::Label))
        if (qobject_cast<QLabel *>(other->object()) && !other->text(QAccessible::Name).isEmpty())
            return other->text(QAccessible::Name);
    return face->text(QAccessible::Name);
}

// What a control holds now, which must not stand in for its name.
QString CurrentValue(QWidget *widget)
{
    if (auto *box = qobject_cast<QComboBox *>(widget))
        return box->currentText();
    if (auto *edit = qobject_cast<QLineEdit *>(widget))
        return edit->text();
    if (auto *spin = qobject_cast<QAbstractSpinBox *>(widget))
        return spin->text();
    return {};
}

bool TakesTab(const QWidget *widget)
{
    return (widget->focusPolicy() & Qt::TabFocus) == Qt::TabFocus && !widget->focusProxy();
}

// The controls of a window that Tab can reach, including inner ones (the text field of an
// editable box); `outer` leaves out those inside another such control.
QList<QWidget *> FocusableControls(QWidget *window, bool outer = false)
{
    QList<QWidget *> controls;
    for (QWidget *widget : window->findChildren<QWidget *>()) {
        if (widget->window() != window || !TakesTab(widget))
            continue;
        bool inner = false;
        for (QWidget *up = widget->parentWidget(); up && up != window; up = up->parentWidget())
            inner = inner || TakesTab(up);
        if (!(outer && inner))
            controls << widget;
    }
    return controls;
}

// The letter after a single '&', in upper case; none when the text has no mnemonic.
QChar Mnemonic(const QString &text)
{
    for (qsizetype i = 0; i + 1 < text.size(); ++i) {
        if (text[i] != '&')
            continue;
        if (text[i + 1] != '&')
            return text[i + 1].toUpper();
        ++i;
    }
    return {};
}

// Every mnemonic of a window with what carries it: buttons, captions of boxes, tabs, and
// the titles of its menu bar.
std::multimap<QChar, QString> Mnemonics(QWidget *window)
{
    std::multimap<QChar, QString> letters;
    const auto add = [&](const QString &text) {
        if (const QChar letter = Mnemonic(text); !letter.isNull())
            letters.emplace(letter, text);
    };
    for (QWidget *widget : window->findChildren<QWidget *>()) {
        if (widget->window() != window)
            continue;
        if (auto *button = qobject_cast<QAbstractButton *>(widget))
            add(button->text());
        else if (auto *label = qobject_cast<QLabel *>(widget); label && label->buddy())
            add(label->text());
        else if (auto *group = qobject_cast<QGroupBox *>(widget))
            add(group->title());
        else if (auto *tabs = qobject_cast<QTabWidget *>(widget))
            for (int page = 0; page < tabs->count(); ++page)
                add(tabs->tabText(page));
        else if (auto *bar = qobject_cast<QMenuBar *>(widget))
            for (const QAction *menu : bar->actions())
                add(menu->text());
    }
    return letters;
}

void ExpectUniqueLetters(const std::multimap<QChar, QString> &letters, const QString &where)
{
    for (auto it = letters.begin(); it != letters.end(); it = letters.upper_bound(it->first))
        if (letters.count(it->first) > 1) {
            QStringList holders;
            for (auto [from, to] = letters.equal_range(it->first); from != to; ++from)
                holders << from->second;
            ADD_FAILURE() << where.toStdString() << ": Alt+" << QString(it->first).toStdString() << " is "
                          << holders.join(", ").toStdString();
        }
}

bool HasLetter(QWidget *control, QWidget *window)
{
    if (auto *button = qobject_cast<QAbstractButton *>(control); button && !Mnemonic(button->text()).isNull())
        return true;
    for (QLabel *label : window->findChildren<QLabel *>())
        if (label->buddy() == control && !Mnemonic(label->text()).isNull())
            return true;
    return false;
}

class KeyboardAndReader : public MainWindowFixture {
protected:
    // The main window and every other window the program shows, each made as the program does.
    QList<QWidget *> EveryWindow()
    {
        // Owned by the main window, as the program's are.
        help = new TFormHelp(form.get());
        prompt = new TFormPrompt(form.get(), "Enter new name for 'PROGC'", &promptValue);
        TCertificateQuestion question;
        question.Host = "127.0.0.1";
        question.Port = 21;
        certificate = new TFormCertificate(question, form.get());
        return {form.get(), windows.AboutBox, windows.FormConnect, windows.FormStatus, windows.FormConfig,
                windows.FormTransfer, help, prompt, certificate};
    }
    void Activate()
    {
        form->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    }
    // Tabs (or Shift+Tabs) from one control until another has the focus; -1 when it never does.
    int TabsBetween(QWidget *from, QWidget *to, bool forward)
    {
        from->setFocus(Qt::TabFocusReason);
        for (int steps = 1; steps <= 60; ++steps) {
            QTest::keyClick(QApplication::focusWidget(), forward ? Qt::Key_Tab : Qt::Key_Backtab,
                            forward ? Qt::NoModifier : Qt::ShiftModifier);
            if (QApplication::focusWidget() == to)
                return steps;
        }
        return -1;
    }
    int Nearest(QWidget *from, QWidget *to)
    {
        const int forward = TabsBetween(from, to, true), back = TabsBetween(from, to, false);
        return forward < 0 ? back : back < 0 ? forward : std::min(forward, back);
    }

    QString promptValue = "PROGC";
    TFormHelp *help = nullptr;
    TFormPrompt *prompt = nullptr;
    TFormCertificate *certificate = nullptr;
};

// With the session open every control takes input, so every one is walked.
TEST_F(KeyboardAndReader, everyFocusableControlIsNamedByItsPurposeNotItsValue)
{
    ASSERT_TRUE(Connect());
    int checked = 0;
    for (QWidget *window : EveryWindow()) {
        const std::string where = window->objectName().toStdString();
        QStringList names;
        const QList<QWidget *> outer = FocusableControls(window, true);
        for (QWidget *control : FocusableControls(window)) {
            ++checked;
            const QString name = HeardName(control);
            const QString value = CurrentValue(control);
            const std::string what = where + " " + control->metaObject()->className() + " "
                                     + control->objectName().toStdString() + " \"" + name.toStdString() + "\"";
            EXPECT_FALSE(name.isEmpty()) << what;
            EXPECT_TRUE(value.isEmpty() || name != value) << what << " is named by its value \"" << value.toStdString() << "\"";
            if (outer.contains(control))
                names << name;
        }
        for (const QString &name : names)
            EXPECT_EQ(names.count(name), 1) << where << ": two controls heard as \"" << name.toStdString() << "\"";
    }
    EXPECT_GE(checked, 60) << "the walk found too few controls";
    for (QWidget *part : form->statusBar()->findChildren<QWidget *>()) {
        if (!qobject_cast<QLabel *>(part)) { // the panels are heard by their texts
            EXPECT_FALSE(HeardName(part).isEmpty()) << part->metaObject()->className();
        }
    }
    // The two sides' look-alike buttons say which side they act on.
    EXPECT_EQ(HeardName(form->GroupBoxPC->BtnRenamePC), "Rename PC file");
    EXPECT_EQ(HeardName(form->GroupBoxTandem->BtnRenameTandem), "Rename Tandem file");
    EXPECT_EQ(HeardName(form->GroupBoxPC->FilterComboBoxPC), "PC file filter");
    EXPECT_EQ(HeardName(form->GroupBoxTandem->ComboBoxTanFilter), "Tandem file-code filter");
}

TEST_F(KeyboardAndReader, menuAndControlLettersAreUniqueAndEveryMainWindowControlHasOne)
{
    for (QWidget *window : EveryWindow())
        ExpectUniqueLetters(Mnemonics(window), window->objectName());
    for (QMenu *menu : form->menuBar()->findChildren<QMenu *>()) {
        std::multimap<QChar, QString> letters;
        for (const QAction *item : menu->actions()) {
            if (item->isSeparator())
                continue;
            EXPECT_FALSE(Mnemonic(item->text()).isNull()) << item->text().toStdString() << " has no letter";
            letters.emplace(Mnemonic(item->text()), item->text());
        }
        ExpectUniqueLetters(letters, menu->title());
    }
    // The lists are reached with Tab and F6; every other control of the main window by a letter.
    for (QWidget *control : FocusableControls(form.get(), true)) {
        if (!qobject_cast<QAbstractItemView *>(control)) {
            EXPECT_TRUE(HasLetter(control, form.get())) << control->objectName().toStdString() << " has no letter";
        }
    }
}

TEST_F(KeyboardAndReader, listsAreFewTabsApartAndF6SwitchesBetweenThem)
{
    ASSERT_TRUE(Connect());
    Activate();
    QWidget *pc = form->GroupBoxPC->FileListBoxPC;
    QWidget *tandem = form->GroupBoxTandem->ListBoxTanFiles;
    EXPECT_LE(Nearest(pc, tandem), 5);
    EXPECT_LE(Nearest(tandem, pc), 5);
    // Group by group: from the PC list, Tab passes the PC side before the transfer controls.
    EXPECT_LT(TabsBetween(pc, form->GroupBoxPC->BtnRefreshPC, true), TabsBetween(pc, form->GroupBoxMode->BtnUpload, true));
    EXPECT_LT(TabsBetween(pc, form->GroupBoxMode->BtnUpload, true),
              TabsBetween(pc, form->GroupBoxTandem->ComboBoxTanSubvol, true));

    form->GroupBoxMode->BtnDownload->setFocus();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_F6);
    EXPECT_EQ(QApplication::focusWidget(), pc) << "from outside the PC side to the PC list";
    QTest::keyClick(pc, Qt::Key_F6);
    EXPECT_EQ(QApplication::focusWidget(), tandem);
    QTest::keyClick(tandem, Qt::Key_F6, Qt::ShiftModifier);
    EXPECT_EQ(QApplication::focusWidget(), pc);
}

// Disconnect only with a session to end; Connect with one open asks to end it first, and a
// No keeps it.
TEST_F(KeyboardAndReader, disconnectNeedsASessionAndConnectOffersToEndIt)
{
    EXPECT_FALSE(form->DisconnectItem->isEnabled());
    EXPECT_TRUE(form->ConnectItem->isEnabled());
    ASSERT_TRUE(Connect());
    EXPECT_TRUE(form->DisconnectItem->isEnabled());
    EXPECT_TRUE(form->ConnectItem->isEnabled());

    messages.answers = {std::nullopt};
    form->ConnectItem->trigger();
    EXPECT_TRUE(form->Session().Connected) << "No keeps the session";
    messages.answers = {QString()};
    // Ending the session runs the event loop; the dialog comes after it.
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, windows.FormConnect, [this] {
        if (windows.FormConnect->isVisible())
            windows.FormConnect->reject();
    });
    closer.start(20);
    form->ConnectItem->trigger();
    EXPECT_FALSE(form->Session().Connected);
    EXPECT_FALSE(form->DisconnectItem->isEnabled());
    const QString question = "prompt: Connect | End the session with " + QString::fromStdString(server->Host()) + " first?";
    EXPECT_EQ(messages.shown, (QStringList{question, question}));
}

TEST_F(KeyboardAndReader, escClosesTheLogHelpAndAboutWindows)
{
    form->LogWindowItem->trigger();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(windows.FormStatus));
    QTest::keyClick(windows.FormStatus->MemoStatus, Qt::Key_Escape);
    EXPECT_FALSE(windows.FormStatus->isVisible());

    EveryWindow();
    help->show();
    QTest::keyClick(help->Memo1, Qt::Key_Escape);
    EXPECT_FALSE(help->isVisible());

    TAboutBox *about = windows.AboutBox;
    about->tmrSplashTimer(); // the splash is over: the box is the about dialog
    about->show();
    EXPECT_TRUE(about->btnClose->isVisible());
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(about->btnClose, &escape);
    EXPECT_FALSE(about->isVisible());
    about->show();
    about->btnClose->click();
    EXPECT_FALSE(about->isVisible());
    EXPECT_EQ(windows.AboutBox->btnClose->text(), "&Close");
}

} // namespace
