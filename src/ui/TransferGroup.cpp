#include "ui/TransferGroup.h"

#include <QCheckBox>
#include <QFrame>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QStyle>
#include <QVBoxLayout>

namespace {

QFrame *SunkenPanel(const char *name)
{
    auto *panel = new QFrame;
    panel->setObjectName(name);
    panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    return panel;
}

// A control with its two-line label beside it; the label names it for screen readers.
void AddLabelled(QGridLayout *grid, int row, QWidget *control, const QString &label)
{
    auto *text = new QLabel(label);
    text->setBuddy(control);
    control->setAccessibleName(QString(label).remove('&').replace('\n', ' ').simplified());
    grid->addWidget(control, row, 0, Qt::AlignCenter);
    grid->addWidget(text, row, 1);
}

QRadioButton *ModeButton(const char *name, const QString &caption, const QString &hint)
{
    auto *button = new QRadioButton(caption);
    button->setObjectName(name);
    button->setAccessibleName(QString(caption).remove('&'));
    button->setToolTip(hint);
    return button;
}

} // namespace

TTransferGroup::TTransferGroup(QWidget *parent) : QGroupBox("Transfer", parent)
{
    setObjectName("GroupBoxMode");
    setAccessibleName("Transfer");

    BtnUpload = new QPushButton(style()->standardIcon(QStyle::SP_ArrowRight), "U&pload");
    BtnUpload->setObjectName("BtnUpload");
    BtnUpload->setAccessibleName("Upload");
    BtnUpload->setLayoutDirection(Qt::RightToLeft); // the picture on the right
    ULAppendExtension = new QCheckBox;
    ULAppendExtension->setObjectName("ULAppendExtension");
    ULAppendExtension->setChecked(true);
    ULAppendExtension->setToolTip("Check to append the PC file extension to the uploaded filename");
    PanelUpload = SunkenPanel("PanelUpload");
    auto *upload = new QGridLayout(PanelUpload);
    upload->addWidget(BtnUpload, 0, 0, 1, 2);
    AddLabelled(upload, 1, ULAppendExtension, "Append\nE&xtension");

    BtnDownload = new QPushButton(style()->standardIcon(QStyle::SP_ArrowLeft), "Do&wnload");
    BtnDownload->setObjectName("BtnDownload");
    BtnDownload->setAccessibleName("Download");
    DLExtensionSize = new QSpinBox;
    DLExtensionSize->setObjectName("DLExtensionSize");
    DLExtensionSize->setRange(0, 8);
    DLExtensionSize->setValue(0);
    // Text that is not a number (a cleared field) counts as 0: from a range starting at 0,
    // the nearest-value correction of unreadable text gives exactly that.
    DLExtensionSize->setCorrectionMode(QAbstractSpinBox::CorrectToNearestValue);
    // The designed hint ("inserting a period before the penultimate number of characters")
    // says less than an example does.
    DLExtensionSize->setToolTip("Makes the last characters of a Tandem file name the PC file's extension: "
                                "with 1, PROGC is saved as PROG.C; with 0 the name stays as it is");
    DLAddFileCode = new QCheckBox;
    DLAddFileCode->setObjectName("DLAddFileCode");
    DLAddFileCode->setChecked(true);
    // The hint's long part, after "|", is for a status line this window does not have.
    DLAddFileCode->setToolTip("Appends filecode");
    DLAddFileCode->setStatusTip("Appends filecodes during binary transfers");
    PanelDownload = SunkenPanel("PanelDownload");
    auto *download = new QGridLayout(PanelDownload);
    download->addWidget(BtnDownload, 0, 0, 1, 2);
    AddLabelled(download, 1, DLExtensionSize, "Extension\nSi&ze");
    AddLabelled(download, 2, DLAddFileCode, "Add binar&y \nFilecode");

    RadioButtonASCII = ModeButton("RadioButtonASCII", "&ASCII", "Set ASCII transfer mode");
    RadioButtonBinary = ModeButton("RadioButtonBinary", "&Binary", "Set Binary transfer mode");
    RadioButtonAuto = ModeButton("RadioButtonAuto", "A&uto",
                                 "Select to specify the transfer mode is automatically determined");
    RadioButtonAuto->setChecked(true);

    // Disabled at start; the group's own switch keeps the radio buttons from input too.
    for (QWidget *control : {static_cast<QWidget *>(BtnUpload), static_cast<QWidget *>(ULAppendExtension),
                             static_cast<QWidget *>(BtnDownload), static_cast<QWidget *>(DLExtensionSize),
                             static_cast<QWidget *>(DLAddFileCode)})
        control->setEnabled(false);
    setEnabled(false);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addWidget(PanelUpload);
    layout->addWidget(PanelDownload);
    layout->addStretch();
    layout->addWidget(RadioButtonASCII);
    layout->addWidget(RadioButtonBinary);
    layout->addWidget(RadioButtonAuto);
    // Keeps its size when the window is resized; as designed, unless the labels need more.
    setFixedSize(sizeHint().expandedTo(QSize(121, 313)));
}

TransferOptions TTransferGroup::CurrentOptions() const
{
    TransferOptions options;
    options.Mode = RadioButtonASCII->isChecked()    ? ModeChoice::Ascii
                   : RadioButtonBinary->isChecked() ? ModeChoice::Binary
                                                    : ModeChoice::Auto;
    options.DLExtensionSize = DLExtensionSize->value();
    options.DLAddFileCode = DLAddFileCode->isChecked();
    options.ULAppendExtension = ULAppendExtension->isChecked();
    return options;
}
