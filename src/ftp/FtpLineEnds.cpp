#include "ftp/FtpLineEnds.h"

#include <cstring>

namespace {

// The index of the first `c` at or after `from`, or the size when there is none. memchr: text
// has few line ends per byte, and the runs between them are copied whole.
std::size_t FindOrEnd(std::string_view chunk, std::size_t from, char c)
{
    const void *found = std::memchr(chunk.data() + from, c, chunk.size() - from);
    return found ? std::size_t(static_cast<const char *>(found) - chunk.data()) : chunk.size();
}

} // namespace

void FtpCrLfToLf::Convert(std::string_view chunk, std::string &out)
{
    std::size_t pos = 0;
    if (pendingCr && !chunk.empty()) {
        pendingCr = false;
        if (chunk.front() != '\n')
            out += '\r';
    }
    while (pos < chunk.size()) {
        const std::size_t cr = FindOrEnd(chunk, pos, '\r');
        out.append(chunk.data() + pos, cr - pos);
        if (cr == chunk.size())
            break;
        if (cr + 1 == chunk.size()) {
            pendingCr = true;
            break;
        }
        if (chunk[cr + 1] != '\n')
            out += '\r';
        pos = cr + 1;
    }
}

void FtpCrLfToLf::Finish(std::string &out)
{
    if (pendingCr)
        out += '\r';
    pendingCr = false;
}

void FtpLfToCrLf::Convert(std::string_view chunk, std::string &out)
{
    std::size_t pos = 0;
    while (pos < chunk.size()) {
        const std::size_t lf = FindOrEnd(chunk, pos, '\n');
        out.append(chunk.data() + pos, lf - pos);
        if (lf == chunk.size())
            break;
        const bool crBefore = lf > 0 ? chunk[lf - 1] == '\r' : afterCr;
        out += crBefore ? "\n" : "\r\n";
        pos = lf + 1;
    }
    if (!chunk.empty())
        afterCr = chunk.back() == '\r';
}
