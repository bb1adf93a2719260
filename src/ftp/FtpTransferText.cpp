#include "ftp/FtpTransferText.h"

#include <cstring>

namespace {

// Decimal digits at pos, at most three (0..255 fit); false when none.
bool ReadByteNumber(const std::string &text, std::size_t &pos, int &value)
{
    while (pos < text.size() && text[pos] == ' ')
        ++pos;
    const std::size_t start = pos;
    value = 0;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9' && pos - start < 4)
        value = value * 10 + (text[pos++] - '0');
    while (pos < text.size() && text[pos] == ' ')
        ++pos;
    return pos > start && value <= 255;
}

} // namespace

bool FtpPasvPort(const std::string &reply, quint16 &port)
{
    std::size_t pos = reply.find('(');
    if (pos == std::string::npos)
        return false;
    ++pos;
    int numbers[6];
    for (int i = 0; i < 6; ++i) {
        if (!ReadByteNumber(reply, pos, numbers[i]))
            return false;
        const char expected = i < 5 ? ',' : ')';
        if (pos >= reply.size() || reply[pos] != expected)
            return false;
        ++pos;
    }
    port = quint16((numbers[4] << 8) | numbers[5]);
    return true;
}

std::string FtpPortCommand(std::uint32_t localAddr, quint16 port, bool remoteIsLoopback)
{
    if (remoteIsLoopback)
        localAddr = 0x7F000001u;
    return "PORT " + std::to_string((localAddr >> 24) & 0xFF) + "," + std::to_string((localAddr >> 16) & 0xFF) +
           "," + std::to_string((localAddr >> 8) & 0xFF) + "," + std::to_string(localAddr & 0xFF) + "," +
           std::to_string(port >> 8) + "," + std::to_string(port & 0xFF);
}

std::string FtpTransferStatsText(qint64 count, qint64 elapsedMs)
{
    std::string text = std::to_string(count) + " bytes received/sent in " + std::to_string(elapsedMs / 1000) +
                       " seconds";
    if (elapsedMs != 0) {
        // Big counts divide first so the product stays small; small ones keep their precision.
        const qint64 rate = count > 32767 ? count / elapsedMs * 1000 : count * 1000 / elapsedMs;
        text += " (" + std::to_string(rate) + " Bytes/sec)";
    }
    return text;
}

int FtpSplitListingChunk(const char *chunk, int n, const std::function<void(std::string &)> &onLine,
                         char *linePart, int &truncatedFrom)
{
    truncatedFrom = 0;
    int pos = 0;
    while (pos < n) {
        int end = pos;
        while (end < n && chunk[end] != '\r' && chunk[end] != '\n')
            ++end;
        if (end >= n) {
            int len = n - pos;
            if (len > FtpLinePartMax) {
                truncatedFrom = len;
                pos = n - FtpLinePartMax;
                len = FtpLinePartMax;
            }
            std::memmove(linePart, chunk + pos, std::size_t(len));
            return len;
        }
        std::string line(chunk + pos, std::size_t(end - pos));
        onLine(line);
        pos = end;
        while (pos < n && (chunk[pos] == '\r' || chunk[pos] == '\n'))
            ++pos;
    }
    return 0;
}
