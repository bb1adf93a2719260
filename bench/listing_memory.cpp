// Memory a long listing and a talkative server take in the main window: 100,000 listing lines
// added to the remote list, and 100,000 log lines (an endless banner at log level 2) added to
// the log window. Prints the heap each takes, in MB and per line, beside the lines' own bytes.
// Usage: listing_memory [LINES]   (offscreen; no server needed)
#include "ui/LogWindow.h"
#include "ui/TandemGroup.h"

#include <QApplication>
#include <QListWidget>

#include <cstdio>
#include <cstdlib>
#include <malloc.h>
#include <string>

namespace {

// Bytes the heap holds now (small blocks and mapped large ones).
double HeapBytes()
{
    const struct mallinfo2 info = ::mallinfo2();
    return double(info.uordblks + info.hblkhd);
}

// A listing line as the NonStop server writes it, each name different.
std::string ListingLine(long index)
{
    char text[128];
    std::snprintf(text, sizeof text, "F%07ld      101            16354 18-Mar-08 15:09:12 244, 10 \"nnnn\"", index);
    return text;
}

void Report(const char *what, long lines, double textBytes, double heapBytes)
{
    std::printf("%-5s %ld lines, %.1f MB of text: %.1f MB held, %.0f bytes per line (%.1f times its bytes)\n", what,
                lines, textBytes / 1e6, heapBytes / 1e6, heapBytes / double(lines), heapBytes / textBytes);
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const long lines = argc > 1 ? std::atol(argv[1]) : 100000;

    TTandemGroup group;
    double text = 0;
    double before = HeapBytes();
    for (long i = 0; i < lines; ++i) {
        const std::string line = ListingLine(i);
        text += double(line.size());
        group.AddFile(line);
    }
    Report("list", long(group.ListBoxTanFiles->count()), text, HeapBytes() - before);

    TFormStatus log;
    text = 0;
    before = HeapBytes();
    for (long i = 0; i < lines; ++i) {
        const QString line = QString("< 220-Welcome, line %1 of a banner that never ends ......").arg(i);
        text += double(line.size());
        log.AddLine(line);
    }
    Report("log", lines, text, HeapBytes() - before);
    return 0;
}
