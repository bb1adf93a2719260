#include "ftp/FtpLineEnds.h"

#include <cstring>

void FtpCrLfToLf::Convert(std::string_view chunk, std::string &out)
{
    std::size_t pos = 0;
    if (pendingCr && !chunk.empty()) {
        pendingCr = false;
        if (chunk.front() != '\n')
            out += '\r';
    }
    // Runs between CRs are copied whole: text has few line ends per byte.
    while (pos < chunk.size()) {
        const void *found = std::memchr(chunk.data() + pos, '\r', chunk.size() - pos);
        const std::size_t cr = found ? std::size_t(static_cast<const char *>(found) - chunk.data()) : chunk.size();
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
        const void *found = std::memchr(chunk.data() + pos, '\n', chunk.size() - pos);
        const std::size_t lf = found ? std::size_t(static_cast<const char *>(found) - chunk.data()) : chunk.size();
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
