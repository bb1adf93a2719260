#pragma once
// Where a partial download came from. A part is continued (REST) only by a download of the
// same file: the same server, subvolume and name, as large and as recently modified as the
// listing said when the part was left. Two hosts each have a PROG; resuming one's part with
// the other's bytes makes a mixed file that arrives "complete".
#include <QtGlobal>

#include <optional>
#include <string>
#include <string_view>

struct TPartOrigin {
    std::string Host;      // the server as connected to (the target host through a proxy)
    std::string Port;      // its control port
    std::string Subvol;    // the subvolume the file was listed in
    std::string Name;      // the host file name
    qint64 Size = 0;       // the listed size
    std::string Modified;  // the listed modification, as the listing wrote it
    bool operator==(const TPartOrigin &) const = default;
};

// The origin as text for the file beside the part: a first line that names the format,
// then each field percent-encoded on a line of its own.
std::string PartOriginText(const TPartOrigin &origin);
// The origin such a text holds; none for anything else (a damaged or foreign file).
std::optional<TPartOrigin> ParsePartOrigin(std::string_view text);
