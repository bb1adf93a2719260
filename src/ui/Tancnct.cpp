#include "ui/Tancnct.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

TFormConnect::TFormConnect(QWidget *parent) : QDialog(parent)
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
    setTabOrder(EditSubvol, CheckBoxProxy);
    setTabOrder(CheckBoxProxy, EditProxyHost);
    setTabOrder(EditProxyHost, chkSavePassword);
    setTabOrder(chkSavePassword, chkAutoConnect);
    setTabOrder(chkAutoConnect, btnSave);
    setTabOrder(btnSave, btnReload);

    connect(CheckBoxProxy, &QCheckBox::clicked, this, &TFormConnect::CheckBoxProxyClick);
    connect(chkSavePassword, &QCheckBox::clicked, this, &TFormConnect::chkSavePasswordClick);

    SetProxyControls(false);
    SetAutoConnectAllowed(false);
    resize(442, 294);
    setFixedSize(sizeHint().expandedTo(QSize(442, 294)));
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
