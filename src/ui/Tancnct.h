#pragma once
#include "session/ConnectionSettings.h"
#include <QDialog>

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class TSettingsStore;

// The connect dialog: holds the program's connection settings for its whole life and the
// fields to edit, save and reload them. Created once at start-up, hidden between showings.
class TFormConnect : public QDialog {
    Q_OBJECT
public:
    explicit TFormConnect(QWidget *parent = nullptr);

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
    QPushButton *btnSave;
    QPushButton *btnReload;
    QPushButton *btnConnect;       // default button, closes with OK
    QPushButton *btnCancel;        // Esc, closes with Cancel

private:
    void CheckBoxProxyClick();
    void chkSavePasswordClick();

    TSettingsStore *Store = nullptr; // the program's store, owned by the main window
};
