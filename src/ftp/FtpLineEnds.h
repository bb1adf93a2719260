#pragma once
// Line ends of ASCII transfers. On the wire a text file is NVT-ASCII (RFC 959): every line ends
// in CR LF, whatever the two ends keep. This PC keeps LF, so a download turns CR LF into LF and
// an upload turns a bare LF into CR LF. Both work on a stream cut into chunks anywhere: the one
// byte that decides what the next chunk's first byte means is carried in a small state.

#include <string>
#include <string_view>

// CR LF to LF. A CR that is not followed by LF stays. The CR that ends a chunk waits in
// `pendingCr` until the next chunk (or FtpFinishCrLfToLf) says what follows it.
struct FtpCrLfToLf {
    bool pendingCr = false;                    // the last chunk ended in a CR not yet written
    // Appends the converted chunk to `out` (which keeps what it held).
    void Convert(std::string_view chunk, std::string &out);
    // The end of the stream: a CR still waiting is written as it is.
    void Finish(std::string &out);
};

// LF to CR LF. An LF that already follows a CR is sent as it is, so a file that has CR LF
// line ends goes out unchanged; a CR without LF stays too.
struct FtpLfToCrLf {
    bool afterCr = false;                      // the last byte converted was a CR
    // Appends the converted chunk to `out` (which keeps what it held).
    void Convert(std::string_view chunk, std::string &out);
};
