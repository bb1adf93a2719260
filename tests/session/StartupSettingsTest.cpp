#include "session/StartupSettings.h"
#include "session/PasswordScrambling.h"

#include <cstdlib>

#include <gtest/gtest.h>
#include <QFile>
#include <QTemporaryDir>

namespace {

// The windows as LoadStartupSettings sees them, recording what it asked for in order.
class RecordingWindows : public TStartupWindows {
public:
    ConnectionSettings connection;
    GeneralSettings general;
    std::vector<std::string> calls;
    std::string userIDWhenErrorShown;

    ConnectionSettings &HeldConnectionSettings() override { return connection; }
    GeneralSettings &HeldGeneralSettings() override { return general; }
    void SetProxyControls(bool on) override { calls.push_back(on ? "proxy on" : "proxy off"); }
    void ShowCommandLineError(const std::string &message) override
    {
        userIDWhenErrorShown = connection.UserID;
        calls.push_back("error: " + message);
    }
    void SetAutoConnectPending(bool on) override { calls.push_back(on ? "armed" : "not armed"); }
    void CloseMainWindow() override { calls.push_back("close"); }
};

class Startup : public testing::Test {
protected:
    QTemporaryDir dir;
    QString path = dir.filePath("Zarvel.conf");
    std::unique_ptr<TSettingsStore> store;
    RecordingWindows windows;

    void Put(const char *text)
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text);
        file.close();
    }
    TSettingsStore *Store()
    {
        std::string problem;
        store = OpenSettingsStore(std::make_unique<TFileSettingsStore>(path), problem);
        EXPECT_TRUE(store) << problem;
        return store.get();
    }
    std::string Scrambled(const std::string &key, const std::string &password)
    {
        std::string out;
        ScramblePassword(key, password, out);
        std::string escaped;
        for (unsigned char c : out) {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            escaped += hex;
        }
        return escaped;
    }
};

TEST_F(Startup, emptyStoreAndCommandLineGiveDefaults)
{
    EXPECT_TRUE(LoadStartupSettings(Store(), "", windows));
    EXPECT_EQ(windows.connection.HostName, "");
    EXPECT_EQ(windows.connection.HostPort, 21);
    EXPECT_EQ(windows.connection.AutoConnect, 0);
    EXPECT_EQ(windows.general.LogLevel, 1) << "failures and summaries reach the log window";
    EXPECT_EQ(windows.general.TouchFileBase, ".zarvel.xfer");
    EXPECT_TRUE(windows.general.ConfirmDelete) << "deletes ask unless turned off";
    EXPECT_EQ(windows.general.WhenFileExists, FileExistsRule::Ask);
    EXPECT_EQ(windows.calls, (std::vector<std::string>{"not armed"}));
    EXPECT_FALSE(QFile::exists(path)) << "start-up must write nothing";
}

TEST_F(Startup, storedValuesLoadAndPasswordUnscramblesWithStoredUserID)
{
    const std::string file = "text HostName=tandem1\ntext UserID=DEV.MGR\ntext ProxyName=\n"
        "text InitialSubvol=$DATA1.SRC\nint HostPort=2121\nint AutoConnect=0\n"
        "text Password=" + Scrambled("DEV.MGR", "s3cret") + "\nint LogLevel=5\n"
        "int SoundConfirmations=7\ntext TouchFileBase=\nint TouchDown=1\nint TouchUp=0\nint ConfirmDelete=0\n"
        "text WhenFileExists=skip\n";
    Put(file.c_str());
    const QByteArray before = [&] { QFile f(path); f.open(QIODevice::ReadOnly); return f.readAll(); }();
    EXPECT_TRUE(LoadStartupSettings(Store(), "", windows));
    const ConnectionSettings &c = windows.connection;
    EXPECT_EQ(c.HostName, "tandem1");
    EXPECT_EQ(c.UserID, "DEV.MGR");
    EXPECT_EQ(c.InitialSubvol, "$DATA1.SRC");
    EXPECT_EQ(c.HostPort, 2121);
    EXPECT_EQ(c.Password, "s3cret");
    // Out-of-range log levels are kept as stored; any non-zero flag is on.
    EXPECT_EQ(windows.general.LogLevel, 5);
    EXPECT_TRUE(windows.general.SoundConfirmations);
    EXPECT_EQ(windows.general.TouchFileBase, ".zarvel.xfer");
    EXPECT_TRUE(windows.general.TouchDown);
    EXPECT_FALSE(windows.general.TouchUp);
    EXPECT_FALSE(windows.general.ConfirmDelete);
    EXPECT_EQ(windows.general.WhenFileExists, FileExistsRule::Skip);
    QFile after(path);
    ASSERT_TRUE(after.open(QIODevice::ReadOnly));
    EXPECT_EQ(after.readAll(), before);
}

TEST_F(Startup, integersStoredAsTextFallBackToDefaults)
{
    Put("text HostPort=2121\ntext AutoConnect=1\ntext LogLevel=3\ntext TouchUp=1\n");
    EXPECT_TRUE(LoadStartupSettings(Store(), "", windows));
    EXPECT_EQ(windows.connection.HostPort, 21);
    EXPECT_EQ(windows.connection.AutoConnect, 0);
    EXPECT_EQ(windows.general.LogLevel, 1);
    EXPECT_FALSE(windows.general.TouchUp);
}

TEST_F(Startup, textStoredAsIntegerEndsStartUpWithItsName)
{
    Put("int UserID=5\n");
    try {
        LoadStartupSettings(Store(), "", windows);
        FAIL() << "no error";
    } catch (const ESettingsStoreError &e) {
        EXPECT_STREQ(e.what(), "Invalid data type for 'UserID'");
    }
}

TEST_F(Startup, commandLineWinsOverStoreForThisRunOnly)
{
    Put("text HostName=stored\nint HostPort=2121\ntext UserID=U\n");
    EXPECT_TRUE(LoadStartupSettings(Store(), "hostn cmdline touchu", windows));
    EXPECT_EQ(windows.connection.HostName, "cmdline");
    EXPECT_EQ(windows.connection.HostPort, 2121);
    EXPECT_EQ(windows.connection.UserID, "U");
    EXPECT_TRUE(windows.general.TouchUp);
    EXPECT_EQ(store->ReadString("HostName"), "stored");
    EXPECT_EQ(TFileSettingsStore(path).ReadInteger("TouchUp"), std::nullopt);
}

// The demo and scripts pass the password outside the process list; a Password keyword (any
// unique prefix) still wins, and a value that merely reads "password" is no keyword.
TEST_F(Startup, environmentPasswordStandsInOnlyWhenTheCommandLineGivesNone)
{
    Put(("text UserID=DEV.MGR\ntext Password=" + Scrambled("DEV.MGR", "stored") + "\n").c_str());
    const struct {
        const char *line;
        const char *password;
    } rows[] = {
        {"", "from-env"},
        {"userid password", "from-env"},
        {"pa typed", "typed"},
        {"Password typed hostn h", "typed"},
    };
    for (const auto &row : rows) {
        ::setenv("ZARVEL_PASSWORD", "from-env", 1);
        RecordingWindows fresh;
        EXPECT_TRUE(LoadStartupSettings(Store(), row.line, fresh)) << row.line;
        EXPECT_EQ(fresh.connection.Password, row.password) << row.line;
        // Read once and gone: no program started from here (a browser, an editor) inherits it.
        EXPECT_EQ(std::getenv("ZARVEL_PASSWORD"), nullptr) << row.line;
    }
    RecordingWindows without;
    EXPECT_TRUE(LoadStartupSettings(Store(), "", without));
    EXPECT_EQ(without.connection.Password, "stored");
}

// The scrambled password in the file belongs to the stored login, as a keyring item does:
// a command line that names another host, port or user gets no password from the file.
TEST_F(Startup, storedPasswordGoesOnlyToTheLoginItWasSavedWith)
{
    Put(("text HostName=tandem1\nint HostPort=2121\ntext UserID=DEV.MGR\ntext Password=" +
         Scrambled("DEV.MGR", "s3cret") + "\n").c_str());
    const struct {
        const char *line;
        const char *password;
    } rows[] = {
        {"", "s3cret"},
        {"HostName tandem1 HostPort 2121", "s3cret"},
        {"HostName evil", ""},
        {"HostPort 2122", ""},
        {"UserID SUPER.SUPER", ""},
        {"HostName evil Password typed", "typed"},
    };
    for (const auto &row : rows) {
        RecordingWindows fresh;
        EXPECT_TRUE(LoadStartupSettings(Store(), row.line, fresh)) << row.line;
        EXPECT_EQ(fresh.connection.Password, row.password) << row.line;
    }
}

TEST_F(Startup, proxyNameFromStoreOrCommandLineSwitchesProxyControlsOn)
{
    Put("text ProxyName=gate\n");
    EXPECT_TRUE(LoadStartupSettings(Store(), "", windows));
    EXPECT_EQ(windows.calls, (std::vector<std::string>{"proxy on", "not armed"}));

    RecordingWindows fromLine;
    EXPECT_TRUE(LoadStartupSettings(nullptr, "pr gate2", fromLine));
    EXPECT_EQ(fromLine.connection.ProxyName, "gate2");
    EXPECT_EQ(fromLine.calls, (std::vector<std::string>{"proxy on", "not armed"}));
}

TEST_F(Startup, autoConnectFromStoreOrCommandLineArmsTheConnection)
{
    Put("int AutoConnect=1\n");
    EXPECT_TRUE(LoadStartupSettings(Store(), "", windows));
    EXPECT_EQ(windows.calls, (std::vector<std::string>{"armed"}));

    RecordingWindows fromLine;
    EXPECT_TRUE(LoadStartupSettings(nullptr, "au", fromLine));
    EXPECT_EQ(fromLine.calls, (std::vector<std::string>{"armed"}));
}

TEST_F(Startup, commandLineErrorIsShownThenRestRunsThenWindowCloses)
{
    EXPECT_FALSE(LoadStartupSettings(nullptr, "UserID ops1 pr gate HostPort", windows));
    EXPECT_EQ(windows.userIDWhenErrorShown, "ops1");
    EXPECT_EQ(windows.calls, (std::vector<std::string>{
        "error: Invalid value for HostPort", "proxy on", "not armed", "close"}));
}

TEST_F(Startup, withoutStoreEveryValueTakesItsDefault)
{
    windows.connection.Password = "kept";
    EXPECT_TRUE(LoadStartupSettings(nullptr, "", windows));
    EXPECT_EQ(windows.connection.HostPort, 21);
    EXPECT_EQ(windows.connection.Password, "kept");
    EXPECT_EQ(windows.general.TouchFileBase, ".zarvel.xfer");
    const StartupFilters filters = LoadStartupFilters(nullptr);
    EXPECT_EQ(filters.FilterPC, kDefaultFilterPC);
    EXPECT_EQ(filters.FilterTandem, kDefaultFilterTandem);
}

TEST_F(Startup, storedFiltersReplaceBuiltInOnesUnlessEmpty)
{
    Put("text FilterPC=Text (*.txt)|*.txt\ntext FilterTandem=\n");
    const StartupFilters filters = LoadStartupFilters(Store());
    EXPECT_EQ(filters.FilterPC, "Text (*.txt)|*.txt");
    EXPECT_EQ(filters.FilterTandem, kDefaultFilterTandem);
}

TEST_F(Startup, unreadableStoreIsDroppedWithAProblemToShow)
{
    Put("garbage\n");
    std::string problem;
    EXPECT_EQ(OpenSettingsStore(std::make_unique<TFileSettingsStore>(path), problem), nullptr);
    EXPECT_NE(problem.find(":1:"), std::string::npos) << problem;
}

// Reload fills the dialog's fields: the password hook sees the empty text when none is stored
// and the text unscrambled with the user ID read just before it.
TEST_F(Startup, connectionFieldsReceiveValuesInStoreOrder)
{
    struct Fields : TConnectionFields {
        std::vector<std::string> seen;
        void SetHostName(const std::string &v) override { seen.push_back("host=" + v); }
        void SetUserID(const std::string &v) override { seen.push_back("user=" + v); }
        void SetProxyName(const std::string &v) override { seen.push_back("proxy=" + v); }
        void SetInitialSubvol(const std::string &v) override { seen.push_back("subvol=" + v); }
        void SetHostPort(std::int32_t v) override { seen.push_back("port=" + std::to_string(v)); }
        void SetAutoConnect(std::int32_t v) override { seen.push_back("auto=" + std::to_string(v)); }
        void SetEncryption(const std::string &v) override { seen.push_back("encryption=" + v); }
        void SetStoredPassword(const std::string &v) override { seen.push_back("password=" + v); }
        void SetPassive(bool v) override { seen.push_back(v ? "passive" : "active"); }
        void SetAcceptMissingCloseNotify(bool v) override { seen.push_back(v ? "accept cut" : "refuse cut"); }
    } fields;
    const std::string file = "text HostName=h\ntext UserID=other\ntext Password="
        + Scrambled("U", "pw") + "\ntext DataConnection=passive\nint AcceptMissingCloseNotify=7\n";
    Put(file.c_str());
    LoadConnectionSettings(Store(), fields);
    ASSERT_EQ(fields.seen.size(), 14u);
    EXPECT_EQ(fields.seen[0], "host=");
    EXPECT_EQ(fields.seen[1], "host=h");
    EXPECT_EQ(fields.seen[3], "user=other");
    EXPECT_EQ(fields.seen[8], "port=21");
    EXPECT_EQ(fields.seen[9], "auto=0");
    // Settings saved before encryption existed get the default.
    EXPECT_EQ(fields.seen[10], "encryption=IfAvailable");
    // Stored under another user ID: a different text, no error.
    EXPECT_NE(fields.seen[11], "password=pw");
    EXPECT_EQ(fields.seen[11].size(), std::string("password=pw").size());
    EXPECT_EQ(fields.seen[12], "passive");  // any letter case
    EXPECT_EQ(fields.seen[13], "accept cut"); // any non-zero integer
}

TEST_F(Startup, storedEncryptionReadsInAnyCaseAndUnknownValuesGiveTheDefault)
{
    const std::pair<const char *, const char *> cases[] = {
        {"require", "Require"}, {"NONE", "None"}, {"IfAvailable", "IfAvailable"}, {"always", "IfAvailable"}};
    for (const auto &[stored, read] : cases) {
        Put((std::string("text Encryption=") + stored + "\n").c_str());
        ConnectionSettings settings;
        THeldConnectionFields held(settings);
        LoadConnectionSettings(Store(), held);
        EXPECT_EQ(settings.Encryption, read) << stored;
    }
}

} // namespace
