#include "session/Configuration.h"
#include "session/AsciiLineEnds.h"

namespace {

// Collects the first failed text write while the rest of OK goes on: the values are in
// force for this run whether or not the store keeps them.
class TConfigurationWriter {
public:
    explicit TConfigurationWriter(TSettingsStore *store) : store_(store) {}

    void Text(const std::string &name, const std::string &value)
    {
        try {
            StoreText(store_, name, value);
        } catch (const ESettingsStoreError &e) {
            if (problem_.empty())
                problem_ = e.what();
        }
    }
    // A failed integer write is ignored.
    void Number(const std::string &name, std::int32_t value) { StoreInteger(store_, name, value); }
    void Flag(const std::string &name, bool on) { Number(name, on ? 1 : 0); }

    const std::string &Problem() const { return problem_; }

private:
    TSettingsStore *store_; // null when the program runs without a store
    std::string problem_;   // the first failed text write
};

} // namespace

std::string ApplyConfiguration(TSettingsStore *store, const GeneralSettings &before,
                               const GeneralSettings &after, const FilterTexts &inForce,
                               const FilterTexts &chosen, TConfigurationTarget &window)
{
    TConfigurationWriter write(store);
    if (after.LogLevel != before.LogLevel)
        write.Number("LogLevel", after.LogLevel);
    if (after.SoundConfirmations != before.SoundConfirmations)
        write.Flag("SoundConfirmations", after.SoundConfirmations);
    if (after.TouchFileBase != before.TouchFileBase)
        write.Text("TouchFileBase", after.TouchFileBase);
    if (after.TouchDown != before.TouchDown)
        write.Flag("TouchDown", after.TouchDown);
    if (after.TouchUp != before.TouchUp)
        write.Flag("TouchUp", after.TouchUp);
    if (after.KeepAlive != before.KeepAlive)
        write.Number("KeepAlive", after.KeepAlive);
    if (after.ConfirmDelete != before.ConfirmDelete)
        write.Flag("ConfirmDelete", after.ConfirmDelete);
    if (after.WhenFileExists != before.WhenFileExists)
        write.Text("WhenFileExists", FileExistsRuleName(after.WhenFileExists));
    if (after.AsciiLineEnds != before.AsciiLineEnds)
        write.Text("AsciiLineEnds", LineEndsName(after.AsciiLineEnds));
    if (after.Connections != before.Connections)
        write.Number("Connections", after.Connections);
    if (after.Editor != before.Editor)
        write.Text("Editor", after.Editor);
    if (after.HostTimeOffset != before.HostTimeOffset)
        write.Number("HostTimeOffset", after.HostTimeOffset);
    if (after.Retries != before.Retries)
        write.Number("Retries", after.Retries);

    if (chosen.FilterPC != inForce.FilterPC) {
        window.ApplyFilterPC(chosen.FilterPC);
        write.Text("FilterPC", chosen.FilterPC);
    }
    if (chosen.FilterTandem != inForce.FilterTandem && window.SetTandemFilter(chosen.FilterTandem)) {
        write.Text("FilterTandem", chosen.FilterTandem);
        window.ListTandemFiles();
    }
    return write.Problem();
}
