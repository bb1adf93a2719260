// libFuzzer target: arbitrary bytes, cut into arbitrary reads, through the control connection's
// reply assembly and the value extraction, as the engine drives them.
// Input: byte 0 picks the line-end rule; then repeatedly one length byte and that many bytes.
#include "ftp/FtpReplyParser.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#define CHECK(c) do { if (!(c)) std::abort(); } while (0)

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const bool acceptLF = data[0] & 1;
    size_t pos = 1;
    FtpReplyBuffer buf;
    while (pos < size) {
        size_t chunk = data[pos++] % 97 + 1;
        if (chunk > size - pos)
            chunk = size - pos;
        // The engine reads at most Space() bytes per event; the rest comes with the next one.
        size_t done = 0;
        while (done < chunk) {
            int taken = buf.Append(reinterpret_cast<const char *>(data + pos + done), int(chunk - done));
            CHECK(taken >= 0);
            done += size_t(taken);
            for (;;) {
                std::string line;
                FtpReplyBuffer::LineResult r = buf.NextLine(acceptLF, line);
                CHECK(buf.Length() >= 0 && buf.Length() < FtpReplyBuffer::Capacity);
                if (r == FtpReplyBuffer::NeedMore)
                    break;
                if (r == FtpReplyBuffer::Overflow) {
                    CHECK(buf.Space() == 0);
                    buf.Clear();   // what the engine does before closing the connection
                    break;
                }
                CHECK(line.find('\0') == std::string::npos);
                CHECK(line.empty() || (line.back() != '\r' && line.back() != '\n'));
                if (acceptLF)
                    CHECK(line.find('\n') == std::string::npos);
                int code = -1;
                size_t end = 0;
                if (FtpReplyLineCode(line, code, end)) {
                    CHECK(code >= 0 && end > 0 && end <= line.size());
                }
                (void)FtpIsFinalReplyLine(line);
                (void)FtpReplyNumber(line);
                std::string name = FtpReplyQuotedName(line);
                CHECK(name.size() <= line.size());
            }
            if (taken == 0 && buf.Space() == 0)
                buf.Clear();
        }
        pos += chunk;
    }
    return 0;
}
