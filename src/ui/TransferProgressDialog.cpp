#include "ui/TransferProgressDialog.h"

#include "ui/UserMessages.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>

#include <algorithm>

TFormTransfer::TFormTransfer(QWidget *parent) : QDialog(parent)
{
    setObjectName("FormTransfer");
    setWindowTitle("File Transfer");
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint
                   | Qt::WindowCloseButtonHint);

    LFileinfo = new QLabel;
    LFileinfo->setTextFormat(Qt::PlainText); // file names, never markup
    LFileinfo->setObjectName("LFileinfo");
    ProgressBar = new QProgressBar;
    ProgressBar->setObjectName("ProgressBar");
    ProgressBar->setAccessibleName("Progress");
    ProgressBar->setRange(0, 100);
    ProgressBar->setTextVisible(false);
    LPercent = new QLabel("0%");
    LPercent->setObjectName("LPercent");
    LPercent->setMinimumWidth(48);
    LPercent->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    LStatus = new QLabel;
    LStatus->setTextFormat(Qt::PlainText); // file names, never markup
    LStatus->setObjectName("LStatus");
    LBatch = new QLabel;
    LBatch->setTextFormat(Qt::PlainText); // file names, never markup
    LBatch->setObjectName("LBatch");
    btnCancel = new QPushButton(style()->standardIcon(QStyle::SP_DialogCancelButton), "Cancel");
    btnCancel->setObjectName("btnCancel");
    btnCancel->setAutoDefault(false);
    connect(btnCancel, &QPushButton::clicked, this, &TFormTransfer::btnCancelClick);

    auto *layout = new QGridLayout(this);
    layout->addWidget(LFileinfo, 0, 0, 1, 2);
    layout->addWidget(ProgressBar, 1, 0);
    layout->addWidget(LPercent, 1, 1);
    layout->addWidget(LStatus, 2, 0);
    layout->addWidget(LBatch, 3, 0);
    layout->addWidget(btnCancel, 2, 1, 2, 1);
    // Room for the longest line a host file gives: an 8-character name and a size of 11 digits.
    LFileinfo->setMinimumWidth(
        LFileinfo->fontMetrics().horizontalAdvance("Downloading binary file MMMMMMMM (99999999999 bytes)"));
    LBatch->setMinimumWidth(
        LBatch->fontMetrics().horizontalAdvance("File 9999 of 9999, 99999999999 of 99999999999 bytes, 99:59:59 remaining"));
    setFixedSize(QSize(306, 120).expandedTo(sizeHint()));
    FRepaintTimer.setSingleShot(true);
    connect(&FRepaintTimer, &QTimer::timeout, this, &TFormTransfer::ApplyReported);
}

void TFormTransfer::SetFileInfo(const std::string &text, qint64 total)
{
    FFileLine = TextForShowing(text);
    FFileLineChanged = true;
    FTotal = total;
    FCount = 0;
    FStatus.clear();
    Present();
}

void TFormTransfer::ShowProgress(qint64 count, const std::string &text)
{
    FCount = count;
    FStatus = QString::fromStdString(text);
    Present();
}

void TFormTransfer::ShowBatchProgress(const std::string &text)
{
    FBatch = QString::fromStdString(text);
    Present();
}

void TFormTransfer::Present()
{
    // Hidden, nothing is drawn: the controls may follow every report.
    if (!isVisible()) {
        ApplyReported();
        return;
    }
    if (FRepaintTimer.isActive())
        return;
    const qint64 interval = TProgressMeter::RepaintInterval.count();
    const qint64 since = FSinceApplied.isValid() ? FSinceApplied.elapsed() : interval;
    if (since >= interval)
        ApplyReported();
    else
        FRepaintTimer.start(int(interval - since));
}

void TFormTransfer::ApplyReported()
{
    FRepaintTimer.stop();
    FSinceApplied.start();
    if (FFileLineChanged) {
        // A long PC name loses its middle, so the start and the size stay in view; the tip has it all.
        FFileLineChanged = false;
        LFileinfo->setText(LFileinfo->fontMetrics().elidedText(FFileLine, Qt::ElideMiddle, LFileinfo->minimumWidth()));
        LFileinfo->setToolTip(PlainToolTip(FFileLine));
    }
    const qint64 percent = ProgressPercent(FCount, FTotal);
    LPercent->setText(QString::number(percent) + '%');
    LStatus->setText(FStatus);
    ProgressBar->setValue(static_cast<int>(std::clamp<qint64>(percent, 0, 100)));
    LBatch->setText(FBatch);
}

void TFormTransfer::ShowDialog()
{
    show();
}

void TFormTransfer::btnCancelClick()
{
    close();
}

void TFormTransfer::closeEvent(QCloseEvent *event)
{
    if (Aborter)
        Aborter->AbortTransfer();
    event->accept();
}

void TFormTransfer::hideEvent(QHideEvent *event)
{
    ApplyReported();
    QDialog::hideEvent(event);
}

void TFormTransfer::reject()
{
    close();
}
