#include "ui/ConnectDialog.h"
#include "session/SettingsStore.h"
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

namespace {

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
    void SetAutoConnect(std::int32_t value) override { form_.chkAutoConnect->setChecked(value != 0); }
    void SetEncryption(const std::string &value) override { form_.SetEncryptionChoice(value); }
    // A stored password checks "Include Password"; none clears the field and unchecks it.
    void SetStoredPassword(const std::string &value) override
    {
        form_.EditPassword->setText(TextForDisplay(value));
        form_.chkSavePassword->setChecked(!value.empty());
    }

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
    fields->addWidget(new QLabel("Host"), 0, 0);
    fields->addWidget(EditHost, 0, 1);
    fields->addWidget(new QLabel("Port"), 0, 2);
    fields->addWidget(EditPort, 0, 3);
    fields->addWidget(new QLabel("User ID"), 1, 0);
    fields->addWidget(EditUserID, 1, 1, 1, 3);
    fields->addWidget(new QLabel("Password"), 2, 0);
    fields->addWidget(EditPassword, 2, 1, 1, 3);
    fields->addWidget(new QLabel("Initial Subvolume"), 3, 0);
    fields->addWidget(EditSubvol, 3, 1, 1, 3);
    ComboEncryption = new QComboBox;
    // The stored keyword rides along with each choice.
    ComboEncryption->addItem("Require explicit FTP over TLS", "Require");
    ComboEncryption->addItem("Use explicit FTP over TLS if available", "IfAvailable");
    ComboEncryption->addItem("Only use plain FTP (insecure)", "None");
    auto *encryptionLabel = new QLabel("Encryption");
    encryptionLabel->setBuddy(ComboEncryption);
    fields->addWidget(encryptionLabel, 4, 0);
    fields->addWidget(ComboEncryption, 4, 1, 1, 3);

    // The check box sits where the group's title would be.
    CheckBoxProxy = new QCheckBox("Use Proxy Settings");
    GroupBoxProxy = new QGroupBox;
    LabelProxyHost = new QLabel("Proxy Host");
    EditProxyHost = new QLineEdit;
    auto *proxyLayout = new QHBoxLayout(GroupBoxProxy);
    proxyLayout->addWidget(LabelProxyHost);
    proxyLayout->addWidget(EditProxyHost);

    chkSavePassword = new QCheckBox;
    auto *savePasswordLabel = new QLabel("Include Password");
    savePasswordLabel->setToolTip("Select to include password in saved information");
    savePasswordLabel->setBuddy(chkSavePassword);
    chkAutoConnect = new QCheckBox("Auto Connect");
    chkAutoConnect->setToolTip("If selected, then the saved connection is made automatically on startup");
    btnSave = new QPushButton("Save");
    btnSave->setAutoDefault(false);
    btnReload = new QPushButton("Reload");
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
    details->addLayout(saveRow);

    btnConnect = new QPushButton(style()->standardIcon(QStyle::SP_DialogOkButton), "Connect");
    btnConnect->setDefault(true);
    btnCancel = new QPushButton(style()->standardIcon(QStyle::SP_DialogCancelButton), "Cancel");
    btnCancel->setAutoDefault(false);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(btnConnect);
    buttons->addWidget(btnCancel);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(GroupBoxDetails);
    layout->addLayout(buttons);

    setTabOrder(btnConnect, btnCancel);
    setTabOrder(btnCancel, EditHost);
    setTabOrder(EditHost, EditPort);
    setTabOrder(EditPort, EditUserID);
    setTabOrder(EditUserID, EditPassword);
    setTabOrder(EditPassword, EditSubvol);
    setTabOrder(EditSubvol, ComboEncryption);
    setTabOrder(ComboEncryption, CheckBoxProxy);
    setTabOrder(CheckBoxProxy, EditProxyHost);
    setTabOrder(EditProxyHost, chkSavePassword);
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

    SetProxyControls(false);
    SetAutoConnectAllowed(false);
    resize(442, 294);
    setFixedSize(sizeHint().expandedTo(QSize(442, 294)));
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

void TFormConnect::IncludeStoredPassword()
{
    chkSavePassword->setChecked(Store && !Store->ReadString("Password").empty());
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
    fields.Encryption = ComboEncryption->currentData().toString().toStdString();
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
        SaveConnectionSettings(Store, Fields());
    } catch (const EConvertError &e) {
        Messages.Simple(this, TextForDisplay(e.what()));
    } catch (const ESettingsStoreError &e) {
        Messages.Warning(this, TextForDisplay(e.what()));
    }
}

void TFormConnect::btnReloadClick()
{
    TDialogConnectionFields fields(*this);
    try {
        LoadConnectionSettings(Store, fields);
    } catch (const ESettingsStoreError &e) {
        Messages.Warning(this, TextForDisplay(e.what()));
        return;
    }
    SetProxyControls(!EditProxyHost->text().isEmpty());
    SetAutoConnectAllowed(chkSavePassword->isChecked());
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
    if (!event->spontaneous())
        FormShow();
    QDialog::showEvent(event);
}
