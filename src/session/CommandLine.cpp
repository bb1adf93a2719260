#include "session/CommandLine.h"
#include "session/AsciiLineEnds.h"
#include "session/DecimalReading.h"
#include "session/Encryption.h"
#include "session/KeywordLookup.h"

#include <algorithm>
#include <array>

namespace {

// In lookup order; the position (from 1) is what LookupKeyword returns.
enum Keyword { kHostName = 1, kUserID, kPassword, kProxyName, kInitialSubvol, kHostPort,
               kAutoConnect, kTouchDown, kTouchUp, kDataConnection, kKeepAlive, kSite, kEncryption,
               kConfirmDelete, kWhenFileExists, kAsciiLineEnds, kConnections, kEditor, kHostTimeOffset, kRetries };
constexpr std::array<std::string_view, 21> kKeywords = {
    "HostName", "UserID", "Password", "ProxyName", "InitialSubvol", "HostPort",
    "AutoConnect", "TouchDown", "TouchUp", "DataConnection", "KeepAlive", "Site", "Encryption",
    "ConfirmDelete", "WhenFileExists", "AsciiLineEnds", "Connections", "Editor", "HostTimeOffset", "Retries", ""};

bool TakesValue(int keyword)
{
    return (keyword >= kHostName && keyword <= kHostPort) || keyword >= kDataConnection;
}

// "Active" or "Passive", any letter case, or a unique prefix of one; 0 when neither.
int DataConnectionValue(std::string_view text)
{
    constexpr std::array<std::string_view, 2> values = {kDataConnectionActive, kDataConnectionPassive};
    return LookupKeyword(text, values, true);
}

// "On" or "Off", any letter case; 0 when neither.
int OnOffValue(std::string_view text)
{
    constexpr std::array<std::string_view, 2> values = {"On", "Off"};
    return LookupKeyword(text, values, false);
}

} // namespace

std::span<const std::string_view> CommandLineKeywords()
{
    return std::span(kKeywords).first(kKeywords.size() - 1); // without the list's end mark
}

std::vector<std::string> SplitCommandLine(std::string_view commandLine)
{
    std::vector<std::string> tokens;
    size_t pos = commandLine.find_first_not_of(" ,");
    while (pos != std::string_view::npos) {
        std::string token;
        if (commandLine[pos] == '"') {
            for (++pos; pos < commandLine.size(); ++pos) {
                if (commandLine[pos] != '"') {
                    token += commandLine[pos];
                } else if (pos + 1 < commandLine.size() && commandLine[pos + 1] == '"') {
                    token += '"';
                    ++pos;
                } else {
                    ++pos; // the closing quote ends the token
                    break;
                }
            }
        } else {
            const size_t end = std::min(commandLine.find_first_of(" ,", pos), commandLine.size());
            token = commandLine.substr(pos, end - pos);
            pos = end;
        }
        tokens.push_back(std::move(token));
        pos = commandLine.find_first_not_of(" ,", std::min(pos, commandLine.size()));
    }
    return tokens;
}

std::string JoinArguments(const std::vector<std::string> &arguments)
{
    std::string text;
    for (const std::string &argument : arguments) {
        if (!text.empty())
            text += ' ';
        if (!argument.empty() && argument.find(' ') == std::string::npos && argument.front() != '"') {
            text += argument;
            continue;
        }
        text += '"';
        for (const char c : argument)
            text += c == '"' ? std::string("\"\"") : std::string(1, c);
        text += '"';
    }
    return text;
}

std::int32_t CommandLinePort(std::string_view text)
{
    return SaturateToInt32(ReadDecimal(text).value);
}

std::string ApplyCommandLine(std::string_view commandLine, ConnectionSettings &connection,
                             GeneralSettings &general, const SiteLoader &loadSite)
{
    const std::vector<std::string> tokens = SplitCommandLine(commandLine);
    for (size_t i = 0; i < tokens.size(); ++i) {
        const int keyword = LookupKeyword(tokens[i], kKeywords, true);
        if (keyword <= 0)
            return "Invalid parameter: " + tokens[i];
        if (TakesValue(keyword) && i + 1 == tokens.size())
            return "Invalid value for " + std::string(kKeywords[size_t(keyword - 1)]);
        const std::string *value = TakesValue(keyword) ? &tokens[++i] : nullptr;
        switch (keyword) {
        case kHostName: connection.HostName = *value; break;
        case kUserID: connection.UserID = *value; break;
        case kPassword: connection.Password = *value; break;
        case kProxyName: connection.ProxyName = *value; break;
        case kInitialSubvol: connection.InitialSubvol = *value; break;
        case kHostPort: connection.HostPort = CommandLinePort(*value); break;
        case kAutoConnect: connection.AutoConnect = 1; break;
        case kTouchDown: general.TouchDown = true; break;
        case kTouchUp: general.TouchUp = true; break;
        case kDataConnection: {
            const int mode = DataConnectionValue(*value);
            if (mode <= 0)
                return "Invalid value for DataConnection";
            connection.Passive = mode == 2;
            break;
        }
        case kKeepAlive:
            general.KeepAlive = std::clamp<std::int64_t>(ReadDecimal(*value).value, 0, kMaxKeepAlive);
            break;
        case kConnections:
            general.Connections = std::clamp<std::int64_t>(ReadDecimal(*value).value, 1, kMaxConnections);
            break;
        case kRetries:
            general.Retries = std::clamp<std::int64_t>(ReadDecimal(*value).value, 0, kMaxRetries);
            break;
        case kSite:
            if (!loadSite || !loadSite(*value, connection))
                return "Unknown site: " + *value;
            break;
        case kEncryption:
            if (!ParseEncryption(*value))
                return "Invalid value for Encryption";
            connection.Encryption = EncryptionName(*ParseEncryption(*value));
            break;
        case kConfirmDelete:
            if (OnOffValue(*value) <= 0)
                return "Invalid value for ConfirmDelete";
            general.ConfirmDelete = OnOffValue(*value) == 1;
            break;
        case kWhenFileExists:
            if (!ParseFileExistsRule(*value))
                return "Invalid value for WhenFileExists";
            general.WhenFileExists = *ParseFileExistsRule(*value);
            break;
        case kAsciiLineEnds:
            if (!ParseLineEnds(*value))
                return "Invalid value for AsciiLineEnds";
            general.AsciiLineEnds = *ParseLineEnds(*value);
            break;
        case kEditor: general.Editor = *value; break;
        case kHostTimeOffset:
            general.HostTimeOffset =
                std::clamp<std::int64_t>(ReadDecimal(*value).value, -kMaxHostTimeOffset, kMaxHostTimeOffset);
            break;
        }
    }
    return {};
}

bool CommandLineGivesPassword(std::string_view commandLine)
{
    const std::vector<std::string> tokens = SplitCommandLine(commandLine);
    for (size_t i = 0; i < tokens.size(); ++i) {
        const int keyword = LookupKeyword(tokens[i], kKeywords, true);
        if (keyword == kPassword)
            return true;
        if (TakesValue(keyword))
            ++i; // a value is never a keyword
    }
    return false;
}
