#pragma once
// The file codes of host files, kept beside the PC folder that mirrors them (".zarvel.codes"),
// so a file that came from the host goes back with its code even where its PC name carries
// none, also after the host file is gone, from the window or a script alike. Beside the
// folder rather than in the settings: the codes belong to those files and travel with the
// folder (copied, backed up, checked in), and one folder's codes never mix with another's.
#include "session/FolderComparison.h"

#include <string>
#include <string_view>

// The file's name in the PC folder; hidden, like the marker files.
inline constexpr const char *kFileCodesName = ".zarvel.codes";

// "NAME CODE" lines, one per file, names in upper case. Lines that do not read so are passed over.
FileCodeMap ParseFileCodes(std::string_view text);
// The lines of ParseFileCodes, sorted by name.
std::string FormatFileCodes(const FileCodeMap &codes);

// The codes kept in folder; empty when there is no such file or it cannot be read.
FileCodeMap LoadFileCodes(const std::string &folder);
// Replaces the folder's file in one step (a temporary file renamed over it). False with a
// message when it cannot be written; the old file then stays as it was.
bool SaveFileCodes(const std::string &folder, const FileCodeMap &codes, std::string &error);

// Adds or updates what the host shows of each file.
void RememberFileCodes(FileCodeMap &codes, const std::vector<HostFile> &hostFiles);
