#include "ui/ListFocus.h"

#include <QListWidget>

#include <algorithm>

TListFocus::TListFocus(QListWidget *list) : list_(list), currentRow_(list->currentRow())
{
    for (const QListWidgetItem *item : list->selectedItems())
        selected_ << item->text();
}

TListFocus::~TListFocus()
{
    if (!list_ || !list_->isEnabled() || !list_->isVisible())
        return;
    int first = -1;
    for (int row = 0; row < list_->count(); ++row) {
        QListWidgetItem *item = list_->item(row);
        const bool wasSelected = selected_.contains(item->text());
        if (wasSelected && !item->isSelected())
            item->setSelected(true);
        if (wasSelected && first < 0)
            first = row;
    }
    // Deleted lines leave the current row near where they were.
    const int current = first >= 0 ? first : std::min(currentRow_, list_->count() - 1);
    if (current >= 0)
        list_->setCurrentRow(current, QItemSelectionModel::NoUpdate);
    // The progress dialog or a question was the active window meanwhile.
    list_->activateWindow();
    list_->setFocus(Qt::OtherFocusReason);
}
