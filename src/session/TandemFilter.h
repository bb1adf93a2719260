#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// One entry of the remote list's file-code filter: the label the filter box shows and the
// codes it lets through (decimal codes separated by single non-digits, such as "100;700";
// empty lets every line through).
struct TandemFilter {
    std::string Label;
    std::string Codes;
    bool operator==(const TandemFilter &) const = default;
};

// Parses a filter definition "label|codes|label|codes...". Refuses (returns false and leaves
// entries alone) an empty definition and one without a blank. An empty label ends the parse,
// so "All files|||Edit files|101" yields one entry. On acceptance entries holds the entries
// in definition order.
bool ParseTandemFilterDefinition(std::string_view definition, std::vector<TandemFilter> &entries);

// Walks codes the way the listing filter always has: read a number as strtol does (no digits
// reads 0 and consumes nothing), stop on a match, otherwise step over one character. Hence
// "101,,700" also matches 0 and a text of separators only matches just 0. Empty codes match
// every file code.
bool FileCodeMatches(std::string_view codes, std::int32_t fileCode);

// The filter list in force, rebuilt whole by each accepted definition.
class TandemFilterList {
public:
    // Accepts or refuses a definition; a refused one leaves the list and the definition as they were.
    bool SetTandemFilter(const std::string &definition);

    // The entries in definition order.
    const std::vector<TandemFilter> &Entries() const { return entries_; }

    // The definition currently in force; empty before the first accepted one.
    const std::string &Definition() const { return definition_; }

    // Entry indices in the order a sorted filter box lists their labels (case-insensitive,
    // ties kept in definition order); the box shows index DisplayOrder()[0] selected.
    std::vector<std::size_t> DisplayOrder() const;

    // Whether a listing line passes the entry at index; an index outside the list (no entry
    // selected, as after a refused definition at start-up) lets every line through.
    bool Shows(std::size_t index, std::string_view line) const;

private:
    std::vector<TandemFilter> entries_; // in definition order
    std::string definition_;            // the definition that built entries_
};
