#pragma once
// Saved sites: named connections kept beside the current one in the same settings store.
// A site is the same set of values the connect dialog saves, each under the name
// "Site.<site>.<value>" (the site's name escaped), so every value Save writes joins a site
// with no list of its own to keep. The stored text "Site" names the site chosen last, which
// start-up loads.
#include "session/ConnectFields.h"
#include "session/SettingsStore.h"
#include "session/StartupSettings.h"

#include <string>
#include <vector>

// The value naming the site chosen last.
inline constexpr const char *kChosenSiteValue = "Site";

// "Site." + the name with every byte other than a letter, a digit, '-' and '_' written %HH,
// + ".": a prefix the settings file can hold and no other site's prefix starts with.
std::string SitePrefix(const std::string &site);

// The store seen through one site's prefix: what is read and written goes to that site.
class TSiteSettingsStore : public TSettingsStore {
public:
    TSiteSettingsStore(TSettingsStore *store, const std::string &site);

    bool OpenOrCreate(std::string &problem) override;
    std::string ReadString(const std::string &name) override;
    std::optional<std::int32_t> ReadInteger(const std::string &name) override;
    void WriteString(const std::string &name, const std::string &value) override;
    bool WriteInteger(const std::string &name, std::int32_t value) override;
    std::vector<std::string> Names() override;
    bool RemoveAll(const std::string &prefix) override;
    void Close() override {}

private:
    TSettingsStore *store_;   // the whole store; null when the program runs without one
    std::string prefix_;      // the site's prefix
};

// The saved sites' names, in the store's name order.
std::vector<std::string> SiteNames(TSettingsStore *store);
bool SiteExists(TSettingsStore *store, const std::string &site);
// Save, into the site: the fields as SaveConnectionSettings writes them, with its errors.
void SaveSite(TSettingsStore *store, const std::string &site, const ConnectFields &fields);
// Fills the target from the site as LoadConnectionSettings does; false, touching nothing,
// when there is no such site.
bool LoadSite(TSettingsStore *store, const std::string &site, TConnectionFields &target);
// The held settings replaced by the site's; false, touching nothing, when there is none.
bool LoadSiteSettings(TSettingsStore *store, const std::string &site, ConnectionSettings &settings);
// Reload: fills the target from the site (the current connection when `site` is empty or
// unknown) as LoadConnectionSettings does, but only with values that are saved: an empty or
// missing text, or a missing number, leaves the field as it is. Returns the fields' labels
// that were loaded ("Host", "Port", ...), in the dialog's order.
std::vector<std::string> ReloadSavedFields(TSettingsStore *store, const std::string &site, TConnectionFields &target);
// What Reload says it did, from what ReloadSavedFields returned.
std::string ReloadedText(const std::string &site, const std::vector<std::string> &loaded);

// Removes every value of the site and, when it was the site chosen last, that choice.
bool DeleteSite(TSettingsStore *store, const std::string &site);

// A settings file from before sites: when no site is saved yet and a host name is stored,
// the current connection becomes the first site, named after its host, and the chosen one.
// Returns the new site's name, empty when nothing was done.
std::string MigrateToSites(TSettingsStore *store);
