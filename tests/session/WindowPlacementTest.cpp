// Where a window opens again: the stored text and the fit onto the screens there are now.
#include "session/WindowPlacement.h"
#include "support/MemorySettingsStore.h"
#include "support/QtPrinters.h"

#include <gtest/gtest.h>

namespace {

struct FitRow {
    const char *what;
    QRect wanted;
    QList<QRect> screens;
    QRect fitted;
};

void PrintTo(const FitRow &row, std::ostream *out)
{
    *out << row.what;
}

class FitOnScreensTest : public testing::TestWithParam<FitRow> {};

TEST_P(FitOnScreensTest, windowLandsWhereItsTitleBarCanBeReached)
{
    EXPECT_EQ(FitOnScreens(GetParam().wanted, GetParam().screens), GetParam().fitted);
}

const QRect kLeft(0, 0, 1280, 1024);
const QRect kRight(1280, 0, 1920, 1080);

INSTANTIATE_TEST_SUITE_P(Table, FitOnScreensTest, testing::Values(
    FitRow{"on the screen it was on", QRect(100, 50, 980, 640), {kLeft}, QRect(100, 50, 980, 640)},
    FitRow{"on the second screen", QRect(1500, 100, 980, 640), {kLeft, kRight}, QRect(1500, 100, 980, 640)},
    FitRow{"second screen gone: centred on the first", QRect(1500, 100, 980, 640), {kLeft},
           QRect(150, 192, 980, 640)},
    FitRow{"above the screen: centred", QRect(100, -700, 980, 640), {kLeft}, QRect(150, 192, 980, 640)},
    FitRow{"hanging off the right edge: pulled in", QRect(700, 50, 980, 640), {kLeft}, QRect(300, 50, 980, 640)},
    FitRow{"larger than a smaller screen: cut to it", QRect(10, 10, 1900, 1060), {QRect(0, 0, 1024, 768)},
           QRect(0, 0, 1024, 768)},
    FitRow{"no screen known: as stored", QRect(5, 5, 600, 400), {}, QRect(5, 5, 600, 400)}));

TEST(WindowPlacement, storedTextComesBackAndAnythingElseIsNone)
{
    TMemorySettingsStore store;
    StorePlacement(&store, "MainWindow", {QRect(-20, 30, 900, 700), true});
    const auto back = LoadPlacement(&store, "MainWindow");
    ASSERT_TRUE(back);
    EXPECT_EQ(back->Normal, QRect(-20, 30, 900, 700));
    EXPECT_TRUE(back->Maximized);
    EXPECT_FALSE(LoadPlacement(&store, "LogWindow")) << "never stored";
    for (const char *text : {"", "1 2 3 4", "1 2 3 4 1 5", "1 2 0 4 0", "1 2 3 4 2", "a b c d 0"})
        EXPECT_FALSE(ParsePlacement(text)) << text;

    StoreSplit(&store, {300, 520});
    EXPECT_EQ(LoadSplit(&store), (std::pair(300, 520)));
    store.WriteInteger("SplitWidths", 5);
    EXPECT_FALSE(LoadSplit(&store)) << "a value of another type is no split";
}

} // namespace
