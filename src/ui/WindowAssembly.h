#pragma once
// The program's windows besides the main one, made in their fixed order as children of the
// main window (so they go with it) and handed to it.
#include "ui/MainWindow.h"

class TUserMessages;

TFormMain::Windows AttachNewWindows(TFormMain &formMain, TUserMessages &messages);
