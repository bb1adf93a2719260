#pragma once
#include <cstddef>
#include <cstdint>
#include <string_view>

// Decimal numbers read the way the C library's atol and strtol read them, but over a byte
// range (no terminating NUL needed) and independent of the process locale: leading C white
// space is skipped, one optional sign, then digits up to the first non-digit. Values beyond
// the 64-bit range saturate instead of wrapping.
struct DecimalRead {
    std::int64_t value = 0; // 0 when no digits were found
    std::size_t end = 0;    // index after the last digit; the start index when no digits (strtol's rule)
};

// Reads from text[pos]; a pos at or past the end reads 0 and consumes nothing.
DecimalRead ReadDecimal(std::string_view text, std::size_t pos = 0);

// atol's result for text[pos..]: the value alone.
std::int64_t AtolAt(std::string_view text, std::size_t pos = 0);

// File codes are 32-bit: values outside that range are brought to the nearer bound.
std::int32_t SaturateToInt32(std::int64_t value);
