#include "session/CommandLineUsage.h"
#include "session/CommandLine.h"

#include <algorithm>
#include <array>

namespace {

struct KeywordHelp {
    std::string_view keyword; // as spelled in the keyword table
    std::string_view value;   // what follows it; empty for a keyword without a value
    std::string_view effect;  // one line
};

constexpr std::array<KeywordHelp, 20> kKeywordHelp = {{
    {"HostName", "HOST", "FTP server's host name or address"},
    {"UserID", "USER", "user name for the login"},
    {"Password", "PASSWORD", "password, in plain text"},
    {"ProxyName", "HOST", "FTP proxy; the host travels in USER (user@host)"},
    {"InitialSubvol", "SUBVOL", "subvolume to enter after the login ($VOL.SUBVOL)"},
    {"HostPort", "NUMBER", "FTP server's port; 21 if never set"},
    {"AutoConnect", "", "connect at start-up"},
    {"TouchDown", "", "maintain the download marker file for this run"},
    {"TouchUp", "", "maintain the upload marker file for this run"},
    {"DataConnection", "Active|Passive", "PORT/EPRT (default) or EPSV/PASV connections"},
    {"KeepAlive", "SECONDS", "NOOP after this many idle seconds; 0 never"},
    {"Site", "NAME", "the saved site to connect to (from the connect dialog)"},
    {"Encryption", "MODE", "FTP over TLS: Require, IfAvailable (default) or None"},
    {"ConfirmDelete", "On|Off", "ask before deleting files (default On)"},
    {"WhenFileExists", "RULE", "target exists: Ask (default), Overwrite or Skip"},
    {"AsciiLineEnds", "LF|CRLF", "ASCII files on the PC: LF (default) or the wire's CR LF"},
    {"Connections", "NUMBER", "sessions a batch moves files over, 1 to 8 (default 2)"},
    {"Editor", "PROGRAM", "program that edits host files; empty: the desktop's"},
    {"HostTimeOffset", "MINUTES", "host's clock ahead of this PC's (compare)"},
    {"Retries", "NUMBER", "reopenings of a lost session, 0 to 10 (default 3)"},
}};

constexpr std::string_view kSynopsis =
    "Usage: zarvel [KEYWORD [VALUE]]...\n"
    "       zarvel --compare [KEYWORD [VALUE]]...\n"
    "       zarvel --sync up|down|both [--delete] [--dry-run] [KEYWORD [VALUE]]...\n"
    "       zarvel --help | --version\n"
    "\n"
    "Zarvel moves files between this PC and the Guardian personality of an HP NonStop\n"
    "host over FTP. Keywords override the saved connection for this run only; nothing\n"
    "given here is saved.\n"
    "\n"
    "Keywords (any letter case; unique prefixes do: hostn, pa, u, au, as, d, k, s):\n";

constexpr std::string_view kGrammar =
    "\n"
    "Runs of blanks and commas separate words; there is no quoting, so a value cannot\n"
    "hold a blank or a comma. A keyword that takes a value takes the next word,\n"
    "whatever it is. An unknown or ambiguous keyword, or a keyword missing its value,\n"
    "is shown in an error box and Zarvel ends with exit status 2. --help and\n"
    "--version count only as the first word.\n"
    "\n"
    "Example: zarvel hostname tandem1, userid dev.mgr, autoconnect\n"
    "\n"
    "--compare lists each file of the current folder and of the subvolume\n"
    "(InitialSubvol) by its state: only on the PC, only on the host, newer on\n"
    "either side, or same.\n"
    "--sync brings the host up to date (up), the PC (down), or each from the other\n"
    "(both: the newer file wins), printing each step first; --delete also removes\n"
    "files only on the target side, --dry-run prints the steps and does nothing.\n"
    "No window opens. Exit status: 0 all went well, 1 a file or the connection\n"
    "failed, 2 the command line was wrong.\n"
    "\n"
    "Without Password, the environment variable ZARVEL_PASSWORD gives the password\n"
    "if it is set (unlike the command line, it does not show in the process list;\n"
    "it is removed from the environment once read), else the one saved in the\n"
    "connect dialog is used, for the host, port and user it was saved with only.\n"
    "\n"
    "Settings file: ";

// The help row of a keyword of the table; an empty row when it has none.
KeywordHelp HelpFor(std::string_view keyword)
{
    for (const KeywordHelp &help : kKeywordHelp)
        if (help.keyword == keyword)
            return help;
    return {keyword, "", ""};
}

// "  HostName HOST" padded to one column, then the effect.
std::string KeywordLine(const KeywordHelp &help)
{
    std::string line = "  " + std::string(help.keyword);
    if (!help.value.empty())
        line += " " + std::string(help.value);
    constexpr size_t kEffectColumn = 25;
    line.resize(std::max(line.size() + 2, kEffectColumn), ' ');
    return line + std::string(help.effect) + "\n";
}

bool IsWord(std::string_view token, std::initializer_list<std::string_view> words)
{
    for (std::string_view word : words)
        if (token == word)
            return true;
    return false;
}

} // namespace

CommandLineRequest RequestOf(std::string_view commandLine)
{
    const std::vector<std::string> tokens = SplitCommandLine(commandLine);
    if (tokens.empty())
        return CommandLineRequest::Run;
    if (IsWord(tokens.front(), {"--help", "-h"}))
        return CommandLineRequest::Help;
    if (IsWord(tokens.front(), {"--version"}))
        return CommandLineRequest::Version;
    if (IsWord(tokens.front(), {"--compare", "--sync"}))
        return CommandLineRequest::Folder;
    return CommandLineRequest::Run;
}

std::string CommandLineUsage(std::string_view settingsPath)
{
    std::string text(kSynopsis);
    // The parser's own table gives the keywords, so none can be left out of the usage.
    for (std::string_view keyword : CommandLineKeywords())
        text += KeywordLine(HelpFor(keyword));
    text += kGrammar;
    text += settingsPath;
    text += "\n";
    return text;
}

std::string VersionText(std::string_view version)
{
    return "zarvel " + std::string(version) + "\n";
}
