// The main window's keys: F5 refreshes, Delete deletes, F2 renames, F4 edits, Enter transfers,
// F1 helps, Esc gives up a waiting request and Ctrl+Q exits. Each key clicks the button (or
// triggers the menu entry) that does the same,
// so whatever decides when a button may act decides for its key too.
#include "ui/LocalPCGroup.h"
#include "ui/MainWindow.h"
#include "ui/TandemGroup.h"
#include "ui/TransferGroup.h"

#include <QAction>
#include <QKeyEvent>
#include <QListWidget>
#include <QPushButton>

#include <map>

namespace {

// Keys of one list, each standing for a button; other keys pass on to the list.
class TListKeys : public QObject {
public:
    TListKeys(QWidget *list, std::map<int, QPushButton *> buttons)
        : QObject(list), buttons_(std::move(buttons))
    {
        list->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() != QEvent::KeyPress)
            return QObject::eventFilter(watched, event);
        const auto *key = static_cast<QKeyEvent *>(event);
        // Keypad Enter is Enter; with Ctrl, Alt or Shift a key means something else.
        if ((key->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier)
            return false;
        const auto it = buttons_.find(key->key() == Qt::Key_Enter ? Qt::Key_Return : key->key());
        if (it == buttons_.end())
            return false;
        if (it->second->isEnabled())
            it->second->click();
        return true;
    }

private:
    std::map<int, QPushButton *> buttons_; // key -> the button it clicks
};

bool Holds(const QWidget *group, const QWidget *widget)
{
    return widget && (widget == group || group->isAncestorOf(widget));
}

void ClickIfEnabled(QPushButton *button)
{
    if (button->isEnabled())
        button->click();
}

} // namespace

void TFormMain::WireKeys()
{
    HelpItem->setShortcut(QKeySequence(Qt::Key_F1));
    ExitItem->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));

    new TListKeys(GroupBoxPC->FileListBoxPC, {{Qt::Key_Delete, GroupBoxPC->BtnDeletePC},
                                              {Qt::Key_F2, GroupBoxPC->BtnRenamePC},
                                              {Qt::Key_Return, GroupBoxMode->BtnUpload}});
    new TListKeys(GroupBoxTandem->ListBoxTanFiles, {{Qt::Key_Delete, GroupBoxTandem->BtnDeleteTandem},
                                                    {Qt::Key_F2, GroupBoxTandem->BtnRenameTandem},
                                                    {Qt::Key_F4, GroupBoxTandem->BtnEditTandem},
                                                    {Qt::Key_Return, GroupBoxMode->BtnDownload}});
}

void TFormMain::keyPressEvent(QKeyEvent *event)
{
    // F5 reaches the window from whichever control had the focus, none of which uses it.
    if (event->key() == Qt::Key_F5 && event->modifiers() == Qt::NoModifier) {
        Guarded([this] { RefreshFocusedList(); });
        return;
    }
    // Esc gives up a request that waits (a listing the server never ends), as Disconnect does.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier && Session_->ClientBusy()) {
        Guarded([this] { Session_->DisconnectClick(); });
        return;
    }
    QMainWindow::keyPressEvent(event);
}

void TFormMain::RefreshFocusedList()
{
    const QWidget *focus = focusWidget();
    const bool pc = Holds(GroupBoxPC, focus);
    const bool tandem = Holds(GroupBoxTandem, focus);
    if (pc || !tandem)
        ClickIfEnabled(GroupBoxPC->BtnRefreshPC);
    if (tandem || !pc)
        ClickIfEnabled(GroupBoxTandem->BtnRefreshTandem);
}
