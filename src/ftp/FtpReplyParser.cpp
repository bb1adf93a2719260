#include "ftp/FtpReplyParser.h"

#include <cstring>
#include <limits>

void FtpReplyBuffer::Commit(int n)
{
    if (n <= 0)
        return;
    if (n > Space())
        n = Space();
    char *p = FData + FLength;
    int kept = 0;
    for (int i = 0; i < n; ++i) {
        if (p[i] != '\0')
            p[kept++] = p[i];
    }
    FLength += kept;
}

int FtpReplyBuffer::Append(const char *data, int n)
{
    if (n <= 0)
        return 0;
    if (n > Space())
        n = Space();
    std::memcpy(WritePtr(), data, std::size_t(n));
    Commit(n);
    return n;
}

FtpReplyBuffer::LineResult FtpReplyBuffer::NextLine(bool acceptLF, std::string &line)
{
    int end = -1;       // index of the line end
    int endLen = 0;
    for (int i = 0; i < FLength; ++i) {
        if (acceptLF) {
            if (FData[i] == '\n') {
                end = i;
                endLen = 1;
                break;
            }
        } else if (FData[i] == '\r' && i + 1 < FLength && FData[i + 1] == '\n') {
            end = i;
            endLen = 2;
            break;
        }
    }
    if (end < 0)
        return FLength >= Capacity - 1 ? Overflow : NeedMore;

    int len = end;
    while (len > 0 && (FData[len - 1] == '\r' || FData[len - 1] == '\n'))
        --len;
    line.assign(FData, std::size_t(len));
    int consumed = end + endLen;
    std::memmove(FData, FData + consumed, std::size_t(FLength - consumed));
    FLength -= consumed;
    return Line;
}

bool FtpReplyLineCode(const std::string &line, int &code, std::size_t &end)
{
    std::size_t i = 0;
    long long value = 0;
    while (i < line.size() && line[i] >= '0' && line[i] <= '9') {
        if (value < std::numeric_limits<int>::max() / 10)
            value = value * 10 + (line[i] - '0');
        else
            value = std::numeric_limits<int>::max();
        ++i;
    }
    if (i == 0)
        return false;
    code = int(value > std::numeric_limits<int>::max() ? std::numeric_limits<int>::max() : value);
    end = i;
    return true;
}

bool FtpIsFinalReplyLine(const std::string &line)
{
    int code;
    std::size_t end;
    if (!FtpReplyLineCode(line, code, end))
        return false;
    return end >= line.size() || line[end] != '-';
}

namespace {

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// Reads one number at pos (blanks, sign, digits); pos ends at the first non-digit.
qint64 ReadNumber(const std::string &s, std::size_t &pos)
{
    while (pos < s.size() && IsBlank(s[pos]))
        ++pos;
    bool negative = false;
    if (pos < s.size() && (s[pos] == '+' || s[pos] == '-')) {
        negative = s[pos] == '-';
        ++pos;
    }
    constexpr qint64 limit = std::numeric_limits<qint64>::max();
    qint64 value = 0;
    while (pos < s.size() && s[pos] >= '0' && s[pos] <= '9') {
        int digit = s[pos] - '0';
        value = value > (limit - digit) / 10 ? limit : value * 10 + digit;
        ++pos;
    }
    return negative ? -value : value;
}

} // namespace

qint64 FtpReplyNumber(const std::string &line)
{
    std::size_t pos = 0;
    ReadNumber(line, pos);          // the reply code
    return ReadNumber(line, pos);
}

std::string FtpReplyQuotedName(const std::string &line)
{
    std::size_t pos = 0;
    ReadNumber(line, pos);
    while (pos < line.size() && IsBlank(line[pos]))
        ++pos;
    std::string name;
    if (pos >= line.size() || line[pos] != '"')
        return name;
    ++pos;
    while (pos < line.size()) {
        if (line[pos] == '"') {
            if (pos + 1 < line.size() && line[pos + 1] == '"') {
                name += '"';
                pos += 2;
                continue;
            }
            break;
        }
        name += line[pos++];
    }
    return name;
}

bool FtpHasLineBreak(const std::string &text)
{
    return text.find_first_of("\r\n") != std::string::npos;
}
