#pragma once
// A non-visual helper that makes an existing control accept files dragged from the desktop
// and dropped on it. It only collects the dropped paths and reports the drop; what happens to
// the files is its owner's business.
#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QStringList>

#include <functional>

class QDropEvent;
class QMimeData;
class QWidget;

class TDragFilesTrg : public QObject {
    Q_OBJECT
public:
    explicit TDragFilesTrg(QObject *parent = nullptr);
    ~TDragFilesTrg() override;                    // gives the target its own drop handling back

    bool Enabled() const { return FEnabled; }     // the target accepts drops
    void SetEnabled(bool on);
    QWidget *Target() const { return FTarget; }   // the control that receives drops; none when destroyed
    void SetTarget(QWidget *target);
    int FileCount() const { return int(Files.size()); } // paths of the last drop
    QPoint DropPoint() const { return FDropPoint; } // where the last drop landed, in the target's coordinates

    // The full local paths of the last drop, in the order the desktop gave them, kept whole.
    QStringList Files;
    // Fired from the event loop after a drop, once the desktop's drag has finished, so a long
    // action on the files never holds up the program the files were dragged from.
    std::function<void(TDragFilesTrg *Sender)> OnDrop;

    // The paths of a drop when every item is a local file or folder; empty otherwise.
    static QStringList LocalPaths(const QMimeData *data);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void Attach();                                // intercept the target's drops
    void Detach();                                // restore the target as it was
    QWidget *DropReceiver() const;                // the widget the desktop delivers drops to
    // Whether a drag event on the stand-in is one over the disabled target; `at` is the point
    // in the target's coordinates.
    bool OverDisabledTarget(QEvent *event, QPoint &at) const;
    bool Drag(QEvent *event);                     // enter or move: accepted when the files can be taken
    void Drop(QDropEvent *event, QPoint at);

    bool FEnabled = false;                        // accept drops
    QPointer<QWidget> FTarget;                    // the control; cleared by Qt when it is destroyed
    QPointer<QWidget> FReceiver;                  // the widget whose events are intercepted
    bool FReceiverAcceptedDrops = false;          // its own setting, restored on detach
    bool FTargetAcceptedDrops = false;            // the target's own setting, restored on detach
    // Qt delivers no drag to a disabled control but to its nearest enabled parent accepting
    // drops; the target's parent stands in so drops still arrive while the target is off.
    QPointer<QWidget> FStandIn;
    bool FStandInAcceptedDrops = false;           // its own setting, restored on detach
    QPoint FDropPoint;                            // last drop position
};
