#include "ui/FileDragList.h"

#include <QCoreApplication>
#include <QDropEvent>
#include <QMimeData>
#include <QTimer>
#include <QUrl>

TFileDragList::TFileDragList(QWidget *parent) : QListWidget(parent)
{
    setDragEnabled(true);
    setDragDropMode(QAbstractItemView::DragOnly);
    setDefaultDropAction(Qt::CopyAction);
}

QMimeData *TFileDragList::DragData() const
{
    return OnDragData ? OnDragData() : nullptr;
}

QMimeData *TFileDragList::mimeData(const QList<QListWidgetItem *> &) const
{
    // The items dragged are the selection, which OnDragData reads in list order.
    return DragData();
}

QStringList TFileDragList::mimeTypes() const
{
    return {kHostLinesMimeType, "text/uri-list"};
}

QMimeData *HostLinesMimeData(const std::vector<std::string> &lines)
{
    if (lines.empty())
        return nullptr;
    QByteArray bytes = QByteArray::number(QCoreApplication::applicationPid());
    for (const std::string &line : lines)
        bytes += '\n' + QByteArray::fromStdString(line);
    auto *data = new QMimeData;
    data->setData(kHostLinesMimeType, bytes);
    return data;
}

std::vector<std::string> HostLinesOf(const QMimeData *data)
{
    std::vector<std::string> lines;
    if (!data || !data->hasFormat(kHostLinesMimeType))
        return lines;
    const QList<QByteArray> parts = data->data(kHostLinesMimeType).split('\n');
    if (parts.size() < 2 || parts.front() != QByteArray::number(QCoreApplication::applicationPid()))
        return lines;
    for (qsizetype i = 1; i < parts.size(); ++i)
        lines.push_back(parts[i].toStdString());
    return lines;
}

QMimeData *LocalFilesMimeData(const QStringList &paths)
{
    if (paths.isEmpty())
        return nullptr;
    QList<QUrl> urls;
    for (const QString &path : paths)
        urls.push_back(QUrl::fromLocalFile(path));
    auto *data = new QMimeData;
    data->setUrls(urls);
    return data;
}

THostLinesDropTarget::THostLinesDropTarget(QAbstractItemView *list,
                                           std::function<void(std::vector<std::string>)> onDrop)
    : QObject(list), onDrop_(std::move(onDrop))
{
    list->viewport()->setAcceptDrops(true);
    list->viewport()->installEventFilter(this);
}

bool THostLinesDropTarget::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
        auto *drag = static_cast<QDropEvent *>(event);
        if (!HostLinesOf(drag->mimeData()).empty() && (drag->possibleActions() & Qt::CopyAction)) {
            drag->setDropAction(Qt::CopyAction);
            drag->accept();
        } else {
            drag->ignore();
        }
        return true;
    }
    case QEvent::Drop: {
        auto *drop = static_cast<QDropEvent *>(event);
        std::vector<std::string> lines = HostLinesOf(drop->mimeData());
        if (lines.empty()) {
            drop->ignore();
            return true;
        }
        drop->setDropAction(Qt::CopyAction);
        drop->accept();
        // The drag's own loop is still running: the download starts once it has ended.
        QTimer::singleShot(0, this, [this, lines = std::move(lines)] { onDrop_(lines); });
        return true;
    }
    default:
        return QObject::eventFilter(watched, event);
    }
}
