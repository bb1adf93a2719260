#include "ui/FileDropTarget.h"

#include <QAbstractScrollArea>
#include <QDragEnterEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>
#include <QWidget>

TDragFilesTrg::TDragFilesTrg(QObject *parent) : QObject(parent) {}

TDragFilesTrg::~TDragFilesTrg()
{
    Detach();
}

void TDragFilesTrg::SetEnabled(bool on)
{
    FEnabled = on;
    if (FReceiver)
        FReceiver->setAcceptDrops(on);
    if (FTarget)
        FTarget->setAcceptDrops(on);
}

void TDragFilesTrg::SetTarget(QWidget *target)
{
    if (target == FTarget)
        return;
    Detach();
    FTarget = target;
    Attach();
}

QWidget *TDragFilesTrg::DropReceiver() const
{
    // A list or other scroll area gets its drops on the viewport, not on itself.
    if (auto *area = qobject_cast<QAbstractScrollArea *>(FTarget.data()))
        return area->viewport();
    return FTarget;
}

void TDragFilesTrg::Attach()
{
    if (!FTarget)
        return;
    FReceiver = DropReceiver();
    FTargetAcceptedDrops = FTarget->acceptDrops();
    FReceiverAcceptedDrops = FReceiver->acceptDrops();
    FReceiver->installEventFilter(this);
    SetEnabled(FEnabled);
}

void TDragFilesTrg::Detach()
{
    if (FReceiver) {
        FReceiver->removeEventFilter(this);
        FReceiver->setAcceptDrops(FReceiverAcceptedDrops);
    }
    if (FTarget)
        FTarget->setAcceptDrops(FTargetAcceptedDrops);
    FReceiver = nullptr;
    FTarget = nullptr;
}

QStringList TDragFilesTrg::LocalPaths(const QMimeData *data)
{
    QStringList paths;
    if (!data || !data->hasUrls())
        return paths;
    const QList<QUrl> urls = data->urls();
    for (const QUrl &url : urls) {
        // Anything else (a web address, a file on a remote share) has no path to upload from.
        if (!url.isLocalFile() || url.toLocalFile().isEmpty())
            return {};
        paths << url.toLocalFile();
    }
    return paths;
}

bool TDragFilesTrg::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != FReceiver)
        return QObject::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
        auto *drag = static_cast<QDragMoveEvent *>(event);
        if (FEnabled && !LocalPaths(drag->mimeData()).isEmpty())
            drag->acceptProposedAction();
        else
            drag->ignore();
        return true;
    }
    case QEvent::DragLeave:
        return true;
    case QEvent::Drop:
        Drop(static_cast<QDropEvent *>(event));
        return true;
    default:
        return QObject::eventFilter(watched, event);
    }
}

void TDragFilesTrg::Drop(QDropEvent *event)
{
    const QStringList paths = FEnabled ? LocalPaths(event->mimeData()) : QStringList();
    if (paths.isEmpty()) {
        Files.clear(); // a refused drop leaves no paths of an earlier one behind
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    Files = paths;
    FDropPoint = FReceiver->mapTo(FTarget, event->position().toPoint());
    QMetaObject::invokeMethod(this, [this]() {
        if (OnDrop)
            OnDrop(this);
    }, Qt::QueuedConnection);
}
