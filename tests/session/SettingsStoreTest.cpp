#include "session/SettingsStore.h"

#include <gtest/gtest.h>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <csignal>
#include <functional>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

class SettingsFile : public testing::Test {
protected:
    QTemporaryDir dir;
    QString path = dir.filePath("Ondrik/Zarvel.conf");

    std::unique_ptr<TFileSettingsStore> Open()
    {
        auto store = std::make_unique<TFileSettingsStore>(path);
        std::string problem;
        EXPECT_TRUE(store->OpenOrCreate(problem)) << problem;
        return store;
    }
    QByteArray FileBytes() const
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    void PutFile(const QByteArray &bytes)
    {
        QDir().mkpath(dir.filePath("Ondrik"));
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }
    static std::string Message(const std::function<void()> &action)
    {
        try {
            action();
        } catch (const ESettingsStoreError &e) {
            return e.what();
        }
        return "no error";
    }
};

TEST_F(SettingsFile, valuesKeepTheirTypeAcrossSaveAndLoad)
{
    auto writer = Open();
    writer->WriteString("HostName", "tandem1");
    writer->WriteString("Empty", "");
    EXPECT_TRUE(writer->WriteInteger("HostPort", 2121));
    EXPECT_TRUE(writer->WriteInteger("LogLevel", -1));
    EXPECT_TRUE(writer->WriteInteger("Big", INT32_MIN));
    writer->Close();

    auto reader = Open();
    EXPECT_EQ(reader->ReadString("HostName"), "tandem1");
    EXPECT_EQ(reader->ReadString("Empty"), "");
    EXPECT_EQ(reader->ReadInteger("HostPort"), 2121);
    EXPECT_EQ(reader->ReadInteger("LogLevel"), -1);
    EXPECT_EQ(reader->ReadInteger("Big"), INT32_MIN);
    // Absent values, and integers asked for a text value.
    EXPECT_EQ(reader->ReadString("Absent"), "");
    EXPECT_EQ(reader->ReadInteger("Absent"), std::nullopt);
    EXPECT_EQ(reader->ReadInteger("HostName"), std::nullopt);
    EXPECT_EQ(reader->ReadInteger("Empty"), std::nullopt);
    EXPECT_EQ(Message([&] { reader->ReadString("HostPort"); }), "Invalid data type for 'HostPort'");
}

TEST_F(SettingsFile, textWithEveryByteValueReloadsExactly)
{
    std::string every;
    for (int b = 0; b < 256; ++b)
        every.push_back(static_cast<char>(b));
    every += "=\\x41 trailing blank ";
    Open()->WriteString("Password", every);
    EXPECT_EQ(Open()->ReadString("Password"), every);
    // One value a line however the text looks.
    EXPECT_EQ(FileBytes().count('\n'), 3) << FileBytes().constData();
}

TEST_F(SettingsFile, replacingAValueChangesItsTypeAndKeepsTheOthers)
{
    auto store = Open();
    store->WriteString("A", "one");
    store->WriteString("B", "two");
    EXPECT_TRUE(store->WriteInteger("A", 7));
    EXPECT_EQ(store->ReadInteger("A"), 7);
    EXPECT_EQ(Open()->ReadInteger("A"), 7);
    EXPECT_EQ(Open()->ReadString("B"), "two");
}

TEST_F(SettingsFile, fileIsPrivateToItsOwnerEvenWhenItWasNot)
{
    const auto mode = [&] {
        struct stat st {};
        EXPECT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0);
        return st.st_mode & 07777;
    };
    Open()->WriteString("Password", "x");
    EXPECT_EQ(mode(), 0600u);
    ::chmod(QFile::encodeName(path).constData(), 0644);
    Open()->WriteString("Password", "y");
    EXPECT_EQ(mode(), 0600u);
}


TEST_F(SettingsFile, writesFromAnotherCopyOfTheProgramSurvive)
{
    auto first = Open();
    auto second = Open();
    first->WriteString("HostName", "one");
    second->WriteString("UserID", "two");
    auto reader = Open();
    EXPECT_EQ(reader->ReadString("HostName"), "one");
    EXPECT_EQ(reader->ReadString("UserID"), "two");
}

TEST_F(SettingsFile, unparsableFileIsReportedWithLineAndLeftUntouched)
{
    const QByteArray bad = "# mine\nint HostPort=21\nHostName tandem\n";
    PutFile(bad);
    TFileSettingsStore store(path);
    std::string problem;
    EXPECT_FALSE(store.OpenOrCreate(problem));
    EXPECT_EQ(problem.rfind(path.toStdString() + ":3: ", 0), 0u) << problem;
    // A store that failed to open reads nothing and writes nothing.
    EXPECT_EQ(store.ReadInteger("HostPort"), std::nullopt);
    EXPECT_FALSE(store.WriteInteger("HostPort", 1));
    EXPECT_EQ(Message([&] { store.WriteString("HostName", "x"); }), "Failed to set data for 'HostName'");
    EXPECT_EQ(FileBytes(), bad);
}

TEST_F(SettingsFile, fileBrokenWhileRunningIsNotOverwritten)
{
    auto store = Open();
    store->WriteString("HostName", "a");
    const QByteArray bad = "text HostName=a\ntext HostName=b\n";
    PutFile(bad);
    EXPECT_FALSE(store->WriteInteger("HostPort", 21));
    EXPECT_EQ(Message([&] { store->WriteString("UserID", "u"); }), "Failed to set data for 'UserID'");
    EXPECT_EQ(FileBytes(), bad);
    EXPECT_EQ(store->ReadString("HostName"), "a");
}

TEST_F(SettingsFile, openingCreatesNothingTheFirstWriteMakesFolderAndFile)
{
    auto store = Open();
    EXPECT_EQ(store->ReadString("HostName"), "");
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("Ondrik"))) << "a run that saves nothing leaves no folder";
    EXPECT_TRUE(store->WriteInteger("HostPort", 21));
    EXPECT_EQ(FileBytes().contains("int HostPort=21\n"), true);
}

TEST_F(SettingsFile, storeThatCannotBeCreatedFailsToOpen)
{
    QFile blocker(dir.filePath("Ondrik"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly)); // a file where the folder should be
    blocker.close();
    TFileSettingsStore store(path);
    std::string problem;
    EXPECT_FALSE(store.OpenOrCreate(problem));
    EXPECT_NE(problem.find("Ondrik"), std::string::npos) << problem;
}

TEST_F(SettingsFile, newFolderIsTheOwnersAloneWhateverTheUmask)
{
    const mode_t mask = ::umask(0);
    Open()->WriteString("HostName", "a");
    ::umask(mask);
    struct stat status {};
    ASSERT_EQ(::stat(QFile::encodeName(dir.filePath("Ondrik")).constData(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0700u);
}

// Another user who can plant a link or write the folder must not get the password written
// through to a file of their choosing: each of these is refused, and the target stays as it was.
TEST_F(SettingsFile, linkedOrSharedFileOrFolderIsRefusedAndNeverWrittenThrough)
{
    struct Row {
        const char *what;
        std::function<void(QTemporaryDir &, const QByteArray &victim)> plant;
        const char *problem;
    };
    const Row rows[] = {
        {"link at the file",
         [](QTemporaryDir &d, const QByteArray &victim) {
             QDir().mkpath(d.filePath("Ondrik"));
             ASSERT_EQ(::symlink(victim, QFile::encodeName(d.filePath("Ondrik/Zarvel.conf"))), 0);
         },
         "The settings file FILE is a symbolic link"},
        {"link at the folder",
         [](QTemporaryDir &d, const QByteArray &) {
             QDir().mkpath(d.filePath("elsewhere"));
             ASSERT_EQ(::symlink(QFile::encodeName(d.filePath("elsewhere")), QFile::encodeName(d.filePath("Ondrik"))), 0);
         },
         "The settings folder DIR is a symbolic link"},
        {"group-writable folder",
         [](QTemporaryDir &d, const QByteArray &) {
             QDir().mkpath(d.filePath("Ondrik"));
             ::chmod(QFile::encodeName(d.filePath("Ondrik")), 0775);
         },
         "The settings folder DIR is writable by group or others"},
        {"world-writable file",
         [](QTemporaryDir &d, const QByteArray &) {
             QDir().mkpath(d.filePath("Ondrik"));
             QFile f(d.filePath("Ondrik/Zarvel.conf"));
             ASSERT_TRUE(f.open(QIODevice::WriteOnly));
             f.setPermissions(QFileDevice::Permissions(0x6666));
         },
         "The settings file FILE is writable by group or others"},
    };
    for (const Row &row : rows) {
        QTemporaryDir d;
        const QString file = d.filePath("Ondrik/Zarvel.conf");
        const QByteArray victim = QFile::encodeName(d.filePath("victim"));
        {
            QFile v(d.filePath("victim"));
            ASSERT_TRUE(v.open(QIODevice::WriteOnly));
            v.write("mine");
        }
        row.plant(d, victim);
        TFileSettingsStore store(file);
        std::string problem;
        EXPECT_FALSE(store.OpenOrCreate(problem)) << row.what;
        const QString expected = QString(row.problem).replace("FILE", file).replace("DIR", d.filePath("Ondrik"));
        EXPECT_EQ(problem, expected.toStdString()) << row.what;
        EXPECT_FALSE(store.WriteInteger("HostPort", 21)) << row.what;
        QFile v(d.filePath("victim"));
        ASSERT_TRUE(v.open(QIODevice::ReadOnly));
        EXPECT_EQ(v.readAll(), "mine") << row.what;
        EXPECT_FALSE(QFile::exists(d.filePath("elsewhere/Zarvel.conf"))) << row.what;
    }
}

TEST_F(SettingsFile, writeThatFailsHalfWayLeavesOldFileWhole)
{
    auto store = Open();
    store->WriteString("HostName", "tandem1");
    const QByteArray before = FileBytes();

    // Limit file size so the new file can only be written in part.
    struct rlimit saved {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto *previous = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = rlim_t(before.size() + 10);
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const std::string message = Message([&] { store->WriteString("Password", std::string(4000, 'p')); });
    const bool integerStored = store->WriteInteger("Filler", 1) && store->WriteInteger("Pad", 123456789);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);

    EXPECT_EQ(message, "Failed to set data for 'Password'");
    EXPECT_FALSE(integerStored);
    EXPECT_EQ(FileBytes(), before);
    EXPECT_EQ(store->ReadString("Password"), "");
    EXPECT_EQ(QDir(dir.filePath("Ondrik")).entryList(QDir::Files), QStringList{"Zarvel.conf"})
        << "no temporary file may be left behind";
}

struct ParseRow {
    const char *text;
    int badLine; // 0: parses
};

TEST(SettingsText, parserRejectsWhatItCannotReadAtTheRightLine)
{
    const ParseRow rows[] = {
        {"", 0},
        {"# only a comment\n\n   \n", 0},
        {"text A=\r\nint B=-5\r\n", 0},             // CR LF line ends
        {"text A=x\\x4", 1},                         // cut-short hex escape
        {"\ntext A=\\q", 2},                         // unknown escape
        {"text A=x\\", 1},                           // backslash at the end
        {"int A=\n", 1},                             // no digits
        {"int A=2147483648\n", 1},                   // beyond 32 bits
        {"int A=12 \n", 1},                          // trailing garbage
        {"float A=1\n", 1},                          // unknown type
        {"text =x\n", 1},                            // no name
        {"text A=1\nint A=2\n", 2},                  // given twice
        {"textA=1\n", 1},                            // no blank after the type
        {"HostName=x\n", 1},
    };
    for (const ParseRow &row : rows) {
        SCOPED_TRACE(row.text);
        const SettingsParse parse = ParseSettingsText(row.text);
        EXPECT_EQ(parse.ok, row.badLine == 0) << parse.what;
        EXPECT_EQ(parse.line, row.badLine);
    }
}

TEST(SettingsText, handTypedRawBytesAreTakenAsTheyAre)
{
    const SettingsParse parse = ParseSettingsText("text Subvol=$DATA1.\xC3\xA9t\t= x\n");
    ASSERT_TRUE(parse.ok) << parse.what;
    EXPECT_EQ(std::get<std::string>(parse.values.at("Subvol")), "$DATA1.\xC3\xA9t\t= x");
}

TEST_F(SettingsFile, namesTheFileCannotHoldAreRefusedNotWritten)
{
    auto store = Open();
    store->WriteString("Good", "1");
    for (const char *name : {"", "A=B", "A B", "A\nB"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(Message([&] { store->WriteString(name, "x"); }),
                  "Failed to set data for '" + std::string(name) + "'");
        EXPECT_FALSE(store->WriteInteger(name, 1));
    }
    EXPECT_TRUE(ParseSettingsText(FileBytes().toStdString()).ok);
}

} // namespace
