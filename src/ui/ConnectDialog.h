#pragma once
#include "session/ConnectFields.h"
#include "session/ConnectionSettings.h"
#include <QDialog>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class TSettingsStore;
class TUserMessages;

// The connect dialog: holds the program's connection settings for its whole life and the
// fields to edit, save and reload them. Created once at start-up, hidden between showings.
// Closes with OK (Accepted) only when Connect took the fields into Settings.
class TFormConnect : public QDialog {
    Q_OBJECT
public:
    // Messages of the checks and of the store go through `messages`.
    explicit TFormConnect(TUserMessages &messages, QWidget *parent = nullptr);

    // The connection values ConnectToHost uses; filled at start-up.
    ConnectionSettings Settings;

    // Hands over the open settings store (null when the program runs without one); kept
    // for Save and Reload.
    void SetStore(TSettingsStore *store) { Store = store; }
    TSettingsStore *GetStore() const { return Store; }

    // "Use Proxy Settings" checked := on; the proxy host label and field enabled := on.
    void SetProxyControls(bool on);
    // "Auto Connect" enabled := on; switched off, it is also unchecked.
    void SetAutoConnectAllowed(bool on);
    void SetEncryptionChoice(const std::string &keyword); // selects "Require", "IfAvailable" or "None"
    // Checks "Include Password" when the store holds a password, as Reload does; called once
    // at start-up, so a Save keeps a stored password and Auto Connect unless unchecked.
    void IncludeStoredPassword();
    // The fields as typed.
    ConnectFields Fields() const;

    // Handlers.
    void FormShow();            // fills the fields from Settings, each time the dialog shows
    bool FormCloseQuery();      // closing is allowed unless Connect's checks failed just now
    void btnConnectClick();     // checks the fields and takes them into Settings
    void btnSaveClick();        // writes the fields as typed to the store
    void btnReloadClick();      // fills the fields from the store
    void EditPortChange();      // warns about the port text, whenever it changes

    // Set while Connect is handled and left set when its checks fail, so the dialog
    // refuses to close that once.
    bool KeepOpen = false;

    // Controls, named as the rest of the program refers to them.
    QGroupBox *GroupBoxDetails;
    QLineEdit *EditHost;
    QLineEdit *EditPort;
    QLineEdit *EditUserID;
    QLineEdit *EditPassword;
    QLineEdit *EditSubvol;
    QGroupBox *GroupBoxProxy;
    QCheckBox *CheckBoxProxy;      // acts as the proxy group's title
    QLabel *LabelProxyHost;
    QLineEdit *EditProxyHost;
    QCheckBox *chkSavePassword;    // "Include Password"
    QCheckBox *chkAutoConnect;
    QComboBox *ComboEncryption;    // "Encryption": the stored keyword is each item's data
    QPushButton *btnSave;
    QPushButton *btnReload;
    QPushButton *btnConnect;       // default button, closes with OK
    QPushButton *btnCancel;        // Esc, closes with Cancel

protected:
    void showEvent(QShowEvent *event) override;

public Q_SLOTS:
    // Every way of closing (Connect, Cancel, Esc, the close box) asks FormCloseQuery first.
    void done(int result) override;

private:
    void CheckBoxProxyClick();
    void chkSavePasswordClick();
    // Connect: its handler, then the close it asks for (refused when the checks failed).
    void ConnectPressed();

    TUserMessages &Messages;          // message boxes
    TSettingsStore *Store = nullptr;  // the program's store, owned by the main window
};
