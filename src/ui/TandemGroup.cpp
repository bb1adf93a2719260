#include "session/ListingLine.h"
#include "ui/BuddyLabel.h"
#include "ui/FileDragList.h"
#include "ui/ListColumns.h"
#include "ui/TandemGroup.h"
#include "ui/UserMessages.h"

#include <QAction>
#include <QApplication>
#include <QFocusEvent>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

namespace {

QPushButton *Button(const char *name, const QString &caption, const QString &accessibleName)
{
    auto *button = new QPushButton(caption);
    button->setObjectName(name);
    button->setAccessibleName(accessibleName);
    button->setEnabled(false);
    return button;
}

// The columns of the host's listing lines, in characters: the name, the file code ending in
// column 17, the size ending in column 34, the date and time, then owner and security.
constexpr int kColumnChars[] = {13, 4, 17, 19};

// The heading row over the listing lines; the columns line up with the fixed-pitch text.
TListHeader *ListingHeader(QListWidget *list)
{
    auto *header = new TListHeader(list, {"File", "Code", "EOF", "Last Modification", "Owner  RWEP"});
    header->setObjectName("HeaderTanFiles");
    header->setAccessibleName("Tandem file columns");
    header->setFont(list->font());
    header->AlignColumn(1, Qt::AlignRight);
    header->AlignColumn(2, Qt::AlignRight);
    const int pitch = QFontMetrics(list->font()).horizontalAdvance(QLatin1Char('0'));
    // A heading's text sits a margin inside its section; right-aligned ones reach to the
    // column's last character when their section is two margins wider.
    const int margin = header->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, header);
    const int widths[] = {kColumnChars[0] * pitch, kColumnChars[1] * pitch + 2 * margin,
                          kColumnChars[2] * pitch, kColumnChars[3] * pitch - 2 * margin};
    for (int column = 0; column < 4; ++column) {
        header->setSectionResizeMode(column, QHeaderView::Fixed);
        header->resizeSection(column, widths[column]);
    }
    header->setStretchLastSection(true);
    return header;
}

} // namespace

void TSubvolComboBox::showPopup()
{
    if (OnDropDown)
        OnDropDown();
    QComboBox::showPopup();
}

TTandemGroup::TTandemGroup(QWidget *parent) : QGroupBox("Tandem", parent)
{
    setObjectName("GroupBoxTandem");
    setAccessibleName("Tandem");
    setMinimumSize(209, 361);

    ComboBoxTanSubvol = new TSubvolComboBox;
    ComboBoxTanSubvol->setObjectName("ComboBoxTanSubvol");
    ComboBoxTanSubvol->setAccessibleName("Subvolume");
    ComboBoxTanSubvol->setEditable(true);
    ComboBoxTanSubvol->lineEdit()->setAccessibleName("Subvolume");
    // The history grows only through ChangeSubvol, never from what is typed.
    ComboBoxTanSubvol->setInsertPolicy(QComboBox::NoInsert);
    ComboBoxTanSubvol->setCompleter(nullptr);
    // The box would pick a history entry by itself when editing ends on a matching text (as
    // when its list opens); only a choice in the list or Enter may change the subvolume.
    disconnect(ComboBoxTanSubvol->lineEdit(), &QLineEdit::editingFinished, ComboBoxTanSubvol, nullptr);
    ComboBoxTanSubvol->installEventFilter(this);
    ComboBoxTanSubvol->lineEdit()->installEventFilter(this);
    // Typing, or choosing an entry: a change. Text set by the program is neither.
    connect(ComboBoxTanSubvol->lineEdit(), &QLineEdit::textEdited, this, [this] {
        if (OnSubvolChange)
            OnSubvolChange();
    });
    connect(ComboBoxTanSubvol, &QComboBox::activated, this, [this] {
        if (OnSubvolChange)
            OnSubvolChange();
    });

    ListBoxTanFiles = new TFileDragList;
    ListBoxTanFiles->setObjectName("ListBoxTanFiles");
    ListBoxTanFiles->setAccessibleName("Tandem files");
    ListBoxTanFiles->setSelectionMode(QAbstractItemView::ExtendedSelection);
    ListBoxTanFiles->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    ListBoxTanFiles->setUniformItemSizes(true); // long listings lay out without measuring each line
    ListBoxTanFiles->installEventFilter(this);
    ListBoxTanFiles->OnDragData = [this] { return HostLinesMimeData(SelectedLines()); };

    ComboBoxTanFilter = new QComboBox;
    ComboBoxTanFilter->setObjectName("ComboBoxTanFilter");
    ComboBoxTanFilter->setAccessibleName("Tandem file-code filter");
    HeaderTanFiles = ListingHeader(ListBoxTanFiles);

    BtnRenameTandem = Button("BtnRenameTandem", "Rena&me", "Rename Tandem file");
    BtnDeleteTandem = Button("BtnDeleteTandem", "Dele&te", "Delete Tandem file");
    BtnRefreshTandem = Button("BtnRefreshTandem", "&Refresh", "Refresh Tandem files");
    BtnEditTandem = Button("BtnEditTandem", "E&dit", "Edit Tandem file");
    BtnEditTandem->setToolTip("Edit the selected file in the PC's editor; every save goes back to the host (F4)");
    // F4 itself is one of the list's keys (MainWindowKeys.cpp); the menu only names it.
    EditItem = new QAction("&Edit\tF4", ListBoxTanFiles);
    EditItem->setObjectName("EditItem");
    ListBoxTanFiles->addAction(EditItem);
    ListBoxTanFiles->setContextMenuPolicy(Qt::ActionsContextMenu);
    connect(EditItem, &QAction::triggered, BtnEditTandem, &QPushButton::click);
    for (QWidget *control : {static_cast<QWidget *>(ComboBoxTanSubvol), static_cast<QWidget *>(ListBoxTanFiles),
                             static_cast<QWidget *>(ComboBoxTanFilter)})
        control->setEnabled(false);

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(BtnRenameTandem);
    buttons->addWidget(BtnDeleteTandem);
    buttons->addWidget(BtnRefreshTandem);
    buttons->addWidget(BtnEditTandem);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(CaptionedRow("Sub&volume", ComboBoxTanSubvol));
    layout->addWidget(HeadedList(HeaderTanFiles, ListBoxTanFiles), 1);
    layout->addLayout(CaptionedRow("File &code", ComboBoxTanFilter));
    layout->addLayout(buttons);
}

void TTandemGroup::ClearFiles()
{
    ListBoxTanFiles->clear();
}

namespace {

// One listing line. Only its bytes are kept: the batches read names from them, and a name
// that is not UTF-8 must reach the server unchanged. The text shown is made when the list
// asks for it; kept as well, with the item's table of roles, a line took seven times its
// size, and a listing that never ends took all memory.
// The keys the heading's columns sort by are read from the line when a sort asks for them.
class TListingItem : public TColumnItem {
public:
    explicit TListingItem(const std::string &line)
        : TColumnItem(nullptr, UserType), line_(QByteArray::fromStdString(line))
    {
    }
    QVariant data(int role) const override
    {
        // A mark of Compare names the state beside the line.
        if (role == Qt::AccessibleTextRole && QListWidgetItem::data(role).isValid())
            return QListWidgetItem::data(role);
        if (role == Qt::DisplayRole || role == Qt::AccessibleTextRole)
            return TextForShowing(line_.toStdString());
        if (role == Qt::UserRole)
            return line_;
        if (role >= kSortKeyRole && role <= kSortKeyRole + 4)
            return SortKey(role - kSortKeyRole);
        return QListWidgetItem::data(role);
    }

private:
    QVariant SortKey(int column) const
    {
        const std::string_view line(line_.constData(), size_t(line_.size()));
        switch (column) {
        case 0: return QByteArray::fromStdString(ListingLineName(line));
        case 1: return ListingLineFileCode(line);
        case 2: return qint64(ListingLineSize(line));
        case 3: return qint64(ListingLineTimeKey(line));
        default: return line_.mid(53); // owner and security
        }
    }

    QByteArray line_;
};

} // namespace

void TTandemGroup::AddFile(const std::string &line)
{
    ListBoxTanFiles->addItem(new TListingItem(line));
}

std::vector<std::string> TTandemGroup::SelectedLines() const
{
    std::vector<std::string> lines;
    for (int row = 0; row < ListBoxTanFiles->count(); ++row) {
        const QListWidgetItem *item = ListBoxTanFiles->item(row);
        if (item->isSelected())
            lines.push_back(item->data(Qt::UserRole).toByteArray().toStdString());
    }
    return lines;
}

std::string TTandemGroup::SubvolText() const
{
    // The bytes of what is shown: a subvolume entered before, or one of the history, keeps
    // the bytes it came with (they need not be UTF-8); only typed text is taken as UTF-8.
    const QString text = ComboBoxTanSubvol->currentText();
    if (text == TextForDisplay(ShownSubvol))
        return ShownSubvol;
    const int row = ComboBoxTanSubvol->findText(text, Qt::MatchFixedString | Qt::MatchCaseSensitive);
    if (row >= 0)
        return ComboBoxTanSubvol->itemData(row).toByteArray().toStdString();
    return text.toStdString();
}

void TTandemGroup::SetSubvolText(const std::string &text)
{
    ShownSubvol = text;
    const QString shown = TextForDisplay(text);
    // The entry shown is the current one, so the list opens on it.
    ComboBoxTanSubvol->setCurrentIndex(ComboBoxTanSubvol->findText(shown, Qt::MatchFixedString | Qt::MatchCaseSensitive));
    ComboBoxTanSubvol->setEditText(shown);
}

void TTandemGroup::AddSubvolHistory(const std::string &subvol)
{
    const QString text = TextForDisplay(subvol);
    int row = 0;
    for (; row < ComboBoxTanSubvol->count(); ++row) {
        const int order = QString::compare(ComboBoxTanSubvol->itemText(row), text, Qt::CaseInsensitive);
        if (order == 0)
            return;
        if (order > 0)
            break;
    }
    const QString shown = ComboBoxTanSubvol->currentText();
    ComboBoxTanSubvol->insertItem(row, text, QByteArray::fromStdString(subvol));
    ComboBoxTanSubvol->setEditText(shown); // inserting may select the new entry
}

void TTandemGroup::SetFilterItems(const std::vector<FilterItem> &items)
{
    const QSignalBlocker quiet(ComboBoxTanFilter); // filling is no choice of the user
    ComboBoxTanFilter->clear();
    for (const FilterItem &item : items)
        ComboBoxTanFilter->addItem(TextForDisplay(item.Label), item.Index);
    ComboBoxTanFilter->setCurrentIndex(items.empty() ? -1 : 0);
}

int TTandemGroup::SelectedFilterIndex() const
{
    const QVariant index = ComboBoxTanFilter->currentData();
    return index.isValid() ? index.toInt() : -1;
}

bool TTandemGroup::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == ComboBoxTanSubvol || watched == ComboBoxTanSubvol->lineEdit())
        return SubvolKey(event) || QGroupBox::eventFilter(watched, event);
    if (watched == ListBoxTanFiles && event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        // Ctrl+A arrives as the control character 1, as a terminal would give it.
        const char character = key->matches(QKeySequence::SelectAll) ? '\x01'
                               : key->text().size() == 1 ? key->text().at(0).toLatin1() : '\0';
        if (character && OnFilesKeyPress) {
            OnFilesKeyPress(character);
            return character == '\x01';
        }
    }
    return QGroupBox::eventFilter(watched, event);
}

// The subvolume box's own keys and its focus leaving; true when the event is consumed.
bool TTandemGroup::SubvolKey(QEvent *event)
{
    if (event->type() == QEvent::FocusOut) {
        const auto *focus = static_cast<QFocusEvent *>(event);
        // Only focus moving on to another control of this window leaves the box: opening the
        // history list, or another window becoming active, keeps the half-typed text as it is.
        const QWidget *next = QApplication::focusWidget();
        const bool leaves = focus->reason() != Qt::PopupFocusReason && focus->reason() != Qt::ActiveWindowFocusReason
                            && next && next != ComboBoxTanSubvol && next->window() == window();
        if (leaves && !ComboBoxTanSubvol->hasFocus() && OnSubvolExit)
            OnSubvolExit();
        return false;
    }
    if (event->type() != QEvent::KeyPress)
        return false;
    const auto *key = static_cast<QKeyEvent *>(event);
    if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
        if (OnSubvolKeyPress)
            OnSubvolKeyPress('\r');
        return true; // the box itself has nothing to do with Enter
    }
    if (key->text().isEmpty() || !OnSubvolKeyPress)
        return false;
    OnSubvolKeyPress(key->text().at(0).unicode() < 0x80 ? char(key->text().at(0).unicode()) : '?');
    return false;
}
