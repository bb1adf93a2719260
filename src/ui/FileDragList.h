#pragma once
// Drags between Zarvel's two file lists. Each list is a drag source that only ever copies:
// the PC list gives the selected files as local file URLs (so the remote list's file drop
// target, and the desktop, take them), the remote list gives its selected listing lines in a
// format of this program's own, which the PC list takes as a download.
#include <QListWidget>

#include <functional>
#include <string>
#include <vector>

class QMimeData;

// A file list whose drags carry what OnDragData makes of the selection; never a move.
class TFileDragList : public QListWidget {
    Q_OBJECT
public:
    explicit TFileDragList(QWidget *parent = nullptr);

    // Makes the drag's data from the current selection; null: nothing to drag.
    std::function<QMimeData *()> OnDragData;
    // What a drag of the current selection carries (the caller owns it); null when nothing.
    QMimeData *DragData() const;

protected:
    QMimeData *mimeData(const QList<QListWidgetItem *> &items) const override;
    QStringList mimeTypes() const override;
};

// The format of the remote list's drags.
inline constexpr const char *kHostLinesMimeType = "application/x-zarvel-host-lines";

// The remote list lines as drag data, marked with this process: another running Zarvel has
// another session, so its lines name no file of ours.
QMimeData *HostLinesMimeData(const std::vector<std::string> &lines);
// The lines of drag data from this process's remote list; empty for anything else.
std::vector<std::string> HostLinesOf(const QMimeData *data);
// The local files as drag data (file URLs), for file managers and the remote list alike.
QMimeData *LocalFilesMimeData(const QStringList &paths);

// Makes a list take drops of remote lines from this process (copy only) and hands them on
// from the event loop, after the drag has ended. Every other drag is refused.
class THostLinesDropTarget : public QObject {
    Q_OBJECT
public:
    THostLinesDropTarget(QAbstractItemView *list, std::function<void(std::vector<std::string>)> onDrop);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    std::function<void(std::vector<std::string>)> onDrop_; // the download of the dropped lines
};
