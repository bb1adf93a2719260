#include "session/TransferRules.h"

#include "session/DecimalReading.h"

#include <algorithm>
#include <optional>

namespace {

constexpr std::int32_t kEditFileCode = 101;

// The mode a fixed choice gives; nothing in Auto, where the file code decides.
std::optional<TransferMode> FixedMode(ModeChoice choice)
{
    switch (choice) {
    case ModeChoice::Ascii:
        return TransferMode::Ascii;
    case ModeChoice::Binary:
        return TransferMode::Binary;
    case ModeChoice::Auto:
        break;
    }
    return std::nullopt;
}

} // namespace

const char *ModeWord(TransferMode mode)
{
    return mode == TransferMode::Binary ? "binary" : "ascii";
}

TransferMode DownloadModeFor(std::int32_t fileCode, const TransferOptions &options)
{
    if (const auto fixed = FixedMode(options.Mode))
        return *fixed;
    return fileCode == kEditFileCode ? TransferMode::Ascii : TransferMode::Binary;
}

TransferMode UploadModeFor(std::string_view pcFileName, const TransferOptions &options)
{
    if (const auto fixed = FixedMode(options.Mode))
        return *fixed;
    const std::size_t comma = pcFileName.find(',');
    if (comma == std::string_view::npos)
        return TransferMode::Ascii;
    return AtolAt(pcFileName, comma + 1) == kEditFileCode ? TransferMode::Ascii : TransferMode::Binary;
}

std::string PcNameForDownload(std::string_view hostName, std::int32_t fileCode, TransferMode mode,
                              const TransferOptions &options)
{
    std::string name(hostName);
    // A name no longer than the extension stays without a period: a period in front would
    // make a hidden PC file (BASHRC with 8 is not .BASHRC).
    const std::size_t n = static_cast<std::size_t>(std::max(options.DLExtensionSize, 0));
    if (n > 0 && name.size() > n)
        name.insert(name.size() - n, 1, '.');
    if (mode == TransferMode::Binary && options.DLAddFileCode)
        name += ',' + std::to_string(fileCode);
    return name;
}

std::string_view PcFileNameOfPath(std::string_view pcPath)
{
    // "/" is this system's separator; "\" and ":" are kept for Windows-style names.
    const std::size_t separator = pcPath.find_last_of("/\\:");
    return separator == std::string_view::npos ? pcPath : pcPath.substr(separator + 1);
}

std::string HostNameForUpload(std::string_view pcPath, const TransferOptions &options)
{
    const std::string_view name = PcFileNameOfPath(pcPath);
    const std::size_t period = name.rfind('.');
    const std::string_view extension =
        period == std::string_view::npos ? std::string_view() : name.substr(period + 1);
    // A name ending in a period has no extension and keeps the period.
    const std::string_view base = extension.empty() ? name : name.substr(0, period);
    std::string host(base);
    if (options.ULAppendExtension)
        host += extension;
    return host;
}

bool IsUnsafePcName(std::string_view pcName)
{
    if (pcName.empty() || pcName == "." || pcName == "..")
        return true;
    // Control bytes (NUL, CR, LF, ESC ...) make names a user can neither read nor type.
    return std::any_of(pcName.begin(), pcName.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return c == '/' || byte < 0x20 || byte == 0x7f;
    });
}

bool IsHiddenName(std::string_view name)
{
    return !name.empty() && name.front() == '.';
}

bool IsUnsafeHostName(std::string_view hostName)
{
    return hostName.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

bool TransferModeSwitcher::Prepare(TransferMode mode, const ApplyType &apply)
{
    if (lastMode_ == mode)
        return true;
    lastMode_ = mode;
    if (!apply(mode)) {
        lastMode_.reset();
        return false;
    }
    return true;
}

std::string TransferModeSwitcher::ModeText() const
{
    return lastMode_ ? ModeWord(*lastMode_) : std::string();
}
