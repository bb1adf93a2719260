#include "ui/ConfigureDialog.h"

#include <gtest/gtest.h>
#include <QApplication>
#include <QCheckBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <functional>

namespace {

// The real configure dialog, run modally as File > Configure runs it.
class ConfigureDialog : public testing::Test {
protected:
    TFormConfig form;
    const FilterTexts inForce{"Text (*.txt)|*.txt", "Edit files|101"};

    void SetUp() override
    {
        form.Settings = {.LogLevel = 2, .SoundConfirmations = true, .TouchFileBase = "mark",
                         .TouchUp = true, .TouchDown = false};
    }
    // Runs `inside` once the dialog is up; a dialog the steps leave open is cancelled so a
    // faulty button cannot hang the test.
    bool Run(const std::function<void()> &inside)
    {
        QTimer::singleShot(0, &form, [&] {
            inside();
            if (form.isVisible()) {
                ADD_FAILURE() << "the dialog stayed open";
                form.reject();
            }
        });
        return form.Execute(inForce);
    }
};

TEST_F(ConfigureDialog, showLoadsControlsFromSettingsAndFiltersInForce)
{
    Run([&] {
        EXPECT_EQ(form.CSpinEdit->value(), 2);
        EXPECT_TRUE(form.chkSoundConfirmations->isChecked());
        EXPECT_EQ(form.editTouchFileBase->text(), "mark");
        EXPECT_TRUE(form.chkTouchUp->isChecked());
        EXPECT_FALSE(form.chkTouchDown->isChecked());
        EXPECT_EQ(form.txtFilterPC->text(), "Text (*.txt)|*.txt");
        EXPECT_EQ(form.txtFilterTandem->text(), "Edit files|101");
        form.CancelBtn->click();
    });
}

TEST_F(ConfigureDialog, resetThenCancelChangesNothingAndNextShowingStartsAfresh)
{
    const GeneralSettings before = form.Settings;
    EXPECT_FALSE(Run([&] {
        form.ResetBtn->click();
        EXPECT_EQ(form.CSpinEdit->value(), 1) << "Reset fills the controls at once";
        form.CancelBtn->click();
    }));
    EXPECT_EQ(form.Settings.LogLevel, before.LogLevel);
    EXPECT_EQ(form.Settings.TouchFileBase, before.TouchFileBase);
    EXPECT_EQ(form.Settings.TouchUp, before.TouchUp);
    EXPECT_EQ(form.Settings.SoundConfirmations, before.SoundConfirmations);

    Run([&] {
        EXPECT_EQ(form.CSpinEdit->value(), 2);
        EXPECT_EQ(form.txtFilterPC->text(), "Text (*.txt)|*.txt");
        QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QApplication::sendEvent(&form, &escape);
    });
    EXPECT_EQ(form.Settings.LogLevel, 2);
}

TEST_F(ConfigureDialog, resetThenOkGivesTheBuiltInValues)
{
    EXPECT_TRUE(Run([&] {
        form.ResetBtn->click();
        form.OKBtn->click();
    }));
    EXPECT_EQ(form.Settings.LogLevel, 1) << "failures and summaries";
    EXPECT_FALSE(form.Settings.SoundConfirmations);
    EXPECT_EQ(form.Settings.TouchFileBase, ".zarvel.xfer");
    EXPECT_FALSE(form.Settings.TouchUp);
    EXPECT_FALSE(form.Settings.TouchDown);
    EXPECT_EQ(form.Filters().FilterPC,
              "All files (*.*)|*.*|Source files (*.c;*.h;*.t;*.x)|*.c;*.h;*.t;*.x");
    EXPECT_EQ(form.Filters().FilterTandem,
              "All files||Edit files (Filecode 101)|101|Object Files (Filecodes 100/700)|100;700");
}

TEST_F(ConfigureDialog, okTakesEveryControlIntoTheSettings)
{
    EXPECT_TRUE(Run([&] {
        form.chkSoundConfirmations->click();
        form.chkTouchDown->click();
        form.chkTouchUp->click();
        form.editTouchFileBase->clear();
        form.CSpinEdit->findChild<QLineEdit *>()->setText("3");
        QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, "\r");
        QApplication::sendEvent(form.txtFilterPC, &enter);
    }));
    EXPECT_EQ(form.Settings.LogLevel, 3);
    EXPECT_FALSE(form.Settings.SoundConfirmations);
    EXPECT_TRUE(form.Settings.TouchDown);
    EXPECT_FALSE(form.Settings.TouchUp);
    EXPECT_EQ(form.Settings.TouchFileBase, "") << "an empty base name is kept as typed";
}

TEST_F(ConfigureDialog, logLevelTextThatIsNotANumberCountsAsZero)
{
    EXPECT_TRUE(Run([&] {
        form.CSpinEdit->findChild<QLineEdit *>()->clear();
        form.OKBtn->click();
    }));
    EXPECT_EQ(form.Settings.LogLevel, 0) << "a cleared field is no reason to keep level 2";
    EXPECT_EQ(form.CSpinEdit->text(), "0");
}

} // namespace
