#include "session/TandemFilter.h"

#include "session/DecimalReading.h"
#include "session/ListingLine.h"

#include <algorithm>

bool ParseTandemFilterDefinition(std::string_view definition, std::vector<TandemFilter> &entries)
{
    if (definition.empty() || definition.find(' ') == std::string_view::npos)
        return false;

    std::vector<TandemFilter> parsed;
    std::size_t p = 0;
    for (;;) {
        const std::size_t labelEnd = std::min(definition.find('|', p), definition.size());
        if (labelEnd == p)
            break; // an empty label (or the end) closes the definition
        TandemFilter entry;
        entry.Label = std::string(definition.substr(p, labelEnd - p));
        std::size_t codesEnd = labelEnd;
        if (labelEnd < definition.size()) {
            const std::size_t codesStart = labelEnd + 1;
            codesEnd = std::min(definition.find('|', codesStart), definition.size());
            entry.Codes = std::string(definition.substr(codesStart, codesEnd - codesStart));
        }
        parsed.push_back(std::move(entry));
        p = codesEnd < definition.size() ? codesEnd + 1 : codesEnd;
    }
    entries = std::move(parsed);
    return true;
}

bool FileCodeMatches(std::string_view codes, std::int32_t fileCode)
{
    if (codes.empty())
        return true;
    std::size_t p = 0;
    do {
        const DecimalRead read = ReadDecimal(codes, p);
        if (read.value == fileCode)
            return true;
        p = read.end;
        if (p < codes.size())
            ++p;
    } while (p < codes.size());
    return false;
}

bool TandemFilterList::SetTandemFilter(const std::string &definition)
{
    if (!ParseTandemFilterDefinition(definition, entries_))
        return false;
    definition_ = definition;
    return true;
}

std::vector<std::size_t> TandemFilterList::DisplayOrder() const
{
    auto lower = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c; };
    auto before = [&](std::size_t a, std::size_t b) {
        const std::string &x = entries_[a].Label;
        const std::string &y = entries_[b].Label;
        return std::lexicographical_compare(x.begin(), x.end(), y.begin(), y.end(),
                                            [&](char l, char r) { return lower(l) < lower(r); });
    };
    std::vector<std::size_t> order(entries_.size());
    for (std::size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::stable_sort(order.begin(), order.end(), before);
    return order;
}

bool TandemFilterList::Shows(std::size_t index, std::string_view line) const
{
    if (index >= entries_.size())
        return true;
    const std::string &codes = entries_[index].Codes;
    return codes.empty() || FileCodeMatches(codes, ListingLineFileCode(line));
}
