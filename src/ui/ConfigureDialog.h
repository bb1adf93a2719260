#pragma once
#include "session/Configuration.h"
#include "session/ConnectionSettings.h"
#include <QDialog>
#include <string>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QTabWidget;

// The configure dialog: holds the program's general settings for its whole life and the
// controls to change them and the two list filters. Created once at start-up.
class TFormConfig : public QDialog {
    Q_OBJECT
public:
    explicit TFormConfig(QWidget *parent = nullptr);

    // Log level, sound and marker settings; filled at start-up, changed by OK.
    GeneralSettings Settings;

    // Shows the dialog modally with the filter texts in force; true when it closed with OK,
    // which has copied the controls into Settings. Cancel changes nothing.
    bool Execute(const FilterTexts &inForce);
    // The two filter texts as the dialog's fields hold them.
    FilterTexts Filters() const;

    // Handlers.
    void FormShow();        // loads the controls from Settings, each time the dialog shows
    void OKBtnClick();      // stores the controls into Settings and closes with OK
    void ResetBtnClick();   // puts the reset values into the controls only

    QTabWidget *PageControl;           // one page, "General"
    QCheckBox *chkSoundConfirmations;
    QSpinBox *CSpinEdit;               // log level 0 to 3
    QLineEdit *editTouchFileBase;
    QCheckBox *chkTouchDown;           // ".down"
    QCheckBox *chkTouchUp;             // ".up"
    QLineEdit *txtFilterPC;
    QLineEdit *txtFilterTandem;
    QSpinBox *spinKeepAlive;           // keep-alive seconds, 0 never
    QCheckBox *chkConfirmDelete;       // ask before deleting files
    QComboBox *cmbWhenFileExists;      // Ask, Overwrite or Skip
    QComboBox *cboAsciiLineEnds;       // line ends of ASCII files on the PC: LF or CR LF
    QSpinBox *spinConnections;         // connections of a batch, 1 to 8
    QLineEdit *txtEditor;              // program that edits host files; empty: the desktop's
    QSpinBox *spinHostTimeOffset;      // minutes the host's clock runs ahead of the PC's
    QSpinBox *spinRetries;             // reopenings of a connection lost in a batch, 0 to 10
    QPushButton *OKBtn;                // default button
    QPushButton *CancelBtn;            // Esc
    QPushButton *ResetBtn;

protected:
    void showEvent(QShowEvent *event) override;

private:
    void ShowFilterStarts(); // scrolls both filter fields to their first character
};
