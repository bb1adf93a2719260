#include "session/ConnectFields.h"
#include "session/StartupSettings.h"
#include "session/PasswordScrambling.h"
#include "support/MemorySettingsStore.h"

#include <gtest/gtest.h>
#include <algorithm>

namespace {

using Writes = std::vector<std::string>;

struct PortRow {
    const char *text;
    const char *warning; // "" when the port passes
};

TEST(ConnectPort, checkWarnsForMissingForeignAndOutOfRangePorts)
{
    const PortRow rows[] = {
        // in range
        {"21", ""},
        {"0", ""},
        {" 21", ""},
        {"+21", ""},
        // ports above 32767 are real ports (the demo server listens on one)
        {"32768", ""},
        {"65535", ""},
        // out of range
        {"65536", "Port number invalid"},
        {"70000", "Port number invalid"},
        {"-1", "Port number invalid"},
        // no integer at all
        {"", "Missing port number"},
        {"ftp", "'ftp' is not a valid integer value"},
        {"21x", "'21x' is not a valid integer value"},
        {"21 ", "'21 ' is not a valid integer value"},
        {"+-21", "'+-21' is not a valid integer value"},
        {" ", "' ' is not a valid integer value"},
        {"2147483648", "'2147483648' is not a valid integer value"},
    };
    for (const PortRow &row : rows)
        EXPECT_EQ(CheckPort(row.text), row.warning) << "port text \"" << row.text << "\"";
}

TEST(ConnectPort, typingSeventyThousandWarnsAtTheDigitThatPassesTheLimit)
{
    std::string typed;
    std::vector<std::string> warnings;
    for (char digit : std::string("70000")) {
        typed += digit;
        warnings.push_back(CheckPort(typed));
    }
    EXPECT_EQ(warnings, (std::vector<std::string>{"", "", "", "", "Port number invalid"}));
}

class ConnectTake : public testing::Test {
protected:
    ConnectionSettings settings{"old", "oldpw", "olduser", 21, 0, "oldproxy", "$OLD"};
    ConnectFields fields{"tandem1", "2121", "ops1", "pw", "$DATA.SRC", true, "gate", false, true};
};

TEST_F(ConnectTake, emptyHostOrUserIsRefusedAndChangesNothing)
{
    for (auto blank : {&ConnectFields::Host, &ConnectFields::UserID}) {
        ConnectFields typed = fields;
        typed.*blank = "";
        const ConnectionSettings before = settings;
        EXPECT_EQ(TakeConnectFields(typed, settings), "Host and User ID are required fields");
        EXPECT_EQ(settings.HostName, before.HostName);
        EXPECT_EQ(settings.UserID, before.UserID);
        EXPECT_EQ(settings.HostPort, before.HostPort);
    }
}

TEST_F(ConnectTake, everyFieldIsTakenAndProxyOnlyWhileChecked)
{
    ASSERT_EQ(TakeConnectFields(fields, settings), "");
    EXPECT_EQ(settings.HostName, "tandem1");
    EXPECT_EQ(settings.HostPort, 2121);
    EXPECT_EQ(settings.UserID, "ops1");
    EXPECT_EQ(settings.Password, "pw");
    EXPECT_EQ(settings.InitialSubvol, "$DATA.SRC");
    EXPECT_EQ(settings.AutoConnect, 1);
    EXPECT_EQ(settings.ProxyName, "gate");

    fields.UseProxy = false;
    fields.AutoConnect = false;
    ASSERT_EQ(TakeConnectFields(fields, settings), "");
    EXPECT_EQ(settings.ProxyName, "") << "unchecked proxy with text in its field must connect directly";
    EXPECT_EQ(settings.AutoConnect, 0);
}

TEST_F(ConnectTake, nonIntegerPortStopsAfterHostNameWasReplaced)
{
    fields.Port = "21a";
    try {
        TakeConnectFields(fields, settings);
        FAIL() << "no conversion error";
    } catch (const EConvertError &e) {
        EXPECT_STREQ(e.what(), "'21a' is not a valid integer value");
    }
    EXPECT_EQ(settings.HostName, "tandem1");
    EXPECT_EQ(settings.HostPort, 21);
    EXPECT_EQ(settings.UserID, "olduser");
    EXPECT_EQ(settings.ProxyName, "oldproxy");
}

class ConnectSave : public testing::Test {
protected:
    TMemorySettingsStore store;
    ConnectFields fields{"tandem1", "2121", "ops1", "secret", "$DATA.SRC", false, "gate", true, true, true};

    std::string Scrambled(const std::string &key, const std::string &text)
    {
        std::string out;
        ScramblePassword(key, text, out);
        return out;
    }
};

TEST_F(ConnectSave, writesFieldsAsTypedInOrderAndLeavesThePasswordAlone)
{
    store.values["Password"] = Scrambled("ops1", "old");
    SaveConnectionSettings(&store, fields);
    EXPECT_EQ(store.writes, (Writes{"HostName=tandem1", "UserID=ops1", "ProxyName=gate",
                                    "InitialSubvol=$DATA.SRC", "HostPort=2121", "AutoConnect=1",
                                    "DataConnection=Passive", "Encryption=IfAvailable", "AcceptMissingCloseNotify=0"}))
        << "the proxy host is saved even while Use Proxy Settings is off";
}

TEST_F(ConnectSave, passiveOffIsStoredAsActive)
{
    fields.Passive = false;
    SaveConnectionSettings(&store, fields);
    EXPECT_NE(std::find(store.writes.begin(), store.writes.end(), "DataConnection=Active"), store.writes.end());
}

TEST_F(ConnectSave, nonIntegerPortStopsAfterTheFourTexts)
{
    fields.Port = "";
    EXPECT_THROW(SaveConnectionSettings(&store, fields), EConvertError);
    EXPECT_EQ(store.writes, (Writes{"HostName=tandem1", "UserID=ops1", "ProxyName=gate",
                                    "InitialSubvol=$DATA.SRC"}));
}

TEST_F(ConnectSave, failedTextWriteEndsSaveAndFailedIntegerWriteIsSkipped)
{
    store.failing = {"HostPort", "InitialSubvol"};
    try {
        SaveConnectionSettings(&store, fields);
        FAIL() << "no store error";
    } catch (const ESettingsStoreError &e) {
        EXPECT_STREQ(e.what(), "Failed to set data for 'InitialSubvol'");
    }
    EXPECT_EQ(store.writes, (Writes{"HostName=tandem1", "UserID=ops1", "ProxyName=gate"}));

    store.failing = {"HostPort"};
    store.writes.clear();
    SaveConnectionSettings(&store, fields);
    EXPECT_EQ(store.writes.size(), 8u) << "a failed integer write must not stop the save";
}

TEST_F(ConnectSave, withoutAStoreTheFirstWriteFails)
{
    try {
        SaveConnectionSettings(nullptr, fields);
        FAIL() << "no store error";
    } catch (const ESettingsStoreError &e) {
        EXPECT_STREQ(e.what(), "Failed to set data for 'HostName'");
    }
}

// Two sites on one host must be told apart in the window's caption.
TEST(SessionCaption, namesTheSiteOrTheHostWithAPortOtherThan21)
{
    ConnectionSettings settings;
    settings.HostName = "tandem1";
    settings.HostPort = 21;
    EXPECT_EQ(SessionCaption(settings), "Zarvel - tandem1");
    settings.HostPort = 2121;
    EXPECT_EQ(SessionCaption(settings), "Zarvel - tandem1:2121");
    settings.HostName = "::1";
    EXPECT_EQ(SessionCaption(settings), "Zarvel - [::1]:2121");
    settings.HostName = "[::1]";
    EXPECT_EQ(SessionCaption(settings), "Zarvel - [::1]:2121");
    settings.Site = "Tandem TLS";
    EXPECT_EQ(SessionCaption(settings), "Zarvel - Tandem TLS");

    ConnectFields typed;
    typed.Host = "tandem1";
    typed.Port = "21";
    typed.UserID = "ops1";
    typed.Site = "prod";
    ASSERT_EQ(TakeConnectFields(typed, settings), "");
    EXPECT_EQ(settings.Site, "prod") << "Connect keeps the site chosen in the dialog";
}

} // namespace
