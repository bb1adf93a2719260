#pragma once
#include "session/Encryption.h"

#include <QDialog>

class QCheckBox;
class QLabel;
class QPushButton;

// The trust dialog: a certificate OpenSSL could not verify (or another one than the user
// trusted before for this host and port). Nothing more goes to the server until it closes.
// Cancel has the focus and is the default: Enter, pressed to get a box out of the way, never
// trusts. A changed certificate is trusted only after CheckChanged is ticked.
class TFormCertificate : public QDialog {
    Q_OBJECT
public:
    TFormCertificate(const TCertificateQuestion &question, QWidget *parent = nullptr);
    TTrustAnswer Answer() const { return Answer_; }   // trustCancel unless a trust button was pressed

    QLabel *LabelWarning;          // why the dialog shows; the strong warning for a changed certificate
    QLabel *LabelDetails;          // host, subject, issuer, validity, fingerprint, reason
    QPushButton *BtnTrust;         // "Trust this certificate": remembered for host and port
    QPushButton *BtnTrustOnce;     // "Trust once"
    QPushButton *BtnCancel;        // "Cancel": the focus and the default
    QCheckBox *CheckChanged;       // changed certificate only: unlocks the trust buttons; else null

private:
    TTrustAnswer Answer_ = trustCancel;
};

// The details as the dialog lists them, one "Label: value" per line.
QString CertificateDetailsText(const TCertificateQuestion &question);
