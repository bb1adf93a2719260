#pragma once
#include "session/ConnectFields.h"
#include "session/ConnectionSettings.h"
#include "session/SavedPassword.h"
#include <QDialog>
#include <functional>
#include <string>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class TKeyring;
class TSettingsStore;
class TUserMessages;

// The connect dialog: holds the program's connection settings for its whole life and the
// fields to edit, save and reload them. Created once at start-up, hidden between showings.
// Closes with OK (Accepted) only when Connect took the fields into Settings.
class TFormConnect : public QDialog, private TPasswordDialog {
    Q_OBJECT
public:
    // Messages of the checks and of the store go through `messages`.
    explicit TFormConnect(TUserMessages &messages, QWidget *parent = nullptr);

    // The connection values ConnectToHost uses; filled at start-up.
    ConnectionSettings Settings;

    // Hands over the open settings store (null when the program runs without one); kept
    // for Save and Reload.
    void SetStore(TSettingsStore *store);
    TSettingsStore *GetStore() const { return Store; }
    // Hands over the keyring for saved passwords (null without one) and the settings file's
    // path, which the note about passwords kept there names.
    void SetKeyring(TKeyring *keyring, const std::string &settingsPath);

    // "Use Proxy Settings" checked := on; the proxy host label and field enabled := on.
    void SetProxyControls(bool on);
    // "Auto Connect" enabled := on; switched off, it is also unchecked.
    void SetAutoConnectAllowed(bool on);
    // Called once at start-up, after the command line: finds the saved password (moving
    // one stored the old way into the keyring) and checks "Include Password" when there is
    // one, as Reload does, so a Save keeps it and Auto Connect unless unchecked.
    void LoadSavedPassword();
    // Runs `then` once start-up knows the password (the keyring may be slow or locked).
    void WhenPasswordKnown(std::function<void()> then);
    void SetEncryptionChoice(const std::string &keyword); // selects "Require", "IfAvailable" or "None"
    // The fields as typed.
    ConnectFields Fields() const;

    // Handlers.
    void FormShow();            // fills the fields from Settings, each time the dialog shows
    bool FormCloseQuery();      // closing is allowed unless Connect's checks failed just now
    void btnConnectClick();     // checks the fields and takes them into Settings
    void btnSaveClick();        // writes the fields as typed to the store
    void btnReloadClick();      // fills the fields with the chosen site's saved values, where there are any
    void btnForgetTlsClick();   // forgets the TLS answers remembered for the host and port typed
    void EditPortChange();      // warns about the port text, whenever it changes
    void ComboBoxSitesChoose(int index); // fills every field from that site; it is the chosen one
    void btnSaveAsClick();      // asks for a name and saves the fields as that site
    void btnDeleteSiteClick();  // removes the chosen site after asking
    // The site chosen in the list; empty when none is.
    std::string ChosenSite() const;
    // Fills the site list from the store and selects the site chosen last.
    void FillSites();

    // Set while Connect is handled and left set when its checks fail, so the dialog
    // refuses to close that once.
    bool KeepOpen = false;

    // Controls, named as the rest of the program refers to them.
    QComboBox *ComboBoxSites;      // the saved sites
    QPushButton *btnSaveAs;        // "Save As..."
    QPushButton *btnDeleteSite;    // "Delete"
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
    QLabel *LabelKeyringNote;      // why a password is not in the keyring; hidden until then
    QLabel *LabelReloaded;         // what the last Reload filled in; hidden until then
    QCheckBox *chkAutoConnect;
    QCheckBox *chkPassive;         // "Passive mode"
    QCheckBox *chkAcceptMissingCloseNotify; // "Accept TLS data without close_notify"
    QPushButton *btnForgetTls;     // "Forget TLS answers"
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
    // After the fields were filled from the store: proxy and Auto Connect controls follow them.
    void FieldsLoaded(bool autoConnect, const std::string &storedPassword);
    // Shows a note below the fields, the dialog growing to hold it.
    void ShowNote(QLabel *note, const std::string &text);
    // The store write behind a choice; its failure is shown, the choice stands for this run.
    void StoreChosenSite(const std::string &site);
    // Connect: its handler, then the close it asks for (refused when the checks failed).
    void ConnectPressed();

    // What the saved-password logic reaches here.
    void SetKeyringNote(const std::string &text) override;
    void ShowStoreProblem(const std::string &text) override;
    void ShowStartupPassword(bool saved, const std::string &password) override;
    void ShowReloadedPassword(const std::string &password) override;

    TUserMessages &Messages;          // message boxes
    TSettingsStore *Store = nullptr;  // the program's store, owned by the main window
    TSavedPassword Passwords{*this};  // where saved passwords go: keyring or store
    bool ReloadedAutoConnect = false; // the stored Auto Connect, for a password Reload finds late
};
