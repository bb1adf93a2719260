#pragma once
#include <QString>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

// The per-user settings store: named values that are either text or a 32-bit integer and
// keep that type. Texts are bytes and may hold any byte, zero included.

// A store failure the user must see: a text value of the wrong type on reading, or a text
// value that could not be written.
class ESettingsStoreError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class TSettingsStore {
public:
    virtual ~TSettingsStore() = default;
    // Opens the store; a missing one reads as empty and is created by the first write. On
    // failure returns false and sets `problem` to a message for the user; the store then
    // holds nothing.
    virtual bool OpenOrCreate(std::string &problem) = 0;
    // The text stored under `name`; empty when absent. Throws ESettingsStoreError
    // "Invalid data type for '<name>'" when the value is an integer.
    virtual std::string ReadString(const std::string &name) = 0;
    // The integer stored under `name`; nothing when absent or stored as text.
    virtual std::optional<std::int32_t> ReadInteger(const std::string &name) = 0;
    // Stores a text value. Throws ESettingsStoreError "Failed to set data for '<name>'".
    virtual void WriteString(const std::string &name, const std::string &value) = 0;
    // Stores an integer value; false when it could not be stored.
    virtual bool WriteInteger(const std::string &name, std::int32_t value) = 0;
    // Every stored name, in name order.
    virtual std::vector<std::string> Names() = 0;
    // Removes every value whose name starts with `prefix`; false when the store is unchanged.
    virtual bool RemoveAll(const std::string &prefix) = 0;
    // Closes the store; later reads give nothing and writes fail.
    virtual void Close() = 0;
};

// Writes through a store that may be missing (the program then runs without one): a text
// write fails as a failed write does, throwing "Failed to set data for '<name>'"; an integer
// write returns false.
void StoreText(TSettingsStore *store, const std::string &name, const std::string &value);
bool StoreInteger(TSettingsStore *store, const std::string &name, std::int32_t value);

using SettingsValue = std::variant<std::string, std::int32_t>;
using SettingsValues = std::map<std::string, SettingsValue>;

// Result of reading a settings file's bytes.
struct SettingsParse {
    bool ok = false;          // the whole file was understood
    int line = 0;             // 1-based line of the first problem when not ok
    std::string what;         // the problem when not ok
    SettingsValues values;    // the values when ok
};

// The file's text form: comment lines starting with '#', blank lines, and one value a line,
// "text <Name>=<bytes>" or "int <Name>=<decimal>". In texts a backslash starts "\\" or
// "\xHH"; the writer escapes every byte outside printable ASCII so the file stays one value
// a line and survives editors, while the reader also takes raw bytes typed by hand.
SettingsParse ParseSettingsText(std::string_view bytes);
std::string FormatSettingsText(const SettingsValues &values);
// A value name the file form can hold: printable ASCII without blanks or '='.
bool IsValidSettingsName(std::string_view name);

// The store kept in one file. Every write re-reads the file, so values written by another
// running copy of the program survive, then replaces the file atomically with mode 0600.
// A file that cannot be read or understood is never overwritten.
class TFileSettingsStore : public TSettingsStore {
public:
    explicit TFileSettingsStore(QString path);
    // $XDG_CONFIG_HOME/Ondrik/Zarvel.conf (~/.config/... when XDG_CONFIG_HOME is unset).
    static QString DefaultPath();

    bool OpenOrCreate(std::string &problem) override;
    std::string ReadString(const std::string &name) override;
    std::optional<std::int32_t> ReadInteger(const std::string &name) override;
    void WriteString(const std::string &name, const std::string &value) override;
    bool WriteInteger(const std::string &name, std::int32_t value) override;
    std::vector<std::string> Names() override;
    bool RemoveAll(const std::string &prefix) override;
    void Close() override;

    const QString &Path() const { return path_; }

private:
    // Reads and parses the file; a missing file gives no values. False with a message when
    // the file exists but cannot be read or understood.
    bool ReadFile(SettingsValues &values, std::string &problem) const;
    // Writes one value through a fresh read of the file; false when nothing was changed.
    bool Store(const std::string &name, SettingsValue value);
    // Applies the change to a fresh read of the file and writes it; false when nothing changed.
    bool Change(const std::function<void(SettingsValues &)> &change);

    QString path_;            // the settings file
    bool open_ = false;       // OpenOrCreate succeeded and Close has not run
    SettingsValues values_;   // the values as last read or written
};
