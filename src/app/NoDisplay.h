// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <string>

// Qt ends the program with a fatal message when it finds no display (no DISPLAY, an X server
// that refuses, no platform plugin), after warnings of its own about the display. While
// armed, Qt's messages are held back; a fatal one is replaced by one line on standard error:
// "zarvel: <problem>" with exit status 2 when the command line had one (its message box
// could never be shown), else that Zarvel needs a graphical session, with status 1.
void ArmNoDisplayReport(std::string problem);
// Back to Qt's own message handling once the application object exists; the messages held
// back go out then.
void DisarmNoDisplayReport();
