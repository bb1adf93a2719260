#include "ui/EditsWindow.h"
#include "session/RemoteEdits.h"
#include "ui/UserMessages.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QShortcut>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

QPushButton *Button(const char *name, const QString &caption, const QString &accessibleName)
{
    auto *button = new QPushButton(caption);
    button->setObjectName(name);
    button->setAccessibleName(accessibleName);
    button->setAutoDefault(false);
    return button;
}

} // namespace

TFormEdits::TFormEdits(TRemoteEdits &edits, QWidget *parent) : QWidget(parent, Qt::Window), Edits(edits)
{
    setObjectName("FormEdits");
    setWindowTitle("Edited Files");

    ListEdits = new QTreeWidget;
    ListEdits->setObjectName("ListEdits");
    ListEdits->setAccessibleName("Edited files");
    ListEdits->setHeaderLabels({"File", "Subvolume", "State"});
    ListEdits->setRootIsDecorated(false);
    ListEdits->setSelectionMode(QAbstractItemView::SingleSelection);
    ListEdits->header()->setStretchLastSection(true);

    BtnOpenEditor = Button("BtnOpenEditor", "&Open in Editor", "Open in Editor");
    BtnUploadAgain = Button("BtnUploadAgain", "&Upload Again", "Upload Again");
    BtnEndEditing = Button("BtnEndEditing", "&End Editing", "End Editing");
    BtnClose = Button("BtnCloseEdits", "&Close", "Close");

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(BtnOpenEditor);
    buttons->addWidget(BtnUploadAgain);
    buttons->addWidget(BtnEndEditing);
    buttons->addStretch();
    buttons->addWidget(BtnClose);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(ListEdits, 1);
    layout->addLayout(buttons);
    resize(560, 220);

    connect(&Edits, &TRemoteEdits::EntryChanged, this, &TFormEdits::EntryChanged);
    connect(&Edits, &TRemoteEdits::EntryRemoved, this, &TFormEdits::EntryRemoved);
    connect(ListEdits, &QTreeWidget::itemSelectionChanged, this, &TFormEdits::SelectionChanged);
    connect(BtnOpenEditor, &QPushButton::clicked, this, [this] { Edits.OpenAgain(SelectedId()); });
    connect(BtnUploadAgain, &QPushButton::clicked, this, [this] { Edits.UploadAgain(SelectedId()); });
    connect(BtnEndEditing, &QPushButton::clicked, this, [this] { Edits.EndEditing(SelectedId()); });
    connect(BtnClose, &QPushButton::clicked, this, &QWidget::close);
    connect(new QShortcut(QKeySequence(Qt::Key_Escape), this), &QShortcut::activated, this, &QWidget::close);
    SelectionChanged();
}

void TFormEdits::ShowWindow()
{
    show();
    raise();
    activateWindow();
}

QTreeWidgetItem *TFormEdits::Row(int id) const
{
    for (int row = 0; row < ListEdits->topLevelItemCount(); ++row)
        if (ListEdits->topLevelItem(row)->data(0, Qt::UserRole).toInt() == id)
            return ListEdits->topLevelItem(row);
    return nullptr;
}

void TFormEdits::EntryChanged(int id)
{
    const TEditEntry *entry = Edits.Find(id);
    if (!entry)
        return;
    QTreeWidgetItem *item = Row(id);
    if (!item) {
        item = new QTreeWidgetItem(ListEdits);
        item->setData(0, Qt::UserRole, id);
        ListEdits->setCurrentItem(item);
    }
    item->setText(0, TextForDisplay(entry->HostName));
    item->setText(1, TextForDisplay(entry->Subvol));
    item->setText(2, TRemoteEdits::StateText(*entry));
    SelectionChanged();
}

void TFormEdits::EntryRemoved(int id)
{
    delete Row(id);
    SelectionChanged();
}

int TFormEdits::SelectedId() const
{
    const QList<QTreeWidgetItem *> selected = ListEdits->selectedItems();
    return selected.isEmpty() ? 0 : selected.front()->data(0, Qt::UserRole).toInt();
}

void TFormEdits::SelectionChanged()
{
    const TEditEntry *entry = Edits.Find(SelectedId());
    const bool opened = entry && entry->State != EditState::Opening;
    BtnOpenEditor->setEnabled(opened && !entry->Synced.isEmpty());
    BtnUploadAgain->setEnabled(opened && entry->State == EditState::Failed && !entry->Synced.isEmpty());
    BtnEndEditing->setEnabled(opened && !(Edits.Busy() && entry->State == EditState::Uploading));
}
