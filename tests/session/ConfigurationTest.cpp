#include "session/Configuration.h"
#include "session/TandemFilter.h"
#include "support/MemorySettingsStore.h"

#include <gtest/gtest.h>

namespace {

using Calls = std::vector<std::string>;

// The main window's side of the exchange, over the real Tandem filter list.
class RecordingWindow : public TConfigurationTarget {
public:
    TandemFilterList filters;
    Calls calls;

    void ApplyFilterPC(const std::string &filter) override { calls.push_back("PC filter " + filter); }
    bool SetTandemFilter(const std::string &definition) override
    {
        const bool accepted = filters.SetTandemFilter(definition);
        calls.push_back(std::string(accepted ? "accepted " : "refused ") + definition);
        return accepted;
    }
    void ListTandemFiles() override { calls.push_back("list"); }
};

class Configure : public testing::Test {
protected:
    TMemorySettingsStore store;
    RecordingWindow window;
    GeneralSettings before{.LogLevel = 2, .SoundConfirmations = true, .TouchFileBase = "mark",
                           .TouchUp = false, .TouchDown = true};
    FilterTexts inForce{kDefaultFilterPC, kDefaultFilterTandem};

    void SetUp() override { ASSERT_TRUE(window.filters.SetTandemFilter(kDefaultFilterTandem)); }

    std::string Apply(const GeneralSettings &after, const FilterTexts &chosen)
    {
        return ApplyConfiguration(&store, before, after, inForce, chosen, window);
    }
};

TEST_F(Configure, okWithoutChangesWritesNothingAndListsNothing)
{
    EXPECT_EQ(Apply(before, inForce), "");
    EXPECT_TRUE(store.writes.empty());
    EXPECT_TRUE(window.calls.empty());
}

TEST_F(Configure, onlyChangedValuesAreWrittenInTableOrder)
{
    GeneralSettings after = before;
    after.TouchUp = true;
    after.SoundConfirmations = false;
    after.LogLevel = 3;
    EXPECT_EQ(Apply(after, inForce), "");
    EXPECT_EQ(store.writes, (Calls{"LogLevel=3", "SoundConfirmations=0", "TouchUp=1"}));
    EXPECT_TRUE(window.calls.empty());
}

TEST_F(Configure, resetValuesAreWrittenWhereTheyDifferAndNewTandemFilterIsListed)
{
    before.TouchUp = true;
    inForce = {"Text (*.txt)|*.txt", "Edit files|101"};
    const GeneralSettings reset{.LogLevel = 0, .SoundConfirmations = false,
                                .TouchFileBase = kDefaultTouchFileBase, .TouchUp = false,
                                .TouchDown = false};
    EXPECT_EQ(Apply(reset, {kDefaultFilterPC, kDefaultFilterTandem}), "");
    EXPECT_EQ(store.writes, (Calls{"LogLevel=0", "SoundConfirmations=0",
                                   std::string("TouchFileBase=") + kDefaultTouchFileBase,
                                   "TouchDown=0", "TouchUp=0",
                                   std::string("FilterPC=") + kDefaultFilterPC,
                                   std::string("FilterTandem=") + kDefaultFilterTandem}));
    EXPECT_EQ(window.calls, (Calls{std::string("PC filter ") + kDefaultFilterPC,
                                   std::string("accepted ") + kDefaultFilterTandem, "list"}));
}

TEST_F(Configure, refusedTandemFilterIsDroppedSilentlyKeepingTheOldList)
{
    EXPECT_EQ(Apply(before, {kDefaultFilterPC, "All||Edit|101"}), "");
    EXPECT_TRUE(store.writes.empty());
    EXPECT_EQ(window.calls, (Calls{"refused All||Edit|101"}));
    EXPECT_EQ(window.filters.Definition(), kDefaultFilterTandem);
    EXPECT_EQ(window.filters.Entries().size(), 3u);
}

TEST_F(Configure, emptyBaseNameIsStoredAsTyped)
{
    GeneralSettings after = before;
    after.TouchFileBase = "";
    Apply(after, inForce);
    EXPECT_EQ(store.writes, (Calls{"TouchFileBase="}));
}

TEST_F(Configure, failedTextWriteIsReportedButEveryChangeStillTakesEffect)
{
    store.failing = {"TouchFileBase", "FilterPC", "LogLevel"};
    GeneralSettings after = before;
    after.LogLevel = 0;
    after.TouchFileBase = "x";
    after.TouchUp = true;
    EXPECT_EQ(Apply(after, {"Text (*.txt)|*.txt", "Edit files|101"}),
              "Failed to set data for 'TouchFileBase'");
    EXPECT_EQ(store.writes, (Calls{"TouchUp=1", "FilterTandem=Edit files|101"}));
    EXPECT_EQ(window.calls, (Calls{"PC filter Text (*.txt)|*.txt", "accepted Edit files|101", "list"}))
        << "a store that cannot keep a filter must not keep it from the lists";
}

TEST_F(Configure, withoutAStoreChangesTakeEffectAndTheFirstTextIsReported)
{
    GeneralSettings after = before;
    after.LogLevel = 3;
    EXPECT_EQ(ApplyConfiguration(nullptr, before, after, inForce, {"T|*.t", kDefaultFilterTandem}, window),
              "Failed to set data for 'FilterPC'");
    EXPECT_EQ(window.calls, (Calls{"PC filter T|*.t"}));
}

} // namespace
