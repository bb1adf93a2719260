#include "session/HostFileOperations.h"
#include "session/FileOperationsView.h"
#include "session/HostFiles.h"
#include "session/ListingLine.h"
#include "session/LogSink.h"
#include "session/UserPrompt.h"

#include <string>

THostFileOperations::THostFileOperations(HostFiles &host, TandemFilesView &view, UserPrompt &prompt,
                                         FileOperationAlerts &alerts, LogSink &log)
    : Host(host), View(view), Prompt(prompt), Alerts(alerts), Log(log)
{
}

void THostFileOperations::DeleteSelected()
{
    if (View.LogLevel() == 0)
        View.ClearLog();
    int okCount = 0;
    int failedCount = 0;
    // Taken before the first request: the list may be re-read while a request waits.
    for (const std::string &line : View.SelectedTandemLines()) {
        const std::string name = ListingLineName(line);
        if (Host.Dele(name) && View.IsConnected()) {
            ++okCount;
            continue;
        }
        ++failedCount;
        if (!View.IsConnected()) {
            Log.Log(0, name + " deletion aborted: Host Disconnected");
            break;
        }
        Log.Log(0, Host.ErrorMessage());
    }
    if (okCount > 0)
        View.ListTandemFiles();
    if (failedCount > 0) {
        Alerts.WarningSound();
        Log.Log(1, std::to_string(okCount) + " file(s) deleted successfully." + " Failed to delete "
                       + std::to_string(failedCount) + " file(s)");
    } else {
        Log.Log(1, std::to_string(okCount) + " file(s) deleted");
    }
}

void THostFileOperations::RenameSelected()
{
    int renamedCount = 0;
    for (const std::string &line : View.SelectedTandemLines()) {
        const std::string oldName = ListingLineName(line);
        std::string newName = oldName;
        if (!Prompt.PromptUser("Rename", "Enter new name for '" + oldName + "'", &newName))
            continue;
        if (Host.Ren(oldName, newName) && View.IsConnected()) {
            ++renamedCount;
            continue;
        }
        if (!View.IsConnected()) {
            Alerts.ErrorBox("Zarvel Error - Host disconnected");
            break;
        }
        Alerts.ErrorBox("Zarvel Error - " + Host.ErrorMessage());
    }
    if (renamedCount > 0) {
        View.ListTandemFiles();
        Log.Log(1, std::to_string(renamedCount) + " files renamed");
    }
}
