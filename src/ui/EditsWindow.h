#pragma once
#include <QWidget>

class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;
class TRemoteEdits;

// "Edited Files": the host files being edited in the PC's editor, each with its subvolume
// and state, and the buttons that act on the selected one. It only shows what the edits
// report and forwards the user's choices; closing it only hides it.
class TFormEdits : public QWidget {
    Q_OBJECT
public:
    TFormEdits(TRemoteEdits &edits, QWidget *parent = nullptr);

    void ShowWindow();                 // shown, raised and activated

    QTreeWidget *ListEdits;            // File, Subvolume, State; one row per edit
    QPushButton *BtnOpenEditor;        // "Open in Editor"
    QPushButton *BtnUploadAgain;       // "Upload Again": after a failure
    QPushButton *BtnEndEditing;        // "End Editing"
    QPushButton *BtnClose;

private:
    void EntryChanged(int id);         // adds or updates the edit's row
    void EntryRemoved(int id);
    void SelectionChanged();           // the buttons follow the selected edit's state
    int SelectedId() const;            // 0 without a selection
    QTreeWidgetItem *Row(int id) const;

    TRemoteEdits &Edits;
};
