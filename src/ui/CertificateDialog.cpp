#include "ui/CertificateDialog.h"
#include "ui/UserMessages.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

QString CertificateDetailsText(const TCertificateQuestion &q)
{
    const TTlsPeerInfo &p = q.Peer;
    return "Host: " + TextForShowing(q.Host) + ":" + QString::number(q.Port)
        + "\nSubject: " + TextForShowing(p.Subject)
        + "\nIssuer: " + TextForShowing(p.Issuer)
        + "\nValid from: " + TextForShowing(p.NotBefore)
        + "\nValid until: " + TextForShowing(p.NotAfter)
        + "\nSHA-256 fingerprint: " + TextForShowing(p.Fingerprint)
        + "\nReason: " + TextForShowing(p.Reason);
}

TFormCertificate::TFormCertificate(const TCertificateQuestion &question, QWidget *parent) : QDialog(parent)
{
    setObjectName("FormCertificate");
    setWindowTitle("Certificate");
    LabelWarning = new QLabel(
        question.Changed
            ? "WARNING: the server presents a DIFFERENT certificate than the one you trusted for this host "
              "before. Someone may be intercepting the connection. Trust it only if you know why it changed."
            : "The server's certificate could not be verified. Nothing more is sent to the server "
              "unless you trust it.");
    LabelWarning->setWordWrap(true);
    LabelWarning->setAccessibleName(LabelWarning->text());
    LabelDetails = new QLabel(CertificateDetailsText(question));
    LabelDetails->setTextFormat(Qt::PlainText); // the server's certificate names, never markup
    LabelDetails->setTextInteractionFlags(Qt::TextSelectableByMouse);
    LabelDetails->setAccessibleName(LabelDetails->text());
    BtnTrust = new QPushButton("Trust this certificate");
    BtnTrustOnce = new QPushButton("Trust once");
    BtnCancel = new QPushButton("Cancel");
    // Every push button of a dialog takes Enter while it has the focus: the trust buttons
    // must never, whether focused by Tab or not.
    for (QPushButton *trust : {BtnTrust, BtnTrustOnce})
        trust->setAutoDefault(false);
    BtnCancel->setDefault(true);
    CheckChanged = nullptr;
    if (question.Changed) {
        // Replacing the remembered fingerprint is a deliberate act: a box to tick, then a button.
        CheckChanged = new QCheckBox("I know why the certificate changed");
        for (QPushButton *trust : {BtnTrust, BtnTrustOnce}) {
            trust->setEnabled(false);
            connect(CheckChanged, &QCheckBox::toggled, trust, &QPushButton::setEnabled);
        }
    }
    connect(BtnTrust, &QPushButton::clicked, this, [this] { Answer_ = trustRemember; accept(); });
    connect(BtnTrustOnce, &QPushButton::clicked, this, [this] { Answer_ = trustOnce; accept(); });
    connect(BtnCancel, &QPushButton::clicked, this, &QDialog::reject);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(BtnTrust);
    buttons->addWidget(BtnTrustOnce);
    buttons->addWidget(BtnCancel);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(LabelWarning);
    layout->addWidget(LabelDetails);
    if (CheckChanged)
        layout->addWidget(CheckChanged);
    layout->addLayout(buttons);
    BtnCancel->setFocus();
}
