#pragma once
// "Synchronize": the preview of what a synchronization would do. The user picks the
// direction, may add the deletes of files only on the target side (off by default), and
// unticks the rows that should not run. The plan itself comes from the session layer.
#include "session/SyncPlan.h"

#include <QDialog>

#include <functional>
#include <vector>

class QCheckBox;
class QDialogButtonBox;
class QLabel;
class QListWidget;
class QRadioButton;

class TSyncPreviewDialog : public QDialog {
    Q_OBJECT
public:
    // plan: the actions for a direction, with or without deletes.
    using Planner = std::function<std::vector<SyncAction>(SyncDirection, bool deletes)>;
    TSyncPreviewDialog(Planner planner, QWidget *parent = nullptr);

    // The plan shown, each action ticked as its row is.
    std::vector<SyncAction> Actions() const;

    QRadioButton *RadioUp;       // "PC to host"
    QRadioButton *RadioDown;     // "Host to PC"
    QRadioButton *RadioBoth;     // "Both ways, the newer file wins"
    QCheckBox *CheckDelete;      // deletes of files only on the target side; off
    QListWidget *ListActions;    // one tickable row per action
    QLabel *LabelCount;          // "4 of 5 steps ticked" or "Nothing to do"
    QDialogButtonBox *Buttons;   // "Synchronize" and "Cancel"

private:
    SyncDirection Direction() const;
    void Replan();               // the rows for the chosen direction and deletes
    void Count();                // LabelCount and the Synchronize button

    Planner planner_;
    std::vector<SyncAction> plan_;
};
