#pragma once
#include "session/ConnectionSettings.h"
#include <QDialog>

class QCheckBox;
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

    // Log level, sound and marker settings; filled at start-up.
    GeneralSettings Settings;

    QTabWidget *PageControl;           // one page, "General"
    QCheckBox *chkSoundConfirmations;
    QSpinBox *CSpinEdit;               // log level 0 to 3
    QLineEdit *editTouchFileBase;
    QCheckBox *chkTouchDown;           // ".down"
    QCheckBox *chkTouchUp;             // ".up"
    QLineEdit *txtFilterPC;
    QLineEdit *txtFilterTandem;
    QPushButton *OKBtn;                // default button
    QPushButton *CancelBtn;            // Esc
    QPushButton *ResetBtn;
};
