#pragma once
#include "session/SessionViews.h"

#include <QComboBox>
#include "ui/FileDragList.h"

#include <QGroupBox>
#include <functional>

class QAction;
class QListWidget;
class TListHeader;

class QPushButton;

// The subvolume box: an editable combo box that tells when its list is opened.
class TSubvolComboBox : public QComboBox {
    Q_OBJECT
public:
    using QComboBox::QComboBox;
    std::function<void()> OnDropDown; // before the history list opens
    void showPopup() override;
};

// The "Tandem" group: one subvolume of the host, its history and the file-code filter.
// Its controls are switched with the session.
class TTandemGroup : public QGroupBox, public TRemoteView {
    Q_OBJECT
public:
    explicit TTandemGroup(QWidget *parent = nullptr);

    // TRemoteView
    void ClearFiles() override;
    void AddFile(const std::string &line) override;
    std::vector<std::string> SelectedLines() const override;
    std::string SubvolText() const override;
    void SetSubvolText(const std::string &text) override;
    void AddSubvolHistory(const std::string &subvol) override;
    void SetFilterItems(const std::vector<FilterItem> &items) override;
    int SelectedFilterIndex() const override;

    // Handlers the main window gives; each runs for the event its name says.
    std::function<void()> OnSubvolChange;            // text typed, or an entry chosen
    std::function<void()> OnSubvolExit;              // focus moved to another control of the window
    std::function<bool(char key)> OnSubvolKeyPress;  // true: the key is consumed
    std::function<void(char key)> OnFilesKeyPress;   // a character typed in the list

    TSubvolComboBox *ComboBoxTanSubvol; // editable, sorted history; its text is the subvolume shown
    TListHeader *HeaderTanFiles;        // the listing's column headings; a click sorts the lines
    TFileDragList *ListBoxTanFiles;       // listing lines, server order until sorted, multiple selection, fixed pitch
    QComboBox *ComboBoxTanFilter;       // file-code filter labels, sorted, not editable
    QPushButton *BtnRenameTandem;       // "Rename"
    QPushButton *BtnDeleteTandem;       // "Delete"
    QPushButton *BtnRefreshTandem;      // "Refresh"
    QPushButton *BtnEditTandem;         // "Edit": the selected file in the PC's editor (F4)
    QAction *EditItem;                  // "Edit" in the list's context menu: clicks BtnEditTandem

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    bool SubvolKey(QEvent *event);

    std::string ShownSubvol; // the bytes SetSubvolText was given last
};
