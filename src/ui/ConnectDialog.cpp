#include "ui/ConnectDialog.h"
#include "ui/BuddyLabel.h"
#include "session/SettingsStore.h"
#include "session/Sites.h"
#include "session/Encryption.h"
#include "session/StartupSettings.h"
#include "ui/UserMessages.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QStyle>
#include <QVBoxLayout>
#include <algorithm>

namespace {

const QSize kDialogSize(442, 330); // the smallest the dialog is ever shown

std::string Bytes(const QLineEdit *edit)
{
    return edit->text().toStdString();
}

// Reload's target: the dialog's fields rather than the held settings.
class TDialogConnectionFields : public TConnectionFields {
public:
    explicit TDialogConnectionFields(TFormConnect &form) : form_(form) {}
    void SetHostName(const std::string &value) override { form_.EditHost->setText(TextForDisplay(value)); }
    void SetUserID(const std::string &value) override { form_.EditUserID->setText(TextForDisplay(value)); }
    void SetProxyName(const std::string &value) override { form_.EditProxyHost->setText(TextForDisplay(value)); }
    void SetInitialSubvol(const std::string &value) override { form_.EditSubvol->setText(TextForDisplay(value)); }
    void SetHostPort(std::int32_t value) override { form_.EditPort->setText(QString::number(value)); }
    void SetAutoConnect(std::int32_t value) override
    {
        autoConnect = value != 0;
        form_.chkAutoConnect->setChecked(autoConnect);
    }
    void SetEncryption(const std::string &value) override { form_.SetEncryptionChoice(value); }
    // A password in the file checks "Include Password"; none clears the field and unchecks
    // it until the keyring answers.
    void SetStoredPassword(const std::string &value) override
    {
        storedPassword = value;
        form_.EditPassword->setText(TextForDisplay(value));
        form_.chkSavePassword->setChecked(!value.empty());
    }
    void SetPassive(bool value) override { form_.chkPassive->setChecked(value); }
    void SetAcceptMissingCloseNotify(bool value) override { form_.chkAcceptMissingCloseNotify->setChecked(value); }

    bool autoConnect = false;    // the stored Auto Connect
    std::string storedPassword;  // the file's password, unscrambled

private:
    TFormConnect &form_;
};

} // namespace

TFormConnect::TFormConnect(TUserMessages &messages, QWidget *parent)
    : QDialog(parent), Messages(messages)
{
    setObjectName("FormConnect");
    setWindowTitle("Connect");
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint
                   | Qt::WindowCloseButtonHint);

    // The saved sites sit above the fields they fill.
    ComboBoxSites = new QComboBox;
    ComboBoxSites->setToolTip("Choose a saved site to fill every field");
    ComboBoxSites->setAccessibleName("Site");
    ComboBoxSites->setMinimumWidth(180);
    auto *sitesLabel = BuddyLabel("&Site", ComboBoxSites);
    btnSaveAs = new QPushButton("Save &As...");
    btnSaveAs->setAutoDefault(false);
    btnSaveAs->setToolTip("Store the fields as a site under a name");
    btnDeleteSite = new QPushButton("&Delete");
    btnDeleteSite->setAutoDefault(false);
    btnDeleteSite->setToolTip("Remove the chosen site");
    auto *sitesRow = new QHBoxLayout;
    sitesRow->addWidget(sitesLabel);
    sitesRow->addWidget(ComboBoxSites, 1);
    sitesRow->addWidget(btnSaveAs);
    sitesRow->addWidget(btnDeleteSite);

    GroupBoxDetails = new QGroupBox("Connection Details", this);
    EditHost = new QLineEdit;
    EditHost->setToolTip("Remote host name/ IP");
    EditPort = new QLineEdit;
    EditPort->setMaximumWidth(70);
    EditUserID = new QLineEdit;
    EditPassword = new QLineEdit;
    EditPassword->setEchoMode(QLineEdit::Password);
    EditSubvol = new QLineEdit;
    EditSubvol->setToolTip("Initial subvolume to be set on remote host");

    auto *fields = new QGridLayout;
    fields->addWidget(BuddyLabel("&Host", EditHost), 0, 0);
    fields->addWidget(EditHost, 0, 1);
    fields->addWidget(BuddyLabel("P&ort", EditPort), 0, 2);
    fields->addWidget(EditPort, 0, 3);
    fields->addWidget(BuddyLabel("&User ID", EditUserID), 1, 0);
    fields->addWidget(EditUserID, 1, 1, 1, 3);
    fields->addWidget(BuddyLabel("Pass&word", EditPassword), 2, 0);
    fields->addWidget(EditPassword, 2, 1, 1, 3);
    fields->addWidget(BuddyLabel("&Initial Subvolume", EditSubvol), 3, 0);
    fields->addWidget(EditSubvol, 3, 1, 1, 3);
    ComboEncryption = new QComboBox;
    // The stored keyword rides along with each choice.
    ComboEncryption->addItem("Require explicit FTP over TLS", "Require");
    ComboEncryption->addItem("Use explicit FTP over TLS if available", "IfAvailable");
    ComboEncryption->addItem("Only use plain FTP (insecure)", "None");
    fields->addWidget(BuddyLabel("Encr&yption", ComboEncryption), 4, 0);
    fields->addWidget(ComboEncryption, 4, 1, 1, 3);

    // The check box sits where the group's title would be.
    CheckBoxProxy = new QCheckBox("Use &Proxy Settings");
    GroupBoxProxy = new QGroupBox;
    LabelProxyHost = new QLabel("Pro&xy Host");
    EditProxyHost = new QLineEdit;
    auto *proxyLayout = new QHBoxLayout(GroupBoxProxy);
    proxyLayout->addWidget(LabelProxyHost);
    proxyLayout->addWidget(EditProxyHost);
    LabelProxyHost->setBuddy(EditProxyHost);

    chkPassive = new QCheckBox("Passive &mode");
    chkPassive->setToolTip("Data connections made by Zarvel (EPSV, or PASV): for firewalls, NAT and VPNs");

    chkAcceptMissingCloseNotify = new QCheckBox("Accept T&LS data without close_notify");
    chkAcceptMissingCloseNotify->setToolTip(
        "Only for a server known never to send close_notify: otherwise an encrypted transfer that "
        "ends without it fails, since someone may have cut it short");

    chkSavePassword = new QCheckBox;
    auto *savePasswordLabel = new QLabel("I&nclude Password");
    savePasswordLabel->setToolTip("Select to include password in saved information");
    savePasswordLabel->setBuddy(chkSavePassword);
    LabelKeyringNote = new QLabel;
    LabelKeyringNote->setTextFormat(Qt::PlainText); // holds the settings file's path
    LabelKeyringNote->setWordWrap(true);
    LabelKeyringNote->setTextInteractionFlags(Qt::TextSelectableByMouse); // the path can be copied
    LabelKeyringNote->hide();
    LabelReloaded = new QLabel;
    LabelReloaded->setObjectName("LabelReloaded");
    LabelReloaded->setWordWrap(true);
    LabelReloaded->hide();
    chkAutoConnect = new QCheckBox("Au&to Connect");
    chkAutoConnect->setToolTip("If selected, then the saved connection is made automatically on startup");
    btnSave = new QPushButton("Sa&ve");
    btnSave->setAutoDefault(false);
    btnReload = new QPushButton("&Reload");
    btnReload->setAutoDefault(false);

    auto *saveRow = new QHBoxLayout;
    saveRow->addWidget(chkSavePassword);
    saveRow->addWidget(savePasswordLabel);
    saveRow->addSpacing(12);
    saveRow->addWidget(chkAutoConnect);
    saveRow->addStretch();
    saveRow->addWidget(btnSave);
    saveRow->addWidget(btnReload);

    auto *details = new QVBoxLayout(GroupBoxDetails);
    details->addLayout(fields);
    details->addWidget(CheckBoxProxy);
    details->addWidget(GroupBoxProxy);
    details->addWidget(chkPassive);
    btnForgetTls = new QPushButton("&Forget TLS answers");
    btnForgetTls->setAutoDefault(false);
    btnForgetTls->setToolTip("Forget that this host spoke FTP over TLS before, and any \"Always allow\" "
                             "of plain FTP for it");
    auto *tlsRow = new QHBoxLayout;
    tlsRow->addWidget(chkAcceptMissingCloseNotify);
    tlsRow->addStretch();
    tlsRow->addWidget(btnForgetTls);
    details->addLayout(tlsRow);
    details->addLayout(saveRow);
    details->addWidget(LabelKeyringNote);
    details->addWidget(LabelReloaded);

    btnConnect = new QPushButton(style()->standardIcon(QStyle::SP_DialogOkButton), "&Connect");
    btnConnect->setDefault(true);
    btnCancel = new QPushButton(style()->standardIcon(QStyle::SP_DialogCancelButton), "Canc&el");
    btnCancel->setAutoDefault(false);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(btnConnect);
    buttons->addWidget(btnCancel);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(sitesRow);
    layout->addWidget(GroupBoxDetails);
    layout->addLayout(buttons);

    setTabOrder(btnConnect, btnCancel);
    setTabOrder(btnCancel, ComboBoxSites);
    setTabOrder(ComboBoxSites, btnSaveAs);
    setTabOrder(btnSaveAs, btnDeleteSite);
    setTabOrder(btnDeleteSite, EditHost);
    setTabOrder(EditHost, EditPort);
    setTabOrder(EditPort, EditUserID);
    setTabOrder(EditUserID, EditPassword);
    setTabOrder(EditPassword, EditSubvol);
    setTabOrder(EditSubvol, ComboEncryption);
    setTabOrder(ComboEncryption, CheckBoxProxy);
    setTabOrder(CheckBoxProxy, EditProxyHost);
    setTabOrder(EditProxyHost, chkPassive);
    setTabOrder(chkPassive, chkAcceptMissingCloseNotify);
    setTabOrder(chkAcceptMissingCloseNotify, btnForgetTls);
    setTabOrder(btnForgetTls, chkSavePassword);
    setTabOrder(chkSavePassword, chkAutoConnect);
    setTabOrder(chkAutoConnect, btnSave);
    setTabOrder(btnSave, btnReload);

    EditHost->setAccessibleName("Host");
    EditPort->setAccessibleName("Port");
    EditUserID->setAccessibleName("User ID");
    EditPassword->setAccessibleName("Password");
    EditSubvol->setAccessibleName("Initial Subvolume");
    EditProxyHost->setAccessibleName("Proxy Host");
    chkSavePassword->setAccessibleName("Include Password");
    ComboEncryption->setAccessibleName("Encryption");

    connect(CheckBoxProxy, &QCheckBox::clicked, this, &TFormConnect::CheckBoxProxyClick);
    connect(chkSavePassword, &QCheckBox::clicked, this, &TFormConnect::chkSavePasswordClick);
    connect(EditPort, &QLineEdit::textChanged, this, &TFormConnect::EditPortChange);
    connect(btnConnect, &QPushButton::clicked, this, &TFormConnect::ConnectPressed);
    connect(btnSave, &QPushButton::clicked, this, &TFormConnect::btnSaveClick);
    connect(btnReload, &QPushButton::clicked, this, &TFormConnect::btnReloadClick);
    connect(btnForgetTls, &QPushButton::clicked, this, &TFormConnect::btnForgetTlsClick);
    connect(ComboBoxSites, &QComboBox::activated, this, &TFormConnect::ComboBoxSitesChoose);
    connect(btnSaveAs, &QPushButton::clicked, this, &TFormConnect::btnSaveAsClick);
    connect(btnDeleteSite, &QPushButton::clicked, this, &TFormConnect::btnDeleteSiteClick);

    SetProxyControls(false);
    SetAutoConnectAllowed(false);
    resize(kDialogSize);
    setFixedSize(sizeHint().expandedTo(kDialogSize));
}

void TFormConnect::SetEncryptionChoice(const std::string &keyword)
{
    const int index = ComboEncryption->findData(QString::fromStdString(keyword));
    ComboEncryption->setCurrentIndex(index >= 0 ? index : ComboEncryption->findData(kDefaultEncryption));
}

void TFormConnect::SetProxyControls(bool on)
{
    CheckBoxProxy->setChecked(on);
    LabelProxyHost->setEnabled(on);
    EditProxyHost->setEnabled(on);
}

void TFormConnect::SetAutoConnectAllowed(bool on)
{
    chkAutoConnect->setEnabled(on);
    if (!on)
        chkAutoConnect->setChecked(false);
}

void TFormConnect::CheckBoxProxyClick()
{
    SetProxyControls(CheckBoxProxy->isChecked());
}

void TFormConnect::chkSavePasswordClick()
{
    SetAutoConnectAllowed(chkSavePassword->isChecked());
}

void TFormConnect::SetStore(TSettingsStore *store)
{
    Store = store;
    Passwords.SetStore(store);
}

void TFormConnect::SetKeyring(TKeyring *keyring, const std::string &settingsPath)
{
    Passwords.SetKeyring(keyring, settingsPath);
}

void TFormConnect::LoadSavedPassword()
{
    Passwords.LoadAtStartup(Settings);
}

void TFormConnect::WhenPasswordKnown(std::function<void()> then)
{
    Passwords.WhenPasswordKnown(std::move(then));
}

void TFormConnect::SetKeyringNote(const std::string &text)
{
    ShowNote(LabelKeyringNote, text);
}

void TFormConnect::ShowNote(QLabel *note, const std::string &text)
{
    note->setText(TextForShowing(text));
    note->show();
    // The note wraps within the dialog's width; the dialog grows downwards to hold it.
    const int width = this->width();
    setFixedSize(width, std::max(layout()->totalHeightForWidth(width), kDialogSize.height()));
}

void TFormConnect::ShowStoreProblem(const std::string &text)
{
    Messages.Warning(this, TextForDisplay(text));
}

void TFormConnect::ShowStartupPassword(bool saved, const std::string &password)
{
    chkSavePassword->setChecked(saved);
    // The dialog opened before the keyring answered: the answer reaches the fields too.
    if (isVisible()) {
        if (EditPassword->text().isEmpty())
            EditPassword->setText(TextForDisplay(password));
        SetAutoConnectAllowed(saved);
    }
}

void TFormConnect::ShowReloadedPassword(const std::string &password)
{
    EditPassword->setText(TextForDisplay(password));
    chkSavePassword->setChecked(true);
    SetAutoConnectAllowed(true);
    chkAutoConnect->setChecked(ReloadedAutoConnect);
}

ConnectFields TFormConnect::Fields() const
{
    ConnectFields fields;
    fields.Host = Bytes(EditHost);
    fields.Port = Bytes(EditPort);
    fields.UserID = Bytes(EditUserID);
    fields.Password = Bytes(EditPassword);
    fields.Subvol = Bytes(EditSubvol);
    fields.UseProxy = CheckBoxProxy->isChecked();
    fields.ProxyHost = Bytes(EditProxyHost);
    fields.SavePassword = chkSavePassword->isChecked();
    fields.AutoConnect = chkAutoConnect->isChecked();
    fields.Passive = chkPassive->isChecked();
    fields.Encryption = ComboEncryption->currentData().toString().toStdString();
    fields.AcceptMissingCloseNotify = chkAcceptMissingCloseNotify->isChecked();
    fields.Site = ChosenSite();
    return fields;
}

void TFormConnect::FormShow()
{
    EditHost->setText(TextForDisplay(Settings.HostName));
    EditPort->setText(QString::number(Settings.HostPort));
    EditUserID->setText(TextForDisplay(Settings.UserID));
    EditPassword->setText(TextForDisplay(Settings.Password));
    EditSubvol->setText(TextForDisplay(Settings.InitialSubvol));
    EditProxyHost->setText(TextForDisplay(Settings.ProxyName));
    chkAutoConnect->setChecked(Settings.AutoConnect != 0);
    chkPassive->setChecked(Settings.Passive);
    chkAcceptMissingCloseNotify->setChecked(Settings.AcceptMissingCloseNotify);
    FillSites();
    SetEncryptionChoice(Settings.Encryption);
    SetProxyControls(!Settings.ProxyName.empty());
    // "Include Password" keeps its state between showings; until the user checks it (or
    // Reload finds a stored password) "Auto Connect" shows off.
    SetAutoConnectAllowed(chkSavePassword->isChecked());
}

bool TFormConnect::FormCloseQuery()
{
    const bool allowed = !KeepOpen;
    KeepOpen = false;
    return allowed;
}

void TFormConnect::btnConnectClick()
{
    KeepOpen = true;
    try {
        const std::string refusal = TakeConnectFields(Fields(), Settings);
        if (!refusal.empty()) {
            Messages.Simple(this, TextForDisplay(refusal));
            return;
        }
    } catch (const EConvertError &e) {
        Messages.Simple(this, TextForDisplay(e.what()));
        return;
    }
    KeepOpen = false;
}

void TFormConnect::btnSaveClick()
{
    try {
        const ConnectFields fields = Fields();
        SaveConnectionSettings(Store, fields);
        Passwords.Save(fields);
        // The chosen site is what start-up loads: it keeps what was saved.
        if (const std::string site = ChosenSite(); !site.empty())
            SaveSite(Store, site, fields);
    } catch (const EConvertError &e) {
        Messages.Simple(this, TextForDisplay(e.what()));
    } catch (const ESettingsStoreError &e) {
        Messages.Warning(this, TextForDisplay(e.what()));
    }
}

void TFormConnect::btnReloadClick()
{
    TDialogConnectionFields fields(*this);
    fields.autoConnect = chkAutoConnect->isChecked();
    const QString account = EditUserID->text() + '@' + EditHost->text() + ':' + EditPort->text();
    const std::string site = SiteExists(Store, ChosenSite()) ? ChosenSite() : std::string();
    std::vector<std::string> loaded;
    try {
        // Only what is saved replaces a field: values from the command line stay otherwise.
        loaded = ReloadSavedFields(Store, site, fields);
    } catch (const ESettingsStoreError &e) {
        Messages.Warning(this, TextForDisplay(e.what()));
        return;
    }
    // A password typed for another account must not go with the reloaded one.
    if (fields.storedPassword.empty() && account != EditUserID->text() + '@' + EditHost->text() + ':' + EditPort->text()) {
        EditPassword->clear();
        chkSavePassword->setChecked(false);
    }
    ShowNote(LabelReloaded, ReloadedText(site, loaded));
    FieldsLoaded(fields.autoConnect, fields.storedPassword);
}

void TFormConnect::btnForgetTlsClick()
{
    const ConnectFields fields = Fields();
    // With a proxy the TLS peer is the proxy, whose answers the session remembers.
    const std::string host = fields.UseProxy && !fields.ProxyHost.empty() ? fields.ProxyHost : fields.Host;
    const std::string where = host + ":" + fields.Port;
    if (const std::string problem = CheckPort(fields.Port); !problem.empty()) {
        Messages.Simple(this, TextForDisplay(problem));
        return;
    }
    bool forgotten = false;
    try {
        forgotten = ForgetEncryptionAnswers(Store, host, StrToInt(fields.Port));
    } catch (const ESettingsStoreError &) {
    }
    Messages.Simple(this, TextForDisplay(forgotten ? "Zarvel no longer expects FTP over TLS from " + where +
                                                         " and asks again before a login without it"
                                                   : "The answers for " + where + " could not be forgotten"));
}

void TFormConnect::FieldsLoaded(bool autoConnect, const std::string &storedPassword)
{
    SetProxyControls(!EditProxyHost->text().isEmpty());
    SetAutoConnectAllowed(chkSavePassword->isChecked());
    ReloadedAutoConnect = autoConnect;
    // A site's or the file's password, else the keyring's for this user, host and port.
    Passwords.Reload(storedPassword, {Bytes(EditUserID), Bytes(EditHost), EditPort->text().toInt()});
}

std::string TFormConnect::ChosenSite() const
{
    return ComboBoxSites->currentIndex() < 0 ? std::string()
                                             : ComboBoxSites->currentData().toByteArray().toStdString();
}

void TFormConnect::FillSites()
{
    ComboBoxSites->clear();
    std::string chosen;
    try {
        // Start-up writes nothing; a file from before sites gets its first site when the
        // list is first shown.
        MigrateToSites(Store);
        chosen = Store ? Store->ReadString(kChosenSiteValue) : std::string();
    } catch (const ESettingsStoreError &) {
        // A file that cannot be written, or a chosen site of the wrong type: no choice.
    }
    for (const std::string &site : SiteNames(Store)) {
        ComboBoxSites->addItem(TextForDisplay(site), QByteArray::fromStdString(site));
        if (site == chosen)
            ComboBoxSites->setCurrentIndex(ComboBoxSites->count() - 1);
    }
    if (chosen.empty())
        ComboBoxSites->setCurrentIndex(-1);
    btnDeleteSite->setEnabled(ComboBoxSites->count() > 0);
}

void TFormConnect::StoreChosenSite(const std::string &site)
{
    try {
        StoreText(Store, kChosenSiteValue, site);
    } catch (const ESettingsStoreError &e) {
        Messages.Warning(this, TextForDisplay(e.what()));
    }
}

void TFormConnect::ComboBoxSitesChoose(int index)
{
    if (index < 0)
        return;
    const std::string site = ChosenSite();
    TDialogConnectionFields fields(*this);
    try {
        if (!LoadSite(Store, site, fields))
            return;
    } catch (const ESettingsStoreError &e) {
        Messages.Warning(this, TextForDisplay(e.what()));
        return;
    }
    FieldsLoaded(fields.autoConnect, fields.storedPassword);
    StoreChosenSite(site);
}

void TFormConnect::btnSaveAsClick()
{
    QString name = TextForDisplay(ChosenSite());
    if (!Messages.Prompt(this, "Save As", "Site name", &name))
        return;
    const std::string site = name.trimmed().toStdString();
    if (site.empty())
        return;
    try {
        const ConnectFields fields = Fields();
        SaveSite(Store, site, fields);
        // A site keeps no password: the keyring holds it by user, host and port.
        Passwords.Save(fields);
    } catch (const EConvertError &e) {
        Messages.Simple(this, TextForDisplay(e.what()));
        return;
    } catch (const ESettingsStoreError &e) {
        Messages.Warning(this, TextForDisplay(e.what()));
        return;
    }
    StoreChosenSite(site);
    FillSites();
}

void TFormConnect::btnDeleteSiteClick()
{
    const std::string site = ChosenSite();
    if (site.empty())
        return;
    if (!Messages.Prompt(this, "Delete", "Delete the site " + TextForDisplay(site) + "?", nullptr))
        return;
    try {
        if (!DeleteSite(Store, site))
            Messages.Warning(this, "Failed to delete the site " + TextForDisplay(site));
    } catch (const ESettingsStoreError &e) {
        Messages.Warning(this, TextForDisplay(e.what()));
    }
    FillSites();
}

void TFormConnect::EditPortChange()
{
    const std::string warning = CheckPort(Bytes(EditPort));
    if (!warning.empty())
        Messages.Simple(this, TextForDisplay(warning));
}

void TFormConnect::ConnectPressed()
{
    btnConnectClick();
    accept();
}

void TFormConnect::done(int result)
{
    if (FormCloseQuery())
        QDialog::done(result);
}

void TFormConnect::showEvent(QShowEvent *event)
{
    // A window restored by the window manager is no new showing.
    if (!event->spontaneous()) {
        LabelReloaded->hide(); // it spoke of the last showing's fields
        FormShow();
        // Each showing starts on Connect, so Enter or Space connects with the values shown.
        btnConnect->setFocus(Qt::OtherFocusReason);
    }
    QDialog::showEvent(event);
}
