// The remote subvolume browser: changing subvolume, listing it through the file-code
// filter, and the handlers of the subvolume and filter boxes.
#include "session/HostFiles.h"
#include "session/SessionController.h"

bool TSessionController::ChangeSubvol(const std::string &subvol, bool forced)
{
    if (!forced && subvol == FTPCLI.ReplyDirectory())
        return true;
    if (RefuseWhileBusy())
        return false;
    bool ok = EnterSubvol(subvol);
    // Zarvel lists Guardian subvolumes only: a host in its OSS file system answers PWD with a
    // path such as /G/data01/zdemo.
    if (ok && FTPCLI.ReplyDirectory().starts_with('/'))
        ok = LeaveOss() && EnterSubvol(subvol);
    if (!ok)
        return false;
    views_.Remote->AddSubvolHistory(FTPCLI.ReplyDirectory());
    views_.Remote->SetSubvolText(FTPCLI.ReplyDirectory());
    return ListTandemFiles();
}

bool TSessionController::EnterSubvol(const std::string &subvol)
{
    if (!subvol.empty()) {
        FTPCLI.SetHostDirName(subvol);
        if (!FTPCLI.Cwd())
            return false;
    }
    return FTPCLI.Pwd();
}

bool TSessionController::LeaveOss()
{
    const std::string path = FTPCLI.ReplyDirectory();
    if (!GuardianRefused) {
        FTPCLI.SetLocalFileName("GUARDIAN");
        if (FTPCLI.Quote()) {
            Log(1, "The host is in the OSS file system (" + path + "): sent QUOTE GUARDIAN to show Guardian subvolumes");
            return true;
        }
        GuardianRefused = FTPCLI.GetConnected();
    }
    const std::string text = "This account starts in the OSS file system (" + path +
                             ") and the host refused QUOTE GUARDIAN: Zarvel shows Guardian subvolumes only";
    Log(0, text);
    views_.Status->SetStatusMessage(text);
    return false;
}

bool TSessionController::ListTandemFiles()
{
    if (RefuseWhileBusy())
        return false; // the list shown stays whole
    views_.Remote->ClearFiles();
    ListedLines = 0;
    ShownFiles = 0;
    UnshownFiles = 0;
    FTPCLI.SetHostFileName("");
    FTPCLI.SetDisplayFileFlag(true);
    FTPCLI.OnDisplayFile = [this](TCustomFtpCli *sender, std::string &line) { FTPFileList(sender, line); };
    // A line too long to keep is never shown cut: a cut line would name a file that is not there.
    FTPCLI.OnListingLineDropped = [this](TCustomFtpCli *, qint64 length) {
        Log(0, "Listing line of " + std::to_string(length) + " bytes skipped: longer than " +
                   std::to_string(FtpListingLineMax) + " bytes");
    };
    ListingNotice.start();
    const bool ok = FTPCLI.Dir();
    ListingNotice.stop();
    FTPCLI.SetDisplayFileFlag(false);
    if (UnshownFiles > 0)
        Log(0, "Listing cut: " + std::to_string(UnshownFiles) + " more file(s) not shown; the list keeps " +
                   std::to_string(MaxListedFiles));
    // CWD to any well-formed subvolume succeeds; one without files lists as 550, or as the
    // heading alone.
    if ((!ok && ListingRefusedAsEmpty(FTPCLI, ListedLines)) || (ok && ListedLines <= 1)) {
        views_.Status->SetFileCount("0 File(s)");
        Log(1, "No files in " + FTPCLI.ReplyDirectory());
        return true;
    }
    return ok;
}

void TSessionController::FTPFileList(TCustomFtpCli *, std::string &line)
{
    // An empty line (a listing that begins with a line end) is no line of the listing: it is
    // neither shown nor taken as the heading.
    if (line.empty())
        return;
    views_.Status->SetFileCount("");
    if (++ListedLines == 1)
        return; // the heading
    const int index = views_.Remote->SelectedFilterIndex();
    if (TandemFilters.Shows(index < 0 ? TandemFilters.Entries().size() : std::size_t(index), line)) {
        if (ShownFiles < MaxListedFiles) {
            views_.Remote->AddFile(line);
            ++ShownFiles;
        } else {
            ++UnshownFiles;
        }
    }
    views_.Status->SetFileCount(std::to_string(ShownFiles) + " File(s)");
}

bool TSessionController::SetTandemFilter(const std::string &definition)
{
    if (!TandemFilters.SetTandemFilter(definition))
        return false;
    std::vector<TRemoteView::FilterItem> items;
    for (std::size_t index : TandemFilters.DisplayOrder())
        items.push_back({TandemFilters.Entries()[index].Label, int(index)});
    views_.Remote->SetFilterItems(items);
    return true;
}

void TSessionController::ComboBoxTanSubvolDropDown()
{
    SubvolDroppedDown = true;
}

void TSessionController::ComboBoxTanSubvolChange()
{
    if (SubvolDroppedDown) {
        ChangeSubvol(views_.Remote->SubvolText(), false);
        SubvolDroppedDown = false;
        SubvolEdited = false;
    } else {
        SubvolEdited = true;
    }
}

void TSessionController::ComboBoxTanSubvolExit()
{
    if (!SubvolEdited)
        return;
    ChangeSubvol(views_.Remote->SubvolText(), false);
    SubvolEdited = false;
}

bool TSessionController::ComboBoxTanSubvolKeyPress(char key)
{
    if (key != '\r') {
        SubvolEdited = true;
        return false;
    }
    if (!SubvolEdited)
        return false;
    ChangeSubvol(views_.Remote->SubvolText(), false);
    SubvolEdited = false;
    return true;
}

void TSessionController::ComboBoxTanFilterChange()
{
    ListTandemFiles();
}

void TSessionController::BtnRefreshTandemClick()
{
    ListTandemFiles();
}
