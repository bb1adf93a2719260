#pragma once
#include "session/FileOperationsView.h"
#include "session/SessionViews.h"

#include "ui/FileDragList.h"

#include <QGroupBox>
#include <QHash>

#include <functional>
#include <string>
#include <vector>

class QComboBox;
class QListWidget;
class TListHeader;

class QListWidgetItem;
class QPushButton;

// The "Local PC" group: mounted volumes, the folders around the current one, its files
// through the PC filter, and the local file buttons. The process's current folder is the
// folder shown: relative names of transfers and file operations resolve against it.
// Always enabled.
class TLocalPCGroup : public QGroupBox, public TLocalView, public TPCFolderView {
    Q_OBJECT
public:
    explicit TLocalPCGroup(QWidget *parent = nullptr);

    // TLocalView
    std::vector<std::string> SelectedNames() const override;
    std::string CurrentFolder() const override;
    void RefreshFiles() override;
    void SetFilterPC(const std::string &filter) override;

    // TPCFolderView
    std::string HighlightedFolder() const override;
    void RefreshFolders() override;
    bool EnterFolder(const std::string &path) override;

    // Makes the folder the process's current one and shows it; false (nothing changes)
    // when it cannot be entered.
    bool SetFolder(const QString &path);
    // The patterns of the selected PC filter entry.
    QStringList FilterPatterns() const;
    // Told, at each filling of the file list, of every file the filter lets through whose
    // name is not UTF-8: Qt cannot name it by its bytes, so it is left out of the list.
    std::function<void(const std::string &name)> OnSkipped;
    // Told of a path typed in the folder box that cannot be entered.
    std::function<void(const QString &path)> OnFolderRefused;

    QComboBox *DriveComboBoxPC;      // the folder shown, typed with completion; lists the mounted volumes
    QListWidget *DirectoryListBoxPC; // the current folder, its parents and its children
    TListHeader *HeaderPCFiles;      // "Name", "Size", "Modified": sorts FileListBoxPC
    TFileDragList *FileListBoxPC;      // files of the current folder with size and time; multiple selection, fixed pitch
    QComboBox *FilterComboBoxPC;     // PC filter entries, in their given order
    QPushButton *BtnMkDirPC;         // "MkDir"; the new folder is entered
    QPushButton *BtnRmDirPC;         // "RmDir"
    QPushButton *BtnRenamePC;        // "Rename"
    QPushButton *BtnDeletePC;        // "Delete"
    QPushButton *BtnRefreshPC;       // "Refresh"

private:
    void FillDrives();                          // the volumes, the current one selected
    void FillFolders();                         // parents and children of the current folder
    void DriveChosen(int index);                // go to that volume's last folder
    void FolderChosen(QListWidgetItem *item);   // go to the folder of the item
    void PathEntered();                         // Enter in the folder box: go to the typed folder
    QString VolumeOf(const QString &path) const; // mount point holding the path
    std::vector<std::string> UndecodableFiles() const; // current folder's files Qt cannot name, through the filter

    QHash<QString, QString> lastFolder_;        // per volume: the folder last shown on it
};
