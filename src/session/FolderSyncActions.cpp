// The run of a synchronization: one action after another on the comparison's connection.
#include "session/FolderSync.h"

#include "session/CompareSides.h"
#include "session/DownloadTarget.h"
#include "session/LogSink.h"
#include "session/MarkerFiles.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

// The host name of an upload target: its ",code[,extents]" left out.
std::string BareHostName(const std::string &target)
{
    return target.substr(0, target.find(','));
}

} // namespace

void TFolderSync::Run(std::vector<SyncAction> actions)
{
    actions_.clear();
    for (SyncAction &action : actions)
        if (action.Ticked)
            actions_.push_back(std::move(action));
    index_ = -1;
    result_ = SyncResult{};
    lastMode_.reset();
    cancelled_ = false;
    Later([this] { Next(); });
}

void TFolderSync::Next()
{
    ++index_;
    if (result_.Stopped || index_ >= int(actions_.size()))
        return Finish();
    Q_EMIT ActionStarted(index_);
    const SyncAction &action = Running();
    switch (action.Verb) {
    case SyncVerb::DeletePc:
        return DeletePc();
    case SyncVerb::DeleteHost:
        client_.SetHostFileName(action.HostName);
        return Start(&TCustomFtpCli::DeleAsync, &TFolderSync::HostDeleted);
    case SyncVerb::Upload:
    case SyncVerb::Download:
        return SwitchMode(action.Mode);
    }
}

void TFolderSync::SwitchMode(TransferMode mode)
{
    if (lastMode_ == mode)
        return Transfer();
    lastMode_ = mode;
    client_.SetBinary(mode == TransferMode::Binary);
    Start(&TCustomFtpCli::TypeSetAsync, &TFolderSync::TypeSet);
}

void TFolderSync::TypeSet(bool ok)
{
    if (ok)
        return Transfer();
    lastMode_.reset();
    result_.Stopped = true;
    End(client_.ErrorMessage());
}

void TFolderSync::Transfer()
{
    const SyncAction &action = Running();
    if (action.Verb == SyncVerb::Upload) {
        if (IsUnsafeHostName(action.HostName))
            return End(action.PcName + " not uploaded: the name holds a line break or NUL");
        client_.SetLocalFileName(action.PcName);
        client_.SetHostFileName(action.HostName);
        return Start(&TCustomFtpCli::PutAsync, &TFolderSync::Uploaded);
    }
    if (IsUnsafePcName(action.PcName))
        return End(action.HostName + " not downloaded: \"" + action.PcName + "\" is not a plain PC file name");
    target_ = std::make_unique<TDownloadTarget>(action.PcName);
    std::string error;
    // A part left by an earlier batch is not resumed here: the file is fetched whole.
    if (!target_->Open(error) || (target_->Size() > 0 && !target_->StartOver(error)))
        return End(error);
    client_.SetHostFileName(action.HostName);
    client_.SetLocalFileName(target_->PartialName());
    client_.SetLocalFileHandle(target_->Handle());
    Start(&TCustomFtpCli::GetAsync, &TFolderSync::Downloaded);
}

void TFolderSync::Downloaded(bool ok)
{
    client_.SetLocalFileHandle(-1);
    const std::unique_ptr<TDownloadTarget> target = std::move(target_);
    const SyncAction &action = Running();
    if (!ok)
        return End(client_.ErrorMessage());
    if (action.Mode == TransferMode::Binary && target->Size() < action.Size)
        return End(action.HostName + " not downloaded: " + std::to_string(target->Size()) +
                   " bytes arrived, the listing says " + std::to_string(action.Size));
    std::string error;
    if (!target->Commit(error))
        return End(error);
    // The host's time on the PC file: the next comparison finds the two the same.
    for (const HostFile &file : hostFiles_)
        if (file.Name == action.HostName && file.Modified && !SetPcFileTime(action.PcName, *file.Modified, error))
            return End(error);
    codes_[GuardianKey(action.HostName)] = action.Code;
    ++result_.Downloaded;
    End({});
}

void TFolderSync::Uploaded(bool ok)
{
    if (!ok)
        return End(client_.ErrorMessage());
    // The host gives the file its own time; read it back so both sides carry the same.
    listing_.clear();
    heading_ = true;
    client_.SetHostFileName(BareHostName(Running().HostName));
    client_.SetDisplayFileFlag(true);
    Start(&TCustomFtpCli::DirAsync, &TFolderSync::Relisted);
}

void TFolderSync::Relisted(bool ok)
{
    client_.SetDisplayFileFlag(false);
    const SyncAction &action = Running();
    const std::string key = GuardianKey(BareHostName(action.HostName));
    ++result_.Uploaded;
    for (const std::string &line : listing_) {
        const HostFile file = HostFileFromLine(line, clock_);
        if (GuardianKey(file.Name) != key || !file.Modified)
            continue;
        codes_[key] = file.Code;
        std::string error;
        if (!SetPcFileTime(action.PcName, *file.Modified, error))
            log_.Log(0, error);
        return End({});
    }
    log_.Log(0, "The host did not list " + action.HostName + " after its upload" +
                    (ok ? std::string() : ": " + client_.ErrorMessage()));
    End({});
}

void TFolderSync::HostDeleted(bool ok)
{
    if (!ok)
        return End(client_.ErrorMessage());
    ++result_.Deleted;
    End({});
}

void TFolderSync::DeletePc()
{
    const std::string name = Running().PcName;
    const bool removed = std::remove(name.c_str()) == 0;
    const std::string error = removed ? std::string() : "Unable to delete '" + name + "': " + std::strerror(errno);
    if (removed)
        ++result_.Deleted;
    Later([this, error] { End(error); });
}

void TFolderSync::End(const std::string &error)
{
    if (!error.empty()) {
        ++result_.Failed;
        log_.Log(0, error);
        if (cancelled_ || !client_.GetConnected())
            result_.Stopped = true;
    }
    Q_EMIT ActionEnded(index_, error);
    Next();
}

void TFolderSync::Finish()
{
    std::string error;
    if (!SaveFileCodes(".", codes_, error))
        log_.Log(0, error);
    const bool failed = result_.Failed > 0 || result_.Stopped;
    log_.Log(1, SyncSummaryText(result_));
    if (!failed && result_.Downloaded > 0)
        TouchHwm(-1, setup_.General, log_);
    if (!failed && result_.Uploaded > 0)
        TouchHwm(1, setup_.General, log_);
    Q_EMIT Finished();
}
