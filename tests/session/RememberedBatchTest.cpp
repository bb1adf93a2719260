// The unfinished batch's file: what a program killed mid-batch leaves (every file it finished
// marked), what the end of a batch leaves, and items that hold blanks and line ends.
#include "session/RememberedBatch.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

namespace {

TRememberedBatch Sample()
{
    return {"tandem1", "21", "dev.mgr", "$DATA01.ZDEMO", "/home/me/build", false,
            {"/home/me/build/prog.c", "/home/me/build/two words.c", "/home/me/build/odd\nname", "/home/me/x.c"}};
}

TEST(RememberedBatch, killedMidBatchLeavesTheListWithoutTheFilesDone)
{
    QTemporaryDir dir;
    const std::string path = dir.filePath("Zarvel-batch").toStdString();
    TBatchMemory memory(path);
    memory.Start(Sample());
    memory.Done(0);
    memory.Done(3);
    memory.Done(3);

    // No Finish: the program ended here.
    const std::optional<TRememberedBatch> left = LoadRememberedBatch(path);
    ASSERT_TRUE(left);
    EXPECT_TRUE(left->SameSite("tandem1", "21", "dev.mgr"));
    EXPECT_FALSE(left->SameSite("tandem1", "21", "other"));
    EXPECT_EQ(left->Subvol, "$DATA01.ZDEMO");
    EXPECT_EQ(left->PcFolder, "/home/me/build");
    EXPECT_FALSE(left->Download);
    EXPECT_EQ(left->Items, (std::vector<std::string>{"/home/me/build/two words.c", "/home/me/build/odd\nname"}));
    EXPECT_EQ(RememberedBatchQuestion(*left), "2 files of the last upload were not transferred: Finish now?");
}

TEST(RememberedBatch, finishKeepsWhatIsLeftAndRemovesTheFileWhenNothingIs)
{
    QTemporaryDir dir;
    const std::string path = dir.filePath("Zarvel-batch").toStdString();
    TBatchMemory memory(path);
    memory.Start(Sample());
    memory.Done(1);
    memory.Finish();
    ASSERT_TRUE(LoadRememberedBatch(path));
    EXPECT_EQ(LoadRememberedBatch(path)->Items.size(), 3u);

    memory.Start(Sample());
    for (std::size_t i = 0; i < 4; ++i)
        memory.Done(i);
    memory.Finish();
    EXPECT_FALSE(LoadRememberedBatch(path));
    EXPECT_FALSE(QFile::exists(QString::fromStdString(path)));
}

} // namespace
