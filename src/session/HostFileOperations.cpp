#include "session/HostFileOperations.h"
#include "session/DeleteQuestion.h"
#include "session/HostFiles.h"
#include "session/ListingLine.h"
#include "session/LogSink.h"
#include "session/SessionViews.h"
#include "session/UserPrompt.h"

#include <string>
#include <vector>

THostFileOperations::THostFileOperations(THostFiles &host, const TFileOperationViews &views)
    : Host(host), Views(views)
{
}

void THostFileOperations::DeleteSelected()
{
    THostSessionView &session = *Views.HostSession;
    // Taken before the first request: the list may be re-read while a request waits.
    std::vector<std::string> names;
    for (const std::string &line : Views.Remote->SelectedLines())
        names.push_back(ListingLineName(line));
    if (!names.empty() && Views.ConfirmDelete &&
        !Views.Confirm->AskYesNo("Delete", DeleteQuestionText(names, "on", Views.Remote->SubvolText())))
        return;
    if (session.LogLevel() == 0)
        session.ClearLog();
    int okCount = 0;
    int failedCount = 0;
    for (const std::string &name : names) {
        if (Host.Dele(name) && session.IsConnected()) {
            ++okCount;
            continue;
        }
        ++failedCount;
        if (!session.IsConnected()) {
            Views.Log->Log(0, name + " deletion aborted: Host Disconnected");
            break;
        }
        Views.Log->Log(0, Host.ErrorMessage());
    }
    if (okCount > 0)
        session.ListTandemFiles();
    if (failedCount > 0) {
        Views.Sounds->ExclamationSound();
        Views.Log->Log(1, std::to_string(okCount) + " file(s) deleted successfully." + " Failed to delete "
                              + std::to_string(failedCount) + " file(s)");
    } else {
        Views.Log->Log(1, std::to_string(okCount) + " file(s) deleted");
    }
}

void THostFileOperations::RenameSelected()
{
    THostSessionView &session = *Views.HostSession;
    int renamedCount = 0;
    for (const std::string &line : Views.Remote->SelectedLines()) {
        const std::string oldName = ListingLineName(line);
        std::string newName = oldName;
        if (!Views.Prompt->PromptUser("Rename", "Enter new name for '" + oldName + "'", &newName))
            continue;
        if (Host.Ren(oldName, newName) && session.IsConnected()) {
            ++renamedCount;
            continue;
        }
        if (!session.IsConnected()) {
            Views.Messages->ErrorDialog("Zarvel Error - Host disconnected");
            break;
        }
        Views.Messages->ErrorDialog("Zarvel Error - " + Host.ErrorMessage());
    }
    if (renamedCount > 0) {
        session.ListTandemFiles();
        Views.Log->Log(1, std::to_string(renamedCount) + " file(s) renamed");
    }
}
