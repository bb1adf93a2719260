#include "session/ConnectFields.h"

#include <charconv>

std::int32_t StrToInt(std::string_view text)
{
    std::string_view digits = text;
    while (!digits.empty() && digits.front() == ' ')
        digits.remove_prefix(1);
    // from_chars takes a minus but no plus.
    if (digits.size() > 1 && digits.front() == '+' && digits[1] != '-')
        digits.remove_prefix(1);
    std::int32_t value = 0;
    const char *end = digits.data() + digits.size();
    const auto [ptr, ec] = std::from_chars(digits.data(), end, value);
    if (digits.empty() || ec != std::errc() || ptr != end)
        throw EConvertError("'" + std::string(text) + "' is not a valid integer value");
    return value;
}

std::string CheckPort(std::string_view text, std::int32_t lowest, std::int32_t highest)
{
    if (text.empty())
        return "Missing port number";
    try {
        const std::int32_t port = StrToInt(text);
        if (port < lowest || port > highest)
            return "Port number invalid";
    } catch (const EConvertError &e) {
        return e.what();
    }
    return {};
}

std::string TakeConnectFields(const ConnectFields &fields, ConnectionSettings &settings)
{
    if (fields.Host.empty() || fields.UserID.empty())
        return kRequiredFieldsMessage;
    settings.HostName = fields.Host;
    settings.HostPort = StrToInt(fields.Port);
    settings.UserID = fields.UserID;
    settings.Password = fields.Password;
    settings.InitialSubvol = fields.Subvol;
    settings.AutoConnect = fields.AutoConnect ? 1 : 0;
    settings.ProxyName = fields.UseProxy ? fields.ProxyHost : std::string();
    settings.Passive = fields.Passive;
    settings.Encryption = fields.Encryption;
    settings.AcceptMissingCloseNotify = fields.AcceptMissingCloseNotify;
    settings.Site = fields.Site;
    return {};
}

void SaveConnectionSettings(TSettingsStore *store, const ConnectFields &fields)
{
    StoreText(store, "HostName", fields.Host);
    StoreText(store, "UserID", fields.UserID);
    StoreText(store, "ProxyName", fields.ProxyHost);
    StoreText(store, "InitialSubvol", fields.Subvol);
    // A failed integer write is skipped, unlike a text one.
    StoreInteger(store, "HostPort", StrToInt(fields.Port));
    StoreInteger(store, "AutoConnect", fields.AutoConnect ? 1 : 0);
    StoreText(store, "DataConnection", fields.Passive ? kDataConnectionPassive : kDataConnectionActive);
    StoreText(store, "Encryption", fields.Encryption);
    StoreInteger(store, "AcceptMissingCloseNotify", fields.AcceptMissingCloseNotify ? 1 : 0);
}
