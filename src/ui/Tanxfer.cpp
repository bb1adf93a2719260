#include "ui/Tanxfer.h"

#include <QGridLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>

TFormTransfer::TFormTransfer(QWidget *parent) : QDialog(parent)
{
    setObjectName("FormTransfer");
    setWindowTitle("File Transfer");
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint
                   | Qt::WindowCloseButtonHint);

    LFileinfo = new QLabel;
    ProgressBar = new QProgressBar;
    ProgressBar->setRange(0, 100);
    ProgressBar->setTextVisible(false);
    LPercent = new QLabel("0%");
    LPercent->setMinimumWidth(40);
    LPercent->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    LStatus = new QLabel;
    btnCancel = new QPushButton(style()->standardIcon(QStyle::SP_DialogCancelButton), "Cancel");
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::close);

    auto *layout = new QGridLayout(this);
    layout->addWidget(LFileinfo, 0, 0, 1, 2);
    layout->addWidget(ProgressBar, 1, 0);
    layout->addWidget(LPercent, 1, 1);
    layout->addWidget(LStatus, 2, 0);
    layout->addWidget(btnCancel, 2, 1);
    setFixedSize(QSize(306, 102).expandedTo(sizeHint()));
}
