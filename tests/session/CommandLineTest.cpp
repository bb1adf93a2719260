#include "session/CommandLine.h"
#include "session/CommandLineUsage.h"

#include <gtest/gtest.h>
#include <sstream>

namespace {

TEST(CommandLine, tokensAreRunsBetweenBlanksAndCommas)
{
    using V = std::vector<std::string>;
    EXPECT_EQ(SplitCommandLine(""), V{});
    EXPECT_EQ(SplitCommandLine(" ,, , "), V{});
    EXPECT_EQ(SplitCommandLine(",a,,b  c,"), (V{"a", "b", "c"}));
    // Tabs are ordinary characters, and so is a double quote inside a token.
    EXPECT_EQ(SplitCommandLine("a\tb c\"d"), (V{"a\tb", "c\"d"}));
    // A token that starts with a double quote holds blanks and commas up to the closing one.
    EXPECT_EQ(SplitCommandLine("site \"Tandem TLS\",u \"a,b\""), (V{"site", "Tandem TLS", "u", "a,b"}));
    EXPECT_EQ(SplitCommandLine("p \"\" x"), (V{"p", "", "x"})) << "an empty value";
    EXPECT_EQ(SplitCommandLine("p \"say \"\"hi\"\"\""), (V{"p", "say \"hi\""})) << "doubled quotes";
    EXPECT_EQ(SplitCommandLine("p \"open, to the end"), (V{"p", "open, to the end"}));
}

// What the shell kept whole stays one word; commas still separate.
TEST(CommandLine, joinedArgumentsSplitBackIntoThemselves)
{
    const std::vector<std::vector<std::string>> table = {
        {}, {"HostName", "tandem1"}, {"Site", "Tandem TLS"}, {"Password", ""}, {"Password", "a b,c"},
        {"Password", "\"quoted\""}, {"Password", "in\"side"}, {"Password", "\""}, {"x\ty", "\"a b"}};
    for (const auto &arguments : table)
        EXPECT_EQ(SplitCommandLine(JoinArguments(arguments)), arguments) << JoinArguments(arguments);
    EXPECT_EQ(JoinArguments({"Site", "Tandem TLS", "AutoConnect"}), "Site \"Tandem TLS\" AutoConnect");
    EXPECT_EQ(SplitCommandLine(JoinArguments({"--help,", "hostname", "tandem1,userid"})),
              (std::vector<std::string>{"--help", "hostname", "tandem1", "userid"}));
}

TEST(CommandLine, portTextConvertsLikeTheDecimalReaderOfC)
{
    const std::pair<const char *, std::int32_t> rows[] = {
        {"2121", 2121}, {"21x", 21}, {"x", 0}, {"", 0}, {"-5", -5}, {"+7", 7}, {"\t 80", 80},
        {"70000", 70000}, {"--1", 0}, {"2147483647", 2147483647},
        // Beyond 32 bits the value stays at the nearer end rather than wrapping.
        {"99999999999999999999", 2147483647}, {"-99999999999999999999", INT32_MIN},
    };
    for (const auto &[text, port] : rows) {
        SCOPED_TRACE(text);
        EXPECT_EQ(CommandLinePort(text), port);
    }
}

struct ApplyRow {
    const char *line;
    const char *error;
    ConnectionSettings connection;
    GeneralSettings general;
};

ConnectionSettings Stored()
{
    ConnectionSettings c;
    c.HostName = "stored";
    c.UserID = "storeduser";
    c.Password = "storedpw";
    c.HostPort = 21;
    return c;
}

ConnectionSettings With(std::function<void(ConnectionSettings &)> change)
{
    ConnectionSettings c = Stored();
    change(c);
    return c;
}

GeneralSettings Touch(bool down, bool up, std::int32_t keepAlive = 0)
{
    GeneralSettings g;
    g.KeepAlive = keepAlive;
    g.TouchFileBase = ".zarvel.xfer";
    g.TouchDown = down;
    g.TouchUp = up;
    return g;
}

GeneralSettings WithConnections(std::int32_t connections)
{
    GeneralSettings g = Touch(false, false);
    g.Connections = connections;
    return g;
}

GeneralSettings WithRetries(std::int32_t retries)
{
    GeneralSettings g = Touch(false, false);
    g.Retries = retries;
    return g;
}

GeneralSettings WithoutDeleteQuestion()
{
    GeneralSettings g = Touch(false, false);
    g.ConfirmDelete = false;
    return g;
}

GeneralSettings WithRule(FileExistsRule rule)
{
    GeneralSettings g = Touch(false, false);
    g.WhenFileExists = rule;
    return g;
}

GeneralSettings Lines(LineEnds lineEnds)
{
    GeneralSettings g = Touch(false, false);
    g.AsciiLineEnds = lineEnds;
    return g;
}

void ExpectSame(const ConnectionSettings &a, const ConnectionSettings &b)
{
    EXPECT_EQ(a.HostName, b.HostName);
    EXPECT_EQ(a.Password, b.Password);
    EXPECT_EQ(a.UserID, b.UserID);
    EXPECT_EQ(a.HostPort, b.HostPort);
    EXPECT_EQ(a.AutoConnect, b.AutoConnect);
    EXPECT_EQ(a.ProxyName, b.ProxyName);
    EXPECT_EQ(a.InitialSubvol, b.InitialSubvol);
    EXPECT_EQ(a.Passive, b.Passive);
}

TEST(CommandLine, optionsApplyInOrderAndErrorsStopWithEarlierOnesKept)
{
    const ApplyRow rows[] = {
        {"", "", Stored(), Touch(false, false)},
        {"hostname tandem1, userid dev.mgr, autoconnect", "",
         With([](auto &c) { c.HostName = "tandem1"; c.UserID = "dev.mgr"; c.AutoConnect = 1; }),
         Touch(false, false)},
        {"HOSTPORT 2121", "", With([](auto &c) { c.HostPort = 2121; }), Touch(false, false)},
        {"HostPort x", "", With([](auto &c) { c.HostPort = 0; }), Touch(false, false)},
        {"hostp 21x", "", With([](auto &c) { c.HostPort = 21; }), Touch(false, false)},
        {"HostName a HostName b", "", With([](auto &c) { c.HostName = "b"; }), Touch(false, false)},
        // IPv6 literals, with or without brackets, are kept as typed (colons separate nothing).
        {"hostn ::1 pr [fe80::1]", "", With([](auto &c) { c.HostName = "::1"; c.ProxyName = "[fe80::1]"; }),
         Touch(false, false)},
        {"HostName [2001:db8::a],u x", "", With([](auto &c) { c.HostName = "[2001:db8::a]"; c.UserID = "x"; }),
         Touch(false, false)},
        // A value that looks like a keyword is still the value.
        {"HostName UserID", "", With([](auto &c) { c.HostName = "UserID"; }), Touch(false, false)},
        {"pa autoconnect", "", With([](auto &c) { c.Password = "autoconnect"; }), Touch(false, false)},
        // --help after the first word is an ordinary value, not a request for the usage.
        {"pa --help", "", With([](auto &c) { c.Password = "--help"; }), Touch(false, false)},
        {"touchup,,touchdown", "", Stored(), Touch(true, true)},
        {"pr gate i $DATA1.DEV", "",
         With([](auto &c) { c.ProxyName = "gate"; c.InitialSubvol = "$DATA1.DEV"; }), Touch(false, false)},
        // Tabs do not separate: this is one unknown token.
        {"a\tHostName x", "Invalid parameter: a\tHostName", Stored(), Touch(false, false)},
        // Errors: unknown, ambiguous, missing value; what came before stays applied.
        {"Host a", "Invalid parameter: Host", Stored(), Touch(false, false)},
        {"Hostx a", "Invalid parameter: Hostx", Stored(), Touch(false, false)},
        {"touchdown ,  x  touchup", "Invalid parameter: x", Stored(), Touch(true, false)},
        // Encryption: the next word in any case; "en" is its shortest abbreviation beside Editor.
        {"Encryption require", "", With([](auto &c) { c.Encryption = "Require"; }), Touch(false, false)},
        {"en NONE", "", With([](auto &c) { c.Encryption = "None"; }), Touch(false, false)},
        {"encr ifavailable", "", With([](auto &c) { c.Encryption = "IfAvailable"; }), Touch(false, false)},
        {"en always", "Invalid value for Encryption", Stored(), Touch(false, false)},
        {"e NONE", "Invalid parameter: e", Stored(), Touch(false, false)},
        {"Encryption", "Invalid value for Encryption", Stored(), Touch(false, false)},
        {"UserID", "Invalid value for UserID", Stored(), Touch(false, false)},
        {"UserID ops1 HostPort", "Invalid value for HostPort",
         With([](auto &c) { c.UserID = "ops1"; }), Touch(false, false)},
        {"u ops1 hostp", "Invalid value for HostPort",
         With([](auto &c) { c.UserID = "ops1"; }), Touch(false, false)},
        // Data connection: either word in any case or a unique prefix of it; "d" is unique.
        {"d passive", "", With([](auto &c) { c.Passive = true; }), Touch(false, false)},
        {"DataConnection PASS d Active", "", Stored(), Touch(false, false)},
        {"d p", "", With([](auto &c) { c.Passive = true; }), Touch(false, false)},
        {"d pasv", "Invalid value for DataConnection", Stored(), Touch(false, false)},
        {"d", "Invalid value for DataConnection", Stored(), Touch(false, false)},
        // Keep-alive seconds: read like the port, never below 0 nor above a day.
        {"k 300", "", Stored(), Touch(false, false, 300)},
        {"KeepAlive -5", "", Stored(), Touch(false, false, 0)},
        {"keepalive 9999999", "", Stored(), Touch(false, false, kMaxKeepAlive)},
        // The delete question: On or Off in any case; "conf" is unique.
        {"conf off", "", Stored(), WithoutDeleteQuestion()},
        {"ConfirmDelete OFF confirmdelete on", "", Stored(), Touch(false, false)},
        {"conf no", "Invalid value for ConfirmDelete", Stored(), Touch(false, false)},
        // A batch's connections: read like the port, held within 1 to 8; "con" is ambiguous.
        {"conn 3", "", Stored(), WithConnections(3)},
        {"Connections 0", "", Stored(), WithConnections(1)},
        {"connections 99", "", Stored(), WithConnections(kMaxConnections)},
        // Reopenings of a lost session: held within 0 to 10; "r" is unique.
        {"r 0", "", Stored(), WithRetries(0)},
        {"Retries 99", "", Stored(), WithRetries(kMaxRetries)},
        {"con 3", "Invalid parameter: con", Stored(), Touch(false, false)},
        // What a transfer does with a taken name: a rule in any case or a unique prefix of it.
        {"w s", "", Stored(), WithRule(FileExistsRule::Skip)},
        {"WhenFileExists OVERWRITE", "", Stored(), WithRule(FileExistsRule::Overwrite)},
        {"w ask", "", Stored(), Touch(false, false)},
        {"w replace", "Invalid value for WhenFileExists", Stored(), Touch(false, false)},
        // Without a site loader every site is unknown.
        {"s test", "Unknown site: test", Stored(), Touch(false, false)},
        // AsciiLineEnds shares its first letter with AutoConnect: "a" names neither.
        {"as crlf", "", Stored(), Lines(LineEnds::CRLF)},
        {"AsciiLineEnds CRLF asc L", "", Stored(), Lines(LineEnds::LF)},
        {"as cr", "", Stored(), Lines(LineEnds::CRLF)},
        {"as unix", "Invalid value for AsciiLineEnds", Stored(), Touch(false, false)},
        {"a", "Invalid parameter: a", Stored(), Touch(false, false)},
        {"au", "", With([](auto &c) { c.AutoConnect = 1; }), Touch(false, false)},
    };
    for (const ApplyRow &row : rows) {
        SCOPED_TRACE(row.line);
        ConnectionSettings connection = Stored();
        GeneralSettings general = Touch(false, false);
        EXPECT_EQ(ApplyCommandLine(row.line, connection, general), row.error);
        ExpectSame(connection, row.connection);
        EXPECT_EQ(general.TouchDown, row.general.TouchDown);
        EXPECT_EQ(general.TouchUp, row.general.TouchUp);
        EXPECT_EQ(general.TouchFileBase, row.general.TouchFileBase);
        EXPECT_EQ(general.KeepAlive, row.general.KeepAlive);
        EXPECT_EQ(general.ConfirmDelete, row.general.ConfirmDelete);
        EXPECT_EQ(general.WhenFileExists, row.general.WhenFileExists);
        EXPECT_EQ(general.AsciiLineEnds, row.general.AsciiLineEnds);
        EXPECT_EQ(general.Connections, row.general.Connections);
        EXPECT_EQ(general.Retries, row.general.Retries);
    }
}

// Site loads the whole saved connection at its place in the line: later keywords override it.
TEST(CommandLine, siteReplacesTheConnectionWhereItStands)
{
    const SiteLoader loader = [](const std::string &name, ConnectionSettings &c) {
        if (name != "prod")
            return false;
        c = ConnectionSettings{};
        c.HostName = "prodhost";
        c.UserID = "produser";
        c.Passive = true;
        return true;
    };
    ConnectionSettings connection = Stored();
    GeneralSettings general;
    EXPECT_EQ(ApplyCommandLine("hostname early site prod u ops1", connection, general, loader), "");
    EXPECT_EQ(connection.HostName, "prodhost");
    EXPECT_EQ(connection.UserID, "ops1");
    EXPECT_EQ(connection.Password, "") << "the stored password must not travel to another site";
    EXPECT_TRUE(connection.Passive);

    connection = Stored();
    EXPECT_EQ(ApplyCommandLine("site Prod", connection, general, loader), "Unknown site: Prod");
    ExpectSame(connection, Stored());
}

TEST(CommandLine, helpAndVersionCountOnlyAsTheFirstWordSoNoValueChangesMeaning)
{
    using R = CommandLineRequest;
    const std::pair<const char *, R> rows[] = {
        {"", R::Run}, {"hostname tandem1", R::Run},
        {"--help", R::Help}, {"-h", R::Help}, {" ,--help, hostname x", R::Help},
        {"--version", R::Version}, {"--version --help", R::Version},
        // In any later place they are values (a password may be "--help") or bad keywords.
        {"HostName --help", R::Run}, {"Password --version", R::Run}, {"a --help", R::Run},
        // Only the exact words: the rest goes to the keyword parse and its error message.
        {"--helpme", R::Run}, {"--HELP", R::Run}, {"-help", R::Run}, {"--version=1", R::Run},
    };
    for (const auto &[line, request] : rows) {
        SCOPED_TRACE(line);
        EXPECT_EQ(RequestOf(line), request);
    }
}

TEST(CommandLine, usageDescribesEveryKeywordOfTheParserWithinEightyColumns)
{
    const std::string usage = CommandLineUsage("/home/u/.config/Ondrik/Zarvel.conf");
    for (std::string_view keyword : CommandLineKeywords()) {
        SCOPED_TRACE(std::string(keyword));
        const size_t at = usage.find("\n  " + std::string(keyword) + " ");
        ASSERT_NE(at, std::string::npos);
        // The keyword's line carries an effect in the column after the values.
        const std::string line = usage.substr(at + 1, usage.find('\n', at + 1) - at - 1);
        EXPECT_GT(line.size(), 30u) << line;
    }
    std::istringstream lines(usage);
    for (std::string line; std::getline(lines, line);)
        EXPECT_LE(line.size(), 80u) << line;
    EXPECT_NE(usage.find("Settings file: /home/u/.config/Ondrik/Zarvel.conf\n"), std::string::npos);
    EXPECT_NE(usage.find("ZARVEL_PASSWORD"), std::string::npos) << "the password that stays out of ps";
    EXPECT_EQ(usage.back(), '\n');
}

} // namespace
