#include "session/PasswordScrambling.h"

#include <cstdint>

void ScramblePassword(std::string_view key, std::string_view text, std::string &result)
{
    if (text.empty())
        return;
    // The running value grows by one per scrambled byte, so it needs more than 32 bits only
    // for texts beyond 2 GiB; 64 bits keep it exact for any text.
    std::int64_t k = static_cast<std::int64_t>(key.size());
    for (char b : key)
        k ^= static_cast<unsigned char>(b);
    if (k == 0)
        k = static_cast<std::int64_t>(text.size()) + 1;

    std::string out;
    out.reserve(text.size());
    for (char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == k) {
            out.push_back(ch);
        } else {
            out.push_back(static_cast<char>(c ^ static_cast<unsigned char>(k & 0xFF)));
            ++k;
        }
    }
    result = std::move(out);
}
