#include "ui/SyncPreviewDialog.h"

#include "ui/UserMessages.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

TSyncPreviewDialog::TSyncPreviewDialog(Planner planner, QWidget *parent)
    : QDialog(parent), planner_(std::move(planner))
{
    setWindowTitle("Synchronize");
    auto *directions = new QGroupBox("Direction");
    RadioUp = new QRadioButton("&PC to host");
    RadioDown = new QRadioButton("&Host to PC");
    RadioBoth = new QRadioButton("&Both ways, the newer file wins");
    RadioBoth->setChecked(true);
    auto *directionLayout = new QVBoxLayout(directions);
    for (QRadioButton *radio : {RadioUp, RadioDown, RadioBoth}) {
        directionLayout->addWidget(radio);
        connect(radio, &QRadioButton::toggled, this, [this](bool on) {
            if (on)
                Replan();
        });
    }
    CheckDelete = new QCheckBox("&Delete files only on the target side");
    connect(CheckDelete, &QCheckBox::toggled, this, &TSyncPreviewDialog::Replan);
    ListActions = new QListWidget;
    ListActions->setAccessibleName("Steps");
    ListActions->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    connect(ListActions, &QListWidget::itemChanged, this, &TSyncPreviewDialog::Count);
    LabelCount = new QLabel;
    Buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    Buttons->button(QDialogButtonBox::Ok)->setText("&Synchronize");
    connect(Buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(Buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(directions);
    layout->addWidget(CheckDelete);
    layout->addWidget(ListActions, 1);
    layout->addWidget(LabelCount);
    layout->addWidget(Buttons);
    resize(560, 420);
    Replan();
}

SyncDirection TSyncPreviewDialog::Direction() const
{
    return RadioUp->isChecked() ? SyncDirection::Up : RadioDown->isChecked() ? SyncDirection::Down : SyncDirection::Both;
}

void TSyncPreviewDialog::Replan()
{
    // Both ways nothing is only on a target side.
    CheckDelete->setEnabled(Direction() != SyncDirection::Both);
    plan_ = planner_(Direction(), CheckDelete->isEnabled() && CheckDelete->isChecked());
    const QSignalBlocker quiet(ListActions);
    ListActions->clear();
    for (const SyncAction &action : plan_) {
        auto *item = new QListWidgetItem(TextForDisplay(SyncActionText(action)), ListActions);
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(Qt::Checked);
    }
    Count();
}

void TSyncPreviewDialog::Count()
{
    int ticked = 0;
    for (int row = 0; row < ListActions->count(); ++row)
        ticked += ListActions->item(row)->checkState() == Qt::Checked;
    LabelCount->setText(plan_.empty() ? QString("Nothing to do in this direction")
                                      : QString("%1 of %2 steps ticked").arg(ticked).arg(plan_.size()));
    Buttons->button(QDialogButtonBox::Ok)->setEnabled(ticked > 0);
}

std::vector<SyncAction> TSyncPreviewDialog::Actions() const
{
    std::vector<SyncAction> actions = plan_;
    for (int row = 0; row < ListActions->count() && row < int(actions.size()); ++row)
        actions[std::size_t(row)].Ticked = ListActions->item(row)->checkState() == Qt::Checked;
    return actions;
}
