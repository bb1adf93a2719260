#pragma once
#include "session/ConnectionSettings.h"
#include "session/SettingsStore.h"
#include <string>

// What the configure dialog's OK puts in force and into the settings store.

// The main window as the configure dialog changes it.
class TConfigurationTarget {
public:
    virtual ~TConfigurationTarget() = default;
    // Makes the text the PC file list's filter; the list follows it at once.
    virtual void ApplyFilterPC(const std::string &filter) = 0;
    // Parses the definition and puts it in force; false, changing nothing, when refused.
    virtual bool SetTandemFilter(const std::string &definition) = 0;
    // Lists the remote subvolume again with the filter in force.
    virtual void ListTandemFiles() = 0;
};

// The two filter texts: in force when the dialog opened, and as the dialog left them.
struct FilterTexts {
    std::string FilterPC;
    std::string FilterTandem;
};

// After OK: writes each general value that differs from `before` (LogLevel,
// SoundConfirmations, TouchFileBase, TouchDown, TouchUp, KeepAlive, ConfirmDelete,
// WhenFileExists, AsciiLineEnds, HostTimeOffset); a changed PC filter is applied at once and
// written; a changed Tandem filter definition goes through SetTandemFilter and, when accepted, is
// written and the remote list refreshed; a refused one is dropped without
// a word. Every change takes effect even when the store fails to keep it; a failed integer
// write is ignored. Returns the message of the first text that could not be written
// ("Failed to set data for '<name>'"), empty when all were.
std::string ApplyConfiguration(TSettingsStore *store, const GeneralSettings &before,
                               const GeneralSettings &after, const FilterTexts &inForce,
                               const FilterTexts &chosen, TConfigurationTarget &window);
