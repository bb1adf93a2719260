#pragma once
// Pure helpers over the bytes of the control connection: reply-line assembly in a fixed
// buffer, reply codes, and the values some replies carry. No sockets, so they can be
// table-tested and fuzzed.

#include <QtGlobal>

#include <cstddef>
#include <string>

// Control-connection bytes not yet split into lines. At most Capacity - 1 bytes are held,
// so a line longer than that can never complete: NextLine reports it as Overflow.
class FtpReplyBuffer {
public:
    static constexpr int Capacity = 4096;

    enum LineResult {
        Line,       // a line was split off into the output
        NeedMore,   // no line end among the held bytes yet
        Overflow,   // the buffer is full and holds no line end
    };

    void Clear() { FLength = 0; }
    int Length() const { return FLength; }
    // Free room for the next read.
    int Space() const { return Capacity - 1 - FLength; }
    // Where the next read goes; at most Space() bytes.
    char *WritePtr() { return FData + FLength; }
    // Take n bytes just read into WritePtr(). NUL bytes are dropped: servers do not send
    // them in replies, and a NUL would cut the line short in every text consumer downstream.
    void Commit(int n);
    // Copy in up to Space() bytes; returns how many were taken.
    int Append(const char *data, int n);
    // Split off the first complete line. With acceptLF a lone LF ends a line, otherwise only
    // CR LF does. CR and LF at the end of the line are removed.
    LineResult NextLine(bool acceptLF, std::string &line);

private:
    char FData[Capacity];
    int FLength = 0;
};

// Leading decimal digits of a reply line. Returns false when the line does not begin with a
// digit. end receives the index just past the digits. Values are capped, never overflow.
bool FtpReplyLineCode(const std::string &line, int &code, std::size_t &end);

// A line that ends a reply: begins with digits not followed by "-".
bool FtpIsFinalReplyLine(const std::string &line);

// The number after the reply code ("213 1234" gives 1234): blanks are skipped, an optional
// sign, then digits up to the first non-digit; none gives 0. Saturates instead of wrapping.
qint64 FtpReplyNumber(const std::string &line);

// The quoted name after the reply code ("257 \"/a\"\"b\" created" gives /a"b). A doubled
// double quote stands for one; the end of the line also ends the name. Empty when the first
// non-blank after the code is not a double quote.
std::string FtpReplyQuotedName(const std::string &line);

// True when text holds a CR or LF: such a text sent as a command would inject a second one.
bool FtpHasLineBreak(const std::string &text);
