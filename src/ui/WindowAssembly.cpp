#include "ui/WindowAssembly.h"

#include "ui/AboutBox.h"
#include "ui/ConfigureDialog.h"
#include "ui/ConnectDialog.h"
#include "ui/LogWindow.h"
#include "ui/TransferProgressDialog.h"
#include "ui/UserMessages.h"

TFormMain::Windows AttachNewWindows(TFormMain &formMain, TUserMessages &messages)
{
    TFormMain::Windows windows;
    windows.AboutBox = new TAboutBox(&formMain);
    windows.FormConnect = new TFormConnect(messages, &formMain);
    windows.FormStatus = new TFormStatus(&formMain);
    windows.FormConfig = new TFormConfig(&formMain);
    windows.FormTransfer = new TFormTransfer(&formMain);
    formMain.AttachWindows(windows);
    return windows;
}
