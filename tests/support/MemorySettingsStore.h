#pragma once
#include "session/SettingsStore.h"

#include <set>
#include <string>
#include <vector>

// A settings store in memory that records every write in order ("HostName=tandem1",
// "HostPort=21"), and can be told to fail the writes of chosen value names.
class TMemorySettingsStore : public TSettingsStore {
public:
    SettingsValues values;             // what is stored
    std::vector<std::string> writes;   // every write that succeeded, in order
    std::set<std::string> failing;     // names whose writes fail

    bool OpenOrCreate(std::string &) override { return true; }
    std::string ReadString(const std::string &name) override
    {
        const auto it = values.find(name);
        if (it == values.end())
            return {};
        if (const auto *text = std::get_if<std::string>(&it->second))
            return *text;
        throw ESettingsStoreError("Invalid data type for '" + name + "'");
    }
    std::optional<std::int32_t> ReadInteger(const std::string &name) override
    {
        const auto it = values.find(name);
        if (it == values.end() || !std::holds_alternative<std::int32_t>(it->second))
            return std::nullopt;
        return std::get<std::int32_t>(it->second);
    }
    void WriteString(const std::string &name, const std::string &value) override
    {
        if (failing.count(name))
            throw ESettingsStoreError("Failed to set data for '" + name + "'");
        values[name] = value;
        writes.push_back(name + "=" + value);
    }
    bool WriteInteger(const std::string &name, std::int32_t value) override
    {
        if (failing.count(name))
            return false;
        values[name] = value;
        writes.push_back(name + "=" + std::to_string(value));
        return true;
    }
    std::vector<std::string> Names() override
    {
        std::vector<std::string> names;
        for (const auto &[name, value] : values)
            names.push_back(name);
        return names;
    }
    bool RemoveAll(const std::string &prefix) override
    {
        std::erase_if(values, [&](const auto &entry) { return entry.first.compare(0, prefix.size(), prefix) == 0; });
        writes.push_back("remove " + prefix);
        return true;
    }
    void Close() override {}
};
