#include "ftp/FtpTransferText.h"

#include <utility>

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

bool FtpEpsvPort(const std::string &reply, quint16 &port)
{
    std::size_t pos = reply.find('(');
    if (pos == std::string::npos || pos + 4 >= reply.size())
        return false;
    const char delimiter = reply[pos + 1];
    if (delimiter < 33 || delimiter > 126 || (delimiter >= '0' && delimiter <= '9'))
        return false;
    if (reply[pos + 2] != delimiter || reply[pos + 3] != delimiter)
        return false;
    pos += 4;
    const std::size_t start = pos;
    long value = 0;
    while (pos < reply.size() && reply[pos] >= '0' && reply[pos] <= '9' && pos - start < 6)
        value = value * 10 + (reply[pos++] - '0');
    if (pos == start || value < 1 || value > 65535)
        return false;
    if (pos + 1 >= reply.size() || reply[pos] != delimiter || reply[pos + 1] != ')')
        return false;
    port = quint16(value);
    return true;
}

bool FtpPassivePort(const std::string &reply, quint16 &port)
{
    return reply.compare(0, 3, "229") == 0 ? FtpEpsvPort(reply, port) : FtpPasvPort(reply, port);
}

std::string FtpEprtCommand(bool ipv6, const std::string &address, quint16 port)
{
    return std::string("EPRT |") + (ipv6 ? "2" : "1") + "|" + address + "|" + std::to_string(port) + "|";
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

namespace {

// Adds `len` bytes of the line being received to the tail, or switches it to dropping.
void Carry(FtpListingTail &tail, const char *bytes, qint64 len)
{
    if (tail.dropped == 0 && qint64(tail.part.size()) + len <= FtpListingLineMax) {
        tail.part.append(bytes, std::size_t(len));
        return;
    }
    tail.dropped += qint64(tail.part.size()) + len;
    tail.part.clear();
    tail.part.shrink_to_fit();
}

// Ends the line carried in the tail.
void EndLine(FtpListingTail &tail, const FtpListingLine &onLine, const FtpListingDropped &onDropped)
{
    if (tail.dropped > 0) {
        const qint64 length = std::exchange(tail.dropped, 0);
        onDropped(length);
        return;
    }
    std::string line = std::move(tail.part);
    tail.part.clear();
    onLine(line);
}

} // namespace

void FtpSplitListingChunk(const char *chunk, int n, FtpListingTail &tail, const FtpListingLine &onLine,
                          const FtpListingDropped &onDropped)
{
    int pos = 0;
    // The rest of a run of line ends begun in the last chunk ends no line of its own.
    if (tail.atLineEnd) {
        while (pos < n && (chunk[pos] == '\r' || chunk[pos] == '\n'))
            ++pos;
        tail.atLineEnd = pos >= n;
    }
    while (pos < n) {
        int end = pos;
        while (end < n && chunk[end] != '\r' && chunk[end] != '\n')
            ++end;
        Carry(tail, chunk + pos, end - pos);
        if (end >= n)
            return;
        EndLine(tail, onLine, onDropped);
        pos = end;
        while (pos < n && (chunk[pos] == '\r' || chunk[pos] == '\n'))
            ++pos;
        tail.atLineEnd = pos >= n;
    }
}

void FtpFinishListing(FtpListingTail &tail, const FtpListingLine &onLine, const FtpListingDropped &onDropped)
{
    if (!tail.part.empty() || tail.dropped > 0)
        EndLine(tail, onLine, onDropped);
}
