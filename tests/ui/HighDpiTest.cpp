#include "ui/AboutBox.h"
#include "ui/ConfigureDialog.h"
#include "ui/RecordingSeams.h"
#include "ui/ConnectDialog.h"
#include "ui/MainWindow.h"
#include "ui/LogWindow.h"
#include "ui/TransferProgressDialog.h"
#include "ui/WindowAssembly.h"

#include <gtest/gtest.h>
#include <QApplication>
#include <QLabel>
#include <QProcess>
#include <QTemporaryDir>

namespace {

// Every picture a label shows carries the screens' pixel ratio: one drawn at scale 1 is
// stretched on a scaled screen and comes out blurred.
void ExpectSharpPictures(const QWidget &window)
{
    for (const QLabel *label : window.findChildren<QLabel *>()) {
        const QPixmap picture = label->pixmap();
        if (picture.isNull())
            continue;
        SCOPED_TRACE((window.objectName() + " " + label->objectName()).toStdString());
        EXPECT_EQ(picture.devicePixelRatio(), qApp->devicePixelRatio());
        EXPECT_EQ(picture.deviceIndependentSize().toSize(), label->size());
    }
}

// Run by splashAndWindowPicturesAreSharpAtScaleTwo in a process of its own, since the scale
// is fixed when the application starts.
TEST(HighDpi, DISABLED_picturesCarryThePixelRatioOfTheScaledScreen)
{
    ASSERT_EQ(qApp->devicePixelRatio(), 2.0) << "meant to run with QT_SCALE_FACTOR=2";
    QTemporaryDir dir;
    RecordedMessages messages;
    RecordedSounds sounds;
    TFormMain form(messages, sounds, dir.filePath("Zarvel.conf"));
    const TFormMain::Windows windows = AttachNewWindows(form, messages);
    windows.AboutBox->Splash();
    form.show();
    for (const QWidget *window : std::initializer_list<const QWidget *>{
             &form, windows.AboutBox, windows.FormConnect, windows.FormStatus, windows.FormConfig,
             windows.FormTransfer})
        ExpectSharpPictures(*window);
    windows.AboutBox->tmrSplashTimer();
}

TEST(HighDpi, splashAndWindowPicturesAreSharpAtScaleTwo)
{
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_SCALE_FACTOR", "2");
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QCoreApplication::applicationFilePath(),
                {"--gtest_also_run_disabled_tests",
                 "--gtest_filter=HighDpi.DISABLED_picturesCarryThePixelRatioOfTheScaledScreen"});
    ASSERT_TRUE(child.waitForFinished(120000)) << "the scaled run did not end";
    const QByteArray output = child.readAll();
    EXPECT_EQ(child.exitCode(), 0) << output.toStdString();
    EXPECT_TRUE(output.contains("[  PASSED  ] 1 test.")) << output.toStdString();
}

} // namespace
