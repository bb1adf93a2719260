// SPDX-License-Identifier: GPL-3.0-or-later
#include "NoDisplay.h"

#include <QtGlobal>
#include <QString>
#include <cstdio>
#include <unistd.h>

namespace {

std::string gProblem;                        // the command line's error; empty when none
QtMessageHandler gQtHandler = nullptr;       // the handler in place before arming

void ReportOnFatal(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    gQtHandler(type, context, message);
    if (type != QtFatalMsg || gProblem.empty())
        return; // Qt aborts after a fatal message returns
    std::fprintf(stderr, "zarvel: %s\n", gProblem.c_str());
    std::fflush(stderr);
    ::_exit(2); // nothing of the program has started yet: no destructors to run
}

} // namespace

void ArmNoDisplayReport(std::string problem)
{
    gProblem = std::move(problem);
    gQtHandler = qInstallMessageHandler(ReportOnFatal);
}

void DisarmNoDisplayReport()
{
    qInstallMessageHandler(gQtHandler);
}
