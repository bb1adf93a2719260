// Saved sites in the settings store: names survive any bytes, a site holds every value Save
// writes, and deleting one leaves the others and the current connection alone.
#include "session/Sites.h"
#include "support/MemorySettingsStore.h"

#include <gtest/gtest.h>

namespace {

ConnectFields Fields(const std::string &host, const std::string &user, bool passive)
{
    ConnectFields f;
    f.Host = host;
    f.Port = "2121";
    f.UserID = user;
    f.Password = "pw-" + host;
    f.SavePassword = true;
    f.Passive = passive;
    return f;
}

TEST(Sites, namesOfAnyBytesRoundTripAndNeverShareAPrefix)
{
    TMemorySettingsStore store;
    const std::vector<std::string> names = {"dev", "Test node 2", "a.b", "x=y", "p%41", "\xC3\xA9t\xE9", "prod"};
    for (const std::string &name : names)
        SaveSite(&store, name, Fields("h-" + name, "u", false));
    for (const auto &[name, value] : store.values)
        EXPECT_TRUE(IsValidSettingsName(name)) << name;
    std::vector<std::string> listed = SiteNames(&store);
    std::vector<std::string> expected = names;
    std::sort(listed.begin(), listed.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(listed, expected);
    EXPECT_EQ(SitePrefix("a.b"), "Site.a%2Eb.");
    EXPECT_EQ(SitePrefix("p%41"), "Site.p%2541.") << "an escape character is escaped itself";

    // Hand-made names that escaping cannot give belong to no site.
    store.values["Site.a.b.HostName"] = std::string("x");
    store.values["Site.%zz.HostName"] = std::string("x");
    store.values["Site..HostName"] = std::string("x");
    EXPECT_EQ(SiteNames(&store).size(), names.size());
}

TEST(Sites, siteHoldsEverySavedValueAndLoadsWithoutTheCurrentConnectionsLeftovers)
{
    TMemorySettingsStore store;
    SaveConnectionSettings(&store, Fields("current", "cu", false));
    ConnectFields prod = Fields("prodhost", "pu", true);
    prod.SavePassword = false; // no password saved for production
    SaveSite(&store, "prod", prod);

    ConnectionSettings held;
    held.Password = "typed earlier";
    ASSERT_TRUE(LoadSiteSettings(&store, "prod", held));
    EXPECT_EQ(held.HostName, "prodhost");
    EXPECT_EQ(held.UserID, "pu");
    EXPECT_EQ(held.HostPort, 2121);
    EXPECT_TRUE(held.Passive);
    EXPECT_EQ(held.Password, "") << "another connection's password must not travel to this site";
    EXPECT_FALSE(LoadSiteSettings(&store, "Prod", held)) << "names are exact";
    EXPECT_EQ(held.HostName, "prodhost");
}

TEST(Sites, deleteRemovesOnlyThatSiteAndClearsItsChoice)
{
    TMemorySettingsStore store;
    SaveSite(&store, "dev", Fields("devhost", "u", false));
    SaveSite(&store, "dev2", Fields("dev2host", "u", false));
    store.WriteString(kChosenSiteValue, "dev");
    ASSERT_TRUE(DeleteSite(&store, "dev"));
    EXPECT_EQ(SiteNames(&store), std::vector<std::string>{"dev2"});
    EXPECT_EQ(store.ReadString(kChosenSiteValue), "");
    EXPECT_EQ(store.ReadString(SitePrefix("dev2") + "HostName"), "dev2host");
    EXPECT_FALSE(DeleteSite(nullptr, "dev2"));
}

TEST(Sites, settingsFromBeforeSitesBecomeTheFirstSiteOnce)
{
    TMemorySettingsStore store;
    EXPECT_EQ(MigrateToSites(&store), "") << "nothing stored: nothing to keep";
    ConnectFields old = Fields("tandem1", "dev.mgr", false);
    old.Subvol = "$DATA1.SRC";
    SaveConnectionSettings(&store, old);
    EXPECT_EQ(MigrateToSites(&store), "tandem1");
    EXPECT_EQ(store.ReadString(kChosenSiteValue), "tandem1");
    ConnectionSettings site;
    ASSERT_TRUE(LoadSiteSettings(&store, "tandem1", site));
    EXPECT_EQ(site.InitialSubvol, "$DATA1.SRC");
    EXPECT_EQ(site.Password, "") << "a site keeps no password: the keyring holds it by login";
    EXPECT_EQ(MigrateToSites(&store), "") << "once there are sites, nothing more";
}

} // namespace
