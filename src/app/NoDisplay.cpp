// SPDX-License-Identifier: GPL-3.0-or-later
#include "NoDisplay.h"

#include <QtGlobal>
#include <QString>
#include <cstdio>
#include <unistd.h>
#include <vector>

namespace {

// One message held back while armed.
struct HeldMessage {
    QtMsgType type;
    std::string category; // the context's category, kept past the message's own life
    QString text;
};

std::string gProblem;                        // the command line's error; empty when none
QtMessageHandler gQtHandler = nullptr;       // the handler in place before arming
std::vector<HeldMessage> gHeld;              // messages before the display was found

void HoldOrEnd(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type != QtFatalMsg) {
        gHeld.push_back({type, context.category ? context.category : "", message});
        return;
    }
    const std::string line = gProblem.empty()
        ? std::string("Zarvel needs a graphical session, and no display could be opened (DISPLAY or WAYLAND_DISPLAY)")
        : gProblem;
    std::fprintf(stderr, "zarvel: %s\n", line.c_str());
    std::fflush(stderr);
    ::_exit(gProblem.empty() ? 1 : 2); // nothing of the program has started yet: no destructors to run
}

} // namespace

void ArmNoDisplayReport(std::string problem)
{
    gProblem = std::move(problem);
    gQtHandler = qInstallMessageHandler(HoldOrEnd);
}

void DisarmNoDisplayReport()
{
    qInstallMessageHandler(gQtHandler);
    for (const HeldMessage &held : gHeld)
        gQtHandler(held.type, QMessageLogContext(nullptr, 0, nullptr, held.category.c_str()), held.text);
    gHeld.clear();
}
