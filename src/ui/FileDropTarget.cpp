#include "ui/FileDropTarget.h"

#include <QAbstractScrollArea>
#include <QDragEnterEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>
#include <QWidget>

namespace {

bool IsDragOrDrop(const QEvent *event)
{
    const QEvent::Type type = event->type();
    return type == QEvent::DragEnter || type == QEvent::DragMove || type == QEvent::Drop;
}

} // namespace

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
    if (FStandIn)
        FStandIn->setAcceptDrops(on || FStandInAcceptedDrops);
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
    if (!FTarget->isWindow() && FTarget->parentWidget()) {
        FStandIn = FTarget->parentWidget();
        FStandInAcceptedDrops = FStandIn->acceptDrops();
        FStandIn->installEventFilter(this);
    }
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
    if (FStandIn) {
        FStandIn->removeEventFilter(this);
        FStandIn->setAcceptDrops(FStandInAcceptedDrops);
    }
    FStandIn = nullptr;
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
    QPoint at;
    if (watched == FStandIn) {
        // Anything but a drag over the disabled target is the stand-in's own business; drags
        // elsewhere on it are refused unless it takes drops itself.
        if (!OverDisabledTarget(event, at)) {
            if (!IsDragOrDrop(event) || FStandInAcceptedDrops)
                return QObject::eventFilter(watched, event);
            event->ignore();
            return true;
        }
    } else if (watched != FReceiver) {
        return QObject::eventFilter(watched, event);
    }
    switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove:
        return Drag(event);
    case QEvent::DragLeave:
        return true;
    case QEvent::Drop:
        if (watched == FReceiver)
            at = FReceiver->mapTo(FTarget, static_cast<QDropEvent *>(event)->position().toPoint());
        Drop(static_cast<QDropEvent *>(event), at);
        return true;
    default:
        return QObject::eventFilter(watched, event);
    }
}

bool TDragFilesTrg::OverDisabledTarget(QEvent *event, QPoint &at) const
{
    if (!IsDragOrDrop(event) || !FTarget || FTarget->isEnabled())
        return false;
    at = FTarget->mapFrom(FStandIn, static_cast<QDropEvent *>(event)->position().toPoint());
    return FTarget->rect().contains(at);
}

bool TDragFilesTrg::Drag(QEvent *event)
{
    auto *drag = static_cast<QDragMoveEvent *>(event);
    if (FEnabled && !LocalPaths(drag->mimeData()).isEmpty())
        drag->acceptProposedAction();
    else
        drag->ignore();
    return true;
}

void TDragFilesTrg::Drop(QDropEvent *event, QPoint at)
{
    const QStringList paths = FEnabled ? LocalPaths(event->mimeData()) : QStringList();
    if (paths.isEmpty()) {
        Files.clear(); // a refused drop leaves no paths of an earlier one behind
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    Files = paths;
    FDropPoint = at;
    QMetaObject::invokeMethod(this, [this]() {
        if (OnDrop)
            OnDrop(this);
    }, Qt::QueuedConnection);
}
