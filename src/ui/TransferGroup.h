#pragma once
#include "session/SessionViews.h"

#include <QGroupBox>

class QCheckBox;
class QFrame;
class QPushButton;
class QRadioButton;
class QSpinBox;

// The "Transfer" group: the two transfer buttons and the options read for every file.
// Disabled with everything in it while no session is open.
class TTransferGroup : public QGroupBox, public TTransferOptionsView {
    Q_OBJECT
public:
    explicit TTransferGroup(QWidget *parent = nullptr);

    // TTransferOptionsView: the mode buttons, DLExtensionSize, DLAddFileCode, ULAppendExtension.
    TransferOptions CurrentOptions() const override;

    QFrame *PanelUpload;             // sunken panel of the upload controls
    QPushButton *BtnUpload;          // "Upload", picture on the right
    QCheckBox *ULAppendExtension;    // "Append" / "Extension", checked
    QFrame *PanelDownload;           // sunken panel of the download controls
    QPushButton *BtnDownload;        // "Download"
    QSpinBox *DLExtensionSize;       // "Extension" / "Size", 0 to 8
    QCheckBox *DLAddFileCode;        // "Add binary " / "Filecode", checked
    QRadioButton *RadioButtonASCII;  // "ASCII"
    QRadioButton *RadioButtonBinary; // "Binary"
    QRadioButton *RadioButtonAuto;   // "Auto", selected
};
