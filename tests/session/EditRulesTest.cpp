// The pure rules of editing host files: what a listing line says about the file's version,
// the temporary names an upload uses, and how a desktop entry's Exec line takes the file.
#include "session/EditFolders.h"
#include "session/EditRules.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cctype>
#include <set>
#include <string>
#include <sys/stat.h>

namespace {

// --- The stamp of a listing line -----------------------------------------------------

struct StampRow {
    const char *line;
    std::int64_t size;
    const char *modified;
};

TEST(EditRulesTest, stampReadsSizeAndModificationAsListed)
{
    const StampRow rows[] = {
        {"PROGC         101            16354 18-Mar-08 15:09:12 244, 10 \"nnnn\"", 16354, "18-Mar-08 15:09:12"},
        // The owner's numbers or a name with dashes are no date.
        {"A-B-C         100               20 1-Jan-26 00:00:00 100,  1 \"oooo\"", 20, "1-Jan-26 00:00:00"},
        // A date at the line's end has no time after it.
        {"LOG01         180                5 7-Dec-26", 5, "7-Dec-26"},
        // No date at all: the size alone identifies the version.
        {"ODD           101               42", 42, ""},
        {"", 0, ""},
    };
    for (const StampRow &row : rows) {
        SCOPED_TRACE(row.line);
        const HostFileStamp stamp = StampOfListingLine(row.line);
        EXPECT_EQ(stamp.Size, row.size);
        EXPECT_EQ(stamp.Modified, row.modified);
    }
}

TEST(EditRulesTest, anotherSaveChangesTheStamp)
{
    const HostFileStamp seen = StampOfListingLine("PROGC         101            16354 18-Mar-08 15:09:12 244, 10 \"nnnn\"");
    // Same size, one second later; same time, another size: both are another version.
    EXPECT_NE(seen, StampOfListingLine("PROGC         101            16354 18-Mar-08 15:09:13 244, 10 \"nnnn\""));
    EXPECT_NE(seen, StampOfListingLine("PROGC         101            16355 18-Mar-08 15:09:12 244, 10 \"nnnn\""));
    // Another owner or security is no change of the text.
    EXPECT_EQ(seen, StampOfListingLine("PROGC         101            16354 18-Mar-08 15:09:12 100,  1 \"oooo\""));
}

// --- Names on the host ---------------------------------------------------------------

TEST(EditRulesTest, temporaryNamesAreDistinctGuardianNames)
{
    std::set<std::string> names;
    for (std::uint32_t serial : {0u, 1u, 35u, 36u, 1679615u, 1679616u, 0xFFFFFFFFu}) {
        const std::string name = TemporaryHostName(serial);
        SCOPED_TRACE(name);
        ASSERT_LE(name.size(), 8u);
        EXPECT_TRUE(std::isalpha(static_cast<unsigned char>(name.front())));
        for (const char c : name)
            EXPECT_TRUE(std::isupper(static_cast<unsigned char>(c)) || std::isdigit(static_cast<unsigned char>(c)));
        names.insert(name);
    }
    // 36^4 names: serials one cycle apart meet, neighbours never.
    EXPECT_EQ(names.size(), 6u);
    EXPECT_EQ(NameWithFileCode("PROGC", 101), "PROGC,101");
    EXPECT_EQ(NameWithFileCode("CUSTDATA", 0), "CUSTDATA,0");
}

// --- Desktop entries -----------------------------------------------------------------

struct ExecRow {
    const char *exec;
    QStringList expected;
};

TEST(EditRulesTest, desktopExecTakesTheFileWhereItsFieldCodeStands)
{
    const QString path = "/run/user/1/zarvel-edits/abc/PROG.C";
    const ExecRow rows[] = {
        {"gedit %U", {"gedit", path}},
        {"kate -b %f --new", {"kate", "-b", path, "--new"}},
        {"\"/opt/my editor/bin/ed\" %F", {"/opt/my editor/bin/ed", path}},
        // Icon, name and entry codes go; a doubled percent is one.
        {"xed %i --caption %c %k %u", {"xed", "--caption", path}},
        {"printf 100%% %f", {"printf", "100%", path}},
        // Without a file code the file comes last.
        {"mousepad", {"mousepad", path}},
    };
    for (const ExecRow &row : rows) {
        SCOPED_TRACE(row.exec);
        EXPECT_EQ(DesktopExecArguments(row.exec, path), row.expected);
    }
}

// --- Private folders -----------------------------------------------------------------

TEST(EditRulesTest, editFoldersArePrivateAndRefuseAnOpenOrLinkedBase)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    std::string error;
    const QString base = dir.filePath("edits");
    const QString folder = MakeEditFolder(base, error);
    ASSERT_FALSE(folder.isEmpty()) << error;
    struct stat status {};
    ASSERT_EQ(::stat(QFile::encodeName(folder).constData(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0700u);
    ASSERT_EQ(::stat(QFile::encodeName(base).constData(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0700u);
    EXPECT_NE(MakeEditFolder(base, error), folder);

    // A link at the base could lead the copies anywhere.
    ASSERT_TRUE(QFile::link(base, dir.filePath("link")));
    EXPECT_TRUE(MakeEditFolder(dir.filePath("link"), error).isEmpty());
    EXPECT_NE(error.find("private folder"), std::string::npos) << error;
}

} // namespace
