#include "ui/ListColumns.h"

#include <QApplication>
#include <QDateTime>
#include <QHBoxLayout>
#include <QVBoxLayout>
#include <QListWidget>
#include <QPainter>
#include <QScrollBar>
#include <QStandardItemModel>

namespace {

constexpr const char *kSortColumnProperty = "zarvelSortColumn";

bool KeyLess(const QVariant &a, const QVariant &b)
{
    return QVariant::compare(a, b) == QPartialOrdering::Less;
}

} // namespace

bool TColumnItem::operator<(const QListWidgetItem &other) const
{
    const QListWidget *list = listWidget() ? listWidget() : other.listWidget();
    const int column = list ? list->property(kSortColumnProperty).toInt() : 0;
    const QVariant mine = data(kSortKeyRole + column), theirs = other.data(kSortKeyRole + column);
    if (KeyLess(mine, theirs) || KeyLess(theirs, mine) || column == 0)
        return KeyLess(mine, theirs);
    return KeyLess(data(kSortKeyRole), other.data(kSortKeyRole));
}

TListHeader::TListHeader(QListWidget *list, const QStringList &labels, QWidget *parent)
    : QHeaderView(Qt::Horizontal, parent), list_(list)
{
    auto *model = new QStandardItemModel(0, int(labels.size()), this);
    model->setHorizontalHeaderLabels(labels);
    setModel(model);
    setSectionsClickable(true);
    setSortIndicatorShown(true);
    setSortIndicator(-1, Qt::AscendingOrder);
    setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    setFocusPolicy(Qt::NoFocus); // the list itself takes the keys; F6 and Tab reach it
    // One row of headings: the height the window gains goes to the list below.
    setSizePolicy(sizePolicy().horizontalPolicy(), QSizePolicy::Fixed);
    list->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    // The headings move with the lines when the list is scrolled sideways.
    connect(list->horizontalScrollBar(), &QScrollBar::valueChanged, this, &QHeaderView::setOffset);
    connect(this, &QHeaderView::sortIndicatorChanged, this, &TListHeader::ApplySort);
}

QSize TListHeader::minimumSizeHint() const
{
    return {QHeaderView::minimumSizeHint().width(), sizeHint().height()};
}

void TListHeader::SortBy(int column, Qt::SortOrder order)
{
    setSortIndicator(column, order);
    ApplySort(column, order); // also when the indicator was already there
}

void TListHeader::Resort()
{
    if (sortIndicatorSection() >= 0)
        list_->sortItems(sortIndicatorOrder());
}

void TListHeader::AlignColumn(int column, Qt::Alignment alignment)
{
    model()->setHeaderData(column, Qt::Horizontal, QVariant::fromValue(alignment | Qt::AlignVCenter),
                           Qt::TextAlignmentRole);
}

void TListHeader::ApplySort(int column, Qt::SortOrder order)
{
    list_->setProperty(kSortColumnProperty, column);
    list_->setSortingEnabled(column >= 0);
    if (column >= 0)
        list_->sortItems(order);
}

QWidget *HeadedList(TListHeader *header, QListWidget *list)
{
    auto *box = new QWidget;
    auto *layout = new QVBoxLayout(box);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    auto *row = new QHBoxLayout;
    // Over the list's lines, not its frame.
    row->setContentsMargins(list->frameWidth(), 0, list->frameWidth(), 0);
    row->addWidget(header);
    layout->addLayout(row);
    layout->addWidget(list, 1);
    return box;
}

TPCFileColumns::TPCFileColumns(const QHeaderView *header, QObject *parent)
    : QStyledItemDelegate(parent), header_(header)
{
}

void TPCFileColumns::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    constexpr int kPad = 4;
    QStyleOptionViewItem name = option;
    initStyleOption(&name, index);
    const int nameWidth = header_->sectionSize(0) - kPad;
    name.text = name.fontMetrics.elidedText(name.text, Qt::ElideMiddle, nameWidth);
    const QWidget *view = option.widget;
    (view ? view->style() : QApplication::style())->drawControl(QStyle::CE_ItemViewItem, &name, painter, view);

    painter->save();
    painter->setFont(name.font);
    const bool selected = option.state & QStyle::State_Selected;
    painter->setPen(option.palette.color(selected ? QPalette::HighlightedText : QPalette::Text));
    const QString texts[] = {SizeText(index.data(kSortKeyRole + 1).toLongLong()),
                             TimeText(index.data(kSortKeyRole + 2).toLongLong())};
    for (int column = 1; column <= 2; ++column) {
        const QRect cell(header_->sectionViewportPosition(column) + kPad, option.rect.top(),
                         header_->sectionSize(column) - 2 * kPad, option.rect.height());
        painter->drawText(cell, (column == 1 ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter, texts[column - 1]);
    }
    painter->restore();
}

QString TPCFileColumns::SizeText(qint64 size)
{
    return QString::number(size);
}

QString TPCFileColumns::TimeText(qint64 msecs)
{
    return QDateTime::fromMSecsSinceEpoch(msecs).toString("yyyy-MM-dd HH:mm");
}
