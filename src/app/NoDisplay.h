// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <string>

// Qt ends the program with a fatal message when it finds no display (no DISPLAY, an X server
// that refuses, no platform plugin). A command line with an error could then never say so,
// as its message box needs that display. While armed, such a fatal message is followed by
// "zarvel: <problem>" on standard error and exit status 2; without a problem Qt's own
// handling (its message and an abort) stays as it is.
void ArmNoDisplayReport(std::string problem);
// Back to Qt's own message handling once the application object exists.
void DisarmNoDisplayReport();
