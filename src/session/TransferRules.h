#pragma once
// Per-file transfer decisions: ASCII or binary, and the name the file gets on the other side.
// Pure functions over bytes, shared by the download and upload batches; no Qt here.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

// The representation a file travels in.
enum class TransferMode { Ascii, Binary };

// "ascii" or "binary", as the progress texts show it.
const char *ModeWord(TransferMode mode);

// The exclusive mode choice of the transfer group.
enum class ModeChoice { Ascii, Binary, Auto };

// The four transfer controls, read afresh for every file; members start at the controls' defaults.
struct TransferOptions {
    ModeChoice Mode = ModeChoice::Auto; // fixed mode, or chosen per file from its file code
    int DLExtensionSize = 0;            // download: trailing host-name characters that become the extension (0..8; 0 = off)
    bool DLAddFileCode = true;          // download: binary files get ",<file code>" appended
    bool ULAppendExtension = true;      // upload: the PC extension, without its period, stays on the host name
};

// Auto: edit files (code 101) in ASCII, every other code in binary.
TransferMode DownloadModeFor(std::int32_t fileCode, const TransferOptions &options);

// Auto: ASCII unless the PC name carries ",<code>" whose atol value (after the first comma) is not 101.
TransferMode UploadModeFor(std::string_view pcFileName, const TransferOptions &options);

// The PC file name for a downloaded host file: extension period (never in front: a name no
// longer than the extension keeps none), then the ",<code>" suffix for binary files when
// DLAddFileCode is on. Letter case is kept.
std::string PcNameForDownload(std::string_view hostName, std::int32_t fileCode, TransferMode mode,
                              const TransferOptions &options);

// The last component of a PC path: the part after the last "/", "\" or ":".
std::string_view PcFileNameOfPath(std::string_view pcPath);

// The host file name for an uploaded PC file: the extension's period goes, the extension stays
// only with ULAppendExtension. A ",<code>" suffix before the extension travels inside the name.
std::string HostNameForUpload(std::string_view pcPath, const TransferOptions &options);

// A listing comes from the server and is not to be trusted: a PC name that is empty, "." or
// "..", or that holds a "/" would write outside the current folder; one with control bytes
// (NUL, CR, LF, ESC, DEL ...) would make a file the user can neither read nor type.
bool IsUnsafePcName(std::string_view pcName);

// A name starting with a period: no host file is named so, and as a PC name it is a hidden
// file (.bashrc, .profile) that the PC list does not show and a download must not replace.
bool IsHiddenName(std::string_view name);

// A host name with CR, LF or NUL would end the store command early and smuggle a second
// command onto the control connection.
bool IsUnsafeHostName(std::string_view hostName);

// Remembers the mode the batch last asked the server for, so a run of files in one mode
// sends a single type command. Starts from none in every batch, so the first file always
// sends one.
class TransferModeSwitcher {
public:
    // Sets the client's binary flag and runs its type operation; returns its success.
    using ApplyType = std::function<bool(TransferMode)>;

    // Before each file: runs apply when mode differs from the remembered one. Returns false
    // when apply failed; the remembered mode is then none, so nothing is taken for granted.
    bool Prepare(TransferMode mode, const ApplyType &apply);

    // The mode of the previous file; none before the first or after a failed switch.
    std::optional<TransferMode> LastMode() const { return lastMode_; }

    // ModeWord of the last mode, empty while there is none.
    std::string ModeText() const;

private:
    std::optional<TransferMode> lastMode_; // mode the server was last switched to in this batch
};
