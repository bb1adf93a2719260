#include "session/Sites.h"

#include <algorithm>
#include <cctype>
#include <set>
#include <utility>

namespace {

constexpr std::string_view kSitesPrefix = "Site.";
// Every site has a host name: Save refuses none and writes it first.
constexpr std::string_view kMarkerValue = ".HostName";

// Capitals only: the escaping writes no other, so "%2a" is not a name it made.
int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// The inverse of the escaping in SitePrefix; false for a text that escaping cannot give.
bool UnescapeSiteName(std::string_view text, std::string &name)
{
    name.clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            name += text[i];
            continue;
        }
        if (i + 2 >= text.size())
            return false;
        const int high = HexDigit(text[i + 1]), low = HexDigit(text[i + 2]);
        if (high < 0 || low < 0)
            return false;
        name += char(high * 16 + low);
        i += 2;
    }
    return true;
}

// Collects what LoadConnectionSettings reads as the fields Save would write it from.
class TFieldsCollector : public TConnectionFields {
public:
    ConnectFields Fields;
    void SetHostName(const std::string &value) override { Fields.Host = value; }
    void SetUserID(const std::string &value) override { Fields.UserID = value; }
    void SetProxyName(const std::string &value) override
    {
        Fields.ProxyHost = value;
        Fields.UseProxy = !value.empty();
    }
    void SetInitialSubvol(const std::string &value) override { Fields.Subvol = value; }
    void SetHostPort(std::int32_t value) override { Fields.Port = std::to_string(value); }
    void SetAutoConnect(std::int32_t value) override { Fields.AutoConnect = value != 0; }
    void SetStoredPassword(const std::string &value) override
    {
        Fields.Password = value;
        Fields.SavePassword = !value.empty();
    }
    void SetPassive(bool value) override { Fields.Passive = value; }
    void SetEncryption(const std::string &value) override { Fields.Encryption = value; }
    void SetAcceptMissingCloseNotify(bool value) override { Fields.AcceptMissingCloseNotify = value; }
};

// Passes on only the values that are saved, and notes which fields they fill.
class TSavedValuesOnly : public TConnectionFields {
public:
    TSavedValuesOnly(TConnectionFields &target, const std::vector<std::string> &names)
        : target_(target), names_(names.begin(), names.end())
    {
    }
    void SetHostName(const std::string &value) override { Text(value, "Host", &TConnectionFields::SetHostName); }
    void SetUserID(const std::string &value) override { Text(value, "User ID", &TConnectionFields::SetUserID); }
    void SetProxyName(const std::string &value) override { Text(value, "Proxy Host", &TConnectionFields::SetProxyName); }
    void SetInitialSubvol(const std::string &value) override
    {
        Text(value, "Initial Subvolume", &TConnectionFields::SetInitialSubvol);
    }
    void SetHostPort(std::int32_t value) override { Saved("HostPort", "Port", [&] { target_.SetHostPort(value); }); }
    void SetAutoConnect(std::int32_t value) override
    {
        Saved("AutoConnect", "Auto Connect", [&] { target_.SetAutoConnect(value); });
    }
    void SetEncryption(const std::string &value) override
    {
        Saved("Encryption", "Encryption", [&] { target_.SetEncryption(value); });
    }
    void SetStoredPassword(const std::string &value) override
    {
        Text(value, "Password", &TConnectionFields::SetStoredPassword);
    }
    void SetPassive(bool value) override
    {
        Saved("DataConnection", "Passive mode", [&] { target_.SetPassive(value); });
    }
    void SetAcceptMissingCloseNotify(bool value) override
    {
        Saved("AcceptMissingCloseNotify", "Accept TLS data without close_notify",
              [&] { target_.SetAcceptMissingCloseNotify(value); });
    }

    std::vector<std::string> Loaded; // the labels of the fields filled, in the order read

private:
    void Text(const std::string &value, const char *label, void (TConnectionFields::*set)(const std::string &))
    {
        if (value.empty())
            return;
        (target_.*set)(value);
        Loaded.emplace_back(label);
    }
    template <typename Set>
    void Saved(const char *name, const char *label, Set set)
    {
        if (!names_.contains(name))
            return;
        set();
        Loaded.emplace_back(label);
    }

    TConnectionFields &target_;
    std::set<std::string> names_; // the values the store holds
};

} // namespace

std::string SitePrefix(const std::string &site)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string prefix(kSitesPrefix);
    for (const unsigned char c : site) {
        if (std::isalnum(c) != 0 && c < 0x80)
            prefix += char(c);
        else if (c == '-' || c == '_')
            prefix += char(c);
        else
            prefix += {'%', hex[c >> 4], hex[c & 15]};
    }
    return prefix + '.';
}

TSiteSettingsStore::TSiteSettingsStore(TSettingsStore *store, const std::string &site)
    : store_(store), prefix_(SitePrefix(site))
{
}

bool TSiteSettingsStore::OpenOrCreate(std::string &problem)
{
    return store_ && store_->OpenOrCreate(problem);
}

std::string TSiteSettingsStore::ReadString(const std::string &name)
{
    return store_ ? store_->ReadString(prefix_ + name) : std::string();
}

std::optional<std::int32_t> TSiteSettingsStore::ReadInteger(const std::string &name)
{
    return store_ ? store_->ReadInteger(prefix_ + name) : std::nullopt;
}

void TSiteSettingsStore::WriteString(const std::string &name, const std::string &value)
{
    // The message names the value as the user knows it.
    if (!store_)
        throw ESettingsStoreError("Failed to set data for '" + name + "'");
    try {
        store_->WriteString(prefix_ + name, value);
    } catch (const ESettingsStoreError &) {
        throw ESettingsStoreError("Failed to set data for '" + name + "'");
    }
}

bool TSiteSettingsStore::WriteInteger(const std::string &name, std::int32_t value)
{
    return store_ && store_->WriteInteger(prefix_ + name, value);
}

std::vector<std::string> TSiteSettingsStore::Names()
{
    std::vector<std::string> names;
    if (!store_)
        return names;
    for (const std::string &name : store_->Names())
        if (name.starts_with(prefix_))
            names.push_back(name.substr(prefix_.size()));
    return names;
}

bool TSiteSettingsStore::RemoveAll(const std::string &prefix)
{
    return store_ && store_->RemoveAll(prefix_ + prefix);
}

std::vector<std::string> SiteNames(TSettingsStore *store)
{
    std::vector<std::string> sites;
    if (!store)
        return sites;
    for (const std::string &name : store->Names()) {
        if (!name.starts_with(kSitesPrefix) || name.size() <= kSitesPrefix.size() + kMarkerValue.size()
            || name.compare(name.size() - kMarkerValue.size(), kMarkerValue.size(), kMarkerValue) != 0)
            continue;
        const std::string_view escaped =
            std::string_view(name).substr(kSitesPrefix.size(), name.size() - kSitesPrefix.size() - kMarkerValue.size());
        std::string site;
        // Only what SitePrefix writes: a hand-made name with a '.' in it belongs to no site.
        if (UnescapeSiteName(escaped, site) && SitePrefix(site) == name.substr(0, name.size() - kMarkerValue.size() + 1))
            sites.push_back(site);
    }
    return sites;
}

bool SiteExists(TSettingsStore *store, const std::string &site)
{
    const std::vector<std::string> sites = SiteNames(store);
    return std::find(sites.begin(), sites.end(), site) != sites.end();
}

void SaveSite(TSettingsStore *store, const std::string &site, const ConnectFields &fields)
{
    TSiteSettingsStore siteStore(store, site);
    SaveConnectionSettings(&siteStore, fields);
}

bool LoadSite(TSettingsStore *store, const std::string &site, TConnectionFields &target)
{
    if (!SiteExists(store, site))
        return false;
    TSiteSettingsStore siteStore(store, site);
    LoadConnectionSettings(&siteStore, target);
    return true;
}

bool LoadSiteSettings(TSettingsStore *store, const std::string &site, ConnectionSettings &settings)
{
    // Nothing of the connection loaded before (a password above all) may leak into the site.
    ConnectionSettings fresh;
    THeldConnectionFields held(fresh);
    if (!LoadSite(store, site, held))
        return false;
    fresh.Site = site;
    settings = std::move(fresh);
    return true;
}

bool DeleteSite(TSettingsStore *store, const std::string &site)
{
    if (!store || !store->RemoveAll(SitePrefix(site)))
        return false;
    // Cleared, not removed: every site's values start with the same letters.
    if (store->ReadString(kChosenSiteValue) == site)
        store->WriteString(kChosenSiteValue, std::string());
    return true;
}

std::string MigrateToSites(TSettingsStore *store)
{
    if (!store || !SiteNames(store).empty())
        return {};
    TFieldsCollector current;
    LoadConnectionSettings(store, current);
    if (current.Fields.Host.empty())
        return {};
    SaveSite(store, current.Fields.Host, current.Fields);
    store->WriteString(kChosenSiteValue, current.Fields.Host);
    return current.Fields.Host;
}

std::vector<std::string> ReloadSavedFields(TSettingsStore *store, const std::string &site, TConnectionFields &target)
{
    if (!store)
        return {};
    TSiteSettingsStore siteStore(store, site);
    TSettingsStore *saved = !site.empty() && SiteExists(store, site) ? static_cast<TSettingsStore *>(&siteStore) : store;
    TSavedValuesOnly only(target, saved->Names());
    LoadConnectionSettings(saved, only);
    return only.Loaded;
}

std::string ReloadedText(const std::string &site, const std::vector<std::string> &loaded)
{
    const std::string from = site.empty() ? "the saved connection" : "the site " + site;
    if (loaded.empty())
        return "Nothing is saved in " + from + "; the fields stay as they were.";
    std::string list;
    for (std::size_t i = 0; i < loaded.size(); ++i)
        list += (i == 0 ? "" : i + 1 == loaded.size() ? " and " : ", ") + loaded[i];
    return "Reloaded " + list + " from " + from + "; any other field stays as it was.";
}
