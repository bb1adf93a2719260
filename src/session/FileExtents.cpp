#include "session/FileExtents.h"

#include <algorithm>
#include <cctype>

std::int64_t ExtentsCapacity(const FileExtents &extents)
{
    return (extents.Primary + extents.Secondary * (extents.MaxExtents - 1)) * kExtentPageBytes;
}

std::optional<FileExtents> ExtentsForSize(std::int64_t size)
{
    const FileExtents defaults;
    if (size <= ExtentsCapacity(defaults))
        return std::nullopt;
    const std::int64_t pages = (size + kExtentPageBytes - 1) / kExtentPageBytes;
    const std::int64_t room = (pages * 4 + 2) / 3; // the file fills three quarters of it
    const std::int64_t extent = std::clamp((room + defaults.MaxExtents - 1) / defaults.MaxExtents,
                                           defaults.Secondary, kMaxExtentPages);
    return FileExtents{extent, extent, defaults.MaxExtents};
}

std::string HostNameWithExtents(std::string_view hostName, std::int64_t size, TransferMode mode, bool append)
{
    const std::optional<FileExtents> extents = ExtentsForSize(size);
    const std::size_t comma = hostName.find(',');
    const bool hasExtents = comma != std::string_view::npos && hostName.find(',', comma + 1) != std::string_view::npos;
    if (!extents || mode != TransferMode::Binary || append || hasExtents)
        return std::string(hostName);
    std::string code = comma == std::string_view::npos ? std::string() : std::string(hostName.substr(comma + 1));
    if (code.empty())
        code = "0";
    return std::string(hostName.substr(0, comma)) + "," + code + "," + std::to_string(extents->Primary) + "," +
           std::to_string(extents->Secondary) + "," + std::to_string(extents->MaxExtents);
}

std::string ExtentsErrorText(std::string_view reply)
{
    constexpr std::string_view mark = "error 45";
    const auto lower = [](unsigned char c) { return char(std::tolower(c)); };
    std::string text(reply);
    std::transform(text.begin(), text.end(), text.begin(), lower);
    const std::size_t at = text.find(mark);
    const std::size_t after = at + mark.size();
    if (at == std::string::npos || (after < text.size() && std::isdigit(static_cast<unsigned char>(text[after]))))
        return {};
    return "The file is larger than its extents allow (error 45)";
}
