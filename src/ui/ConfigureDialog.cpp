#include "ui/ConfigureDialog.h"
#include "ui/BuddyLabel.h"
#include "ui/UserMessages.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QSpinBox>
#include <QTabWidget>
#include <QVBoxLayout>

TFormConfig::TFormConfig(QWidget *parent) : QDialog(parent)
{
    setObjectName("FormConfig");
    setWindowTitle("Configure");

    chkSoundConfirmations = new QCheckBox;
    chkSoundConfirmations->setToolTip("Select to play a sound following successful file transfers");
    CSpinEdit = new QSpinBox;
    CSpinEdit->setRange(0, 3);
    // Text that is not a number (a cleared field) counts as 0: from a range starting at 0,
    // the nearest-value correction of unreadable text gives exactly that.
    CSpinEdit->setCorrectionMode(QAbstractSpinBox::CorrectToNearestValue);
    CSpinEdit->setToolTip("What the log window shows: 0 errors only; 1 also status messages and file "
                          "counts; 2 also the FTP commands and replies; 3 also the session's state changes");
    editTouchFileBase = new QLineEdit;
    editTouchFileBase->setToolTip("Name of an empty file in the PC folder whose time Zarvel sets after every "
                                  "fully successful download (name.down) or upload (name.up), when that box is "
                                  "checked: scripts compare it with their files' times");
    chkTouchDown = new QCheckBox(".do&wn");
    chkTouchUp = new QCheckBox(".&up");
    txtFilterPC = new QLineEdit;
    txtFilterPC->setToolTip("Specifies filename filters used to limit the display of lists of PC files");
    txtFilterTandem = new QLineEdit;
    txtFilterTandem->setToolTip("Specifies filecode filters used to limit the display of lists of Tandem files");

    spinKeepAlive = new QSpinBox;
    spinKeepAlive->setRange(0, kMaxKeepAlive);
    spinKeepAlive->setSpecialValueText("Never");
    spinKeepAlive->setSuffix(" s");
    spinKeepAlive->setToolTip("While connected and idle, send NOOP after this many seconds, so a lost "
                              "session shows at once and quiet connections are not dropped");

    chkConfirmDelete = new QCheckBox;
    chkConfirmDelete->setToolTip("Ask before deleting files; PC files go to the trash where there is one");
    cboAsciiLineEnds = new QComboBox;
    cboAsciiLineEnds->addItem("LF (Linux text files)", int(LineEnds::LF));
    cboAsciiLineEnds->addItem("CR LF (as sent by the host)", int(LineEnds::CRLF));
    cboAsciiLineEnds->setToolTip("Line ends of files downloaded and uploaded in ASCII: LF turns the host's "
                                 "CR LF into LF and back; CR LF keeps the bytes as they travel");
    cboAsciiLineEnds->setAccessibleName("ASCII Line Ends");
    txtEditor = new QLineEdit;
    txtEditor->setPlaceholderText("the desktop's application for the file");
    txtEditor->setToolTip("Program that edits host files (Edit, F4): it is run with the path of the "
                          "file's PC copy. Empty: the desktop's default application for the file");

    spinRetries = new QSpinBox;
    spinRetries->setRange(0, kMaxRetries);
    spinRetries->setToolTip("How many times a batch opens a lost session again, after a pause that doubles "
                            "from one second; a binary download goes on from the part it has");
    spinRetries->setAccessibleName("Retries");

    spinConnections = new QSpinBox;
    spinConnections->setRange(1, kMaxConnections);
    spinConnections->setToolTip("How many logged-in sessions a download or upload batch moves its files "
                                "over: over a slow link each file waits for its round trips, and "
                                "several sessions wait side by side");

    chkSoundConfirmations->setAccessibleName("Sound Confirmations");
    chkConfirmDelete->setAccessibleName("Confirm deletes");
    cmbWhenFileExists = new QComboBox;
    for (FileExistsRule rule : {FileExistsRule::Ask, FileExistsRule::Overwrite, FileExistsRule::Skip})
        cmbWhenFileExists->addItem(QString::fromStdString(FileExistsRuleName(rule)), int(rule));
    cmbWhenFileExists->setToolTip("What a download or upload does when the file exists on the other side");
    cmbWhenFileExists->setAccessibleName("When a file exists");
    spinConnections->setAccessibleName("Connections");

    spinHostTimeOffset = new QSpinBox;
    spinHostTimeOffset->setRange(-kMaxHostTimeOffset, kMaxHostTimeOffset);
    spinHostTimeOffset->setSuffix(" min");
    spinHostTimeOffset->setToolTip("How many minutes the host's clock runs ahead of this PC's (negative: behind), "
                                   "so Compare can tell which side is newer");

    spinHostTimeOffset->setAccessibleName("Host clock ahead by");
    spinKeepAlive->setAccessibleName("Keep-alive");
    txtEditor->setAccessibleName("Editor");
    CSpinEdit->setAccessibleName("Log Level");
    editTouchFileBase->setAccessibleName("High Water Marker");
    txtFilterPC->setAccessibleName("PC Filter");
    txtFilterTandem->setAccessibleName("Tandem Filter");
    // Heard alone, ".down" and ".up" say nothing: their names carry the group they belong to.
    chkTouchDown->setAccessibleName("High Water Marker .down");
    chkTouchUp->setAccessibleName("High Water Marker .up");

    auto *page = new QWidget;
    auto *grid = new QGridLayout(page);
    grid->addWidget(BuddyLabel("&Sound\nConfirmations", chkSoundConfirmations), 0, 0);
    grid->addWidget(chkSoundConfirmations, 0, 1);
    grid->addWidget(BuddyLabel("&Log Level", CSpinEdit), 1, 0);
    grid->addWidget(CSpinEdit, 1, 1, Qt::AlignLeft);
    grid->addWidget(BuddyLabel("&High Water Marker", editTouchFileBase), 2, 0);
    auto *marker = new QHBoxLayout;
    marker->addWidget(editTouchFileBase);
    marker->addWidget(chkTouchDown);
    marker->addWidget(chkTouchUp);
    grid->addLayout(marker, 2, 1);
    grid->addWidget(BuddyLabel("&PC Filter", txtFilterPC), 3, 0);
    grid->addWidget(txtFilterPC, 3, 1);
    grid->addWidget(BuddyLabel("&Tandem Filter", txtFilterTandem), 4, 0);
    grid->addWidget(txtFilterTandem, 4, 1);
    grid->addWidget(BuddyLabel("&Keep-alive", spinKeepAlive), 5, 0);
    grid->addWidget(spinKeepAlive, 5, 1, Qt::AlignLeft);
    grid->addWidget(BuddyLabel("Con&firm deletes", chkConfirmDelete), 6, 0);
    grid->addWidget(chkConfirmDelete, 6, 1);
    grid->addWidget(BuddyLabel("When a file e&xists", cmbWhenFileExists), 7, 0);
    grid->addWidget(cmbWhenFileExists, 7, 1, Qt::AlignLeft);
    grid->addWidget(BuddyLabel("&ASCII Line Ends", cboAsciiLineEnds), 8, 0);
    grid->addWidget(cboAsciiLineEnds, 8, 1, Qt::AlignLeft);
    grid->addWidget(BuddyLabel("Co&nnections", spinConnections), 9, 0);
    grid->addWidget(spinConnections, 9, 1, Qt::AlignLeft);
    grid->addWidget(BuddyLabel("&Editor", txtEditor), 10, 0);
    grid->addWidget(txtEditor, 10, 1);
    grid->addWidget(BuddyLabel("Host clock ahea&d by", spinHostTimeOffset), 11, 0);
    grid->addWidget(spinHostTimeOffset, 11, 1, Qt::AlignLeft);
    grid->addWidget(BuddyLabel("Retr&ies", spinRetries), 12, 0);
    grid->addWidget(spinRetries, 12, 1, Qt::AlignLeft);
    grid->setRowStretch(13, 1);

    PageControl = new QTabWidget;
    PageControl->addTab(page, "General");

    OKBtn = new QPushButton("&OK");
    OKBtn->setDefault(true);
    CancelBtn = new QPushButton("&Cancel");
    CancelBtn->setAutoDefault(false);
    ResetBtn = new QPushButton("&Reset");
    ResetBtn->setAutoDefault(false);
    connect(CancelBtn, &QPushButton::clicked, this, &QDialog::reject);
    connect(OKBtn, &QPushButton::clicked, this, &TFormConfig::OKBtnClick);
    connect(ResetBtn, &QPushButton::clicked, this, &TFormConfig::ResetBtnClick);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(OKBtn);
    buttons->addWidget(CancelBtn);
    buttons->addWidget(ResetBtn);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(PageControl);
    layout->addLayout(buttons);

    setTabOrder(chkSoundConfirmations, CSpinEdit);
    setTabOrder(CSpinEdit, editTouchFileBase);
    setTabOrder(editTouchFileBase, chkTouchDown);
    setTabOrder(chkTouchDown, chkTouchUp);
    setTabOrder(chkTouchUp, txtFilterPC);
    setTabOrder(txtFilterPC, txtFilterTandem);
    setTabOrder(txtFilterTandem, spinKeepAlive);
    setTabOrder(spinKeepAlive, chkConfirmDelete);
    setTabOrder(chkConfirmDelete, cmbWhenFileExists);
    setTabOrder(cmbWhenFileExists, cboAsciiLineEnds);
    setTabOrder(cboAsciiLineEnds, spinConnections);
    setTabOrder(spinConnections, txtEditor);
    setTabOrder(txtEditor, spinHostTimeOffset);
    setTabOrder(spinHostTimeOffset, spinRetries);
    resize(520, 400);
}

bool TFormConfig::Execute(const FilterTexts &inForce)
{
    txtFilterPC->setText(TextForDisplay(inForce.FilterPC));
    txtFilterTandem->setText(TextForDisplay(inForce.FilterTandem));
    ShowFilterStarts();
    // The dialog opens in the middle of the screen, wherever the main window is.
    if (const QScreen *display = screen())
        move(display->availableGeometry().center() - QPoint(width() / 2, height() / 2));
    return exec() == QDialog::Accepted;
}

FilterTexts TFormConfig::Filters() const
{
    return {txtFilterPC->text().toStdString(), txtFilterTandem->text().toStdString()};
}

void TFormConfig::FormShow()
{
    CSpinEdit->setValue(Settings.LogLevel);
    chkSoundConfirmations->setChecked(Settings.SoundConfirmations);
    chkTouchDown->setChecked(Settings.TouchDown);
    chkTouchUp->setChecked(Settings.TouchUp);
    editTouchFileBase->setText(TextForDisplay(Settings.TouchFileBase));
    spinKeepAlive->setValue(Settings.KeepAlive);
    chkConfirmDelete->setChecked(Settings.ConfirmDelete);
    cmbWhenFileExists->setCurrentIndex(cmbWhenFileExists->findData(int(Settings.WhenFileExists)));
    cboAsciiLineEnds->setCurrentIndex(cboAsciiLineEnds->findData(int(Settings.AsciiLineEnds)));
    spinConnections->setValue(Settings.Connections);
    txtEditor->setText(TextForDisplay(Settings.Editor));
    spinHostTimeOffset->setValue(Settings.HostTimeOffset);
    spinRetries->setValue(Settings.Retries);
}

void TFormConfig::OKBtnClick()
{
    // A number still being typed counts as entered.
    CSpinEdit->interpretText();
    Settings.LogLevel = CSpinEdit->value();
    spinKeepAlive->interpretText();
    Settings.KeepAlive = spinKeepAlive->value();
    Settings.AsciiLineEnds = LineEnds(cboAsciiLineEnds->currentData().toInt());
    spinConnections->interpretText();
    Settings.Connections = spinConnections->value();
    spinHostTimeOffset->interpretText();
    Settings.HostTimeOffset = spinHostTimeOffset->value();
    spinRetries->interpretText();
    Settings.Retries = spinRetries->value();
    Settings.SoundConfirmations = chkSoundConfirmations->isChecked();
    Settings.TouchDown = chkTouchDown->isChecked();
    Settings.TouchUp = chkTouchUp->isChecked();
    Settings.TouchFileBase = editTouchFileBase->text().toStdString();
    Settings.ConfirmDelete = chkConfirmDelete->isChecked();
    Settings.WhenFileExists = FileExistsRule(cmbWhenFileExists->currentData().toInt());
    Settings.Editor = txtEditor->text().toStdString();
    accept();
}

void TFormConfig::ResetBtnClick()
{
    CSpinEdit->setValue(kDefaultLogLevel);
    chkSoundConfirmations->setChecked(false);
    chkTouchDown->setChecked(false);
    chkTouchUp->setChecked(false);
    spinKeepAlive->setValue(0);
    chkConfirmDelete->setChecked(true);
    cmbWhenFileExists->setCurrentIndex(cmbWhenFileExists->findData(int(FileExistsRule::Ask)));
    cboAsciiLineEnds->setCurrentIndex(cboAsciiLineEnds->findData(int(LineEnds::LF)));
    spinConnections->setValue(kDefaultConnections);
    txtEditor->clear();
    spinHostTimeOffset->setValue(0);
    spinRetries->setValue(kDefaultRetries);
    editTouchFileBase->setText(kDefaultTouchFileBase);
    txtFilterPC->setText(kDefaultFilterPC);
    txtFilterTandem->setText(kDefaultFilterTandem);
    ShowFilterStarts();
}

void TFormConfig::ShowFilterStarts()
{
    // The filters are longer than their fields; their first entries say most.
    txtFilterPC->setCursorPosition(0);
    txtFilterTandem->setCursorPosition(0);
}

void TFormConfig::showEvent(QShowEvent *event)
{
    // A window restored by the window manager is no new showing.
    if (!event->spontaneous())
        FormShow();
    QDialog::showEvent(event);
}
