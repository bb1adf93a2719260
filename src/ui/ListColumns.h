#pragma once
// Columns over the two file lists. The lists stay lists of lines (the accessors and the
// batches read an item's text and bytes as before); a heading row above each names the
// columns, and a click on a heading sorts the list by that column's key.
#include <QHeaderView>
#include <QListWidgetItem>
#include <QStyledItemDelegate>

class QListWidget;

// Role of column 0's sort key; column n's key is at kSortKeyRole + n.
inline constexpr int kSortKeyRole = Qt::UserRole + 16;

// An item that sorts by the key of its list's sort column, then by its first column's key.
class TColumnItem : public QListWidgetItem {
public:
    using QListWidgetItem::QListWidgetItem;
    bool operator<(const QListWidgetItem &other) const override;
};

// The heading row of a list: clicking a heading sorts the list by that column, a second
// click reverses the order; lines added later take their place in that order.
class TListHeader : public QHeaderView {
    Q_OBJECT
public:
    TListHeader(QListWidget *list, const QStringList &labels, QWidget *parent = nullptr);

    // Sorts by the column from now on (as a click does); -1 keeps the lines as they came.
    void SortBy(int column, Qt::SortOrder order);
    // Puts the lines in the order chosen again (after they were added unsorted).
    void Resort();
    // Sets a column's heading alignment (numbers read better right-aligned).
    void AlignColumn(int column, Qt::Alignment alignment);
    // One line of text high: the scroll area's own minimum would make the row three lines high.
    QSize minimumSizeHint() const override;

private:
    void ApplySort(int column, Qt::SortOrder order);

    QListWidget *list_; // the list it heads and sorts
};

// The header above its list, its columns over the list's lines.
QWidget *HeadedList(TListHeader *header, QListWidget *list);

// Paints the PC list's lines as columns under its header: the name (the item's text),
// then the size and the modification time from the items' sort keys.
class TPCFileColumns : public QStyledItemDelegate {
public:
    TPCFileColumns(const QHeaderView *header, QObject *parent);
    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;

    // How the columns show the size and the time (milliseconds since the epoch, local time).
    static QString SizeText(qint64 size);
    static QString TimeText(qint64 msecs);

private:
    const QHeaderView *header_; // where each column sits
};
