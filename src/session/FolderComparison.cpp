#include "session/FolderComparison.h"

#include "session/DecimalReading.h"
#include "session/TandemFilter.h"

#include <cstdlib>
#include <unordered_set>

namespace {

// Codes the host gives a new file by the representation it arrived in.
constexpr std::int32_t kEditFileCode = 101;
constexpr std::int32_t kUnstructuredCode = 0;

// A PC file seen from the host: where an upload would put it and as what.
struct UploadView {
    std::string Key;        // the host name in upper case, no suffix
    std::string HostName;   // the host name as an upload sends it, no suffix
    std::optional<std::int32_t> NamedCode; // the ",code" the PC name carries
};

UploadView ViewForUpload(const std::string &pcName, const TransferOptions &options)
{
    const std::string target = HostNameForUpload(pcName, options);
    const std::size_t comma = target.find(',');
    UploadView view;
    view.HostName = target.substr(0, comma);
    view.Key = GuardianKey(view.HostName);
    if (comma != std::string::npos)
        view.NamedCode = SaturateToInt32(AtolAt(target, comma + 1));
    return view;
}

std::optional<std::int32_t> Remembered(const CompareRules &rules, const std::string &key)
{
    if (!rules.KnownCodes)
        return std::nullopt;
    const auto found = rules.KnownCodes->find(key);
    return found == rules.KnownCodes->end() ? std::nullopt : std::optional(found->second);
}

// The state of a pair: newer by time; a binary size that differs at the same time is
// its own state, as no side wins it.
CompareState PairState(const PcFile &pc, const HostFile &host, TransferMode mode)
{
    const bool sizesDiffer = mode == TransferMode::Binary && pc.Size != host.Size;
    const std::int64_t hostTime = host.Modified.value_or(pc.Modified);
    if (std::llabs(pc.Modified - hostTime) < kSameTimeSlack)
        return sizesDiffer ? CompareState::SizeDiffers : CompareState::Same;
    return pc.Modified > hostTime ? CompareState::NewerPc : CompareState::NewerHost;
}

class Comparison {
public:
    Comparison(const std::vector<PcFile> &pc, const std::vector<HostFile> &host, const CompareRules &rules)
        : pc_(pc), host_(host), rules_(rules), pcPaired_(pc.size(), false)
    {
    }

    std::vector<ComparedFile> Run()
    {
        std::vector<ComparedFile> rows(host_.size());
        for (std::size_t i = 0; i < host_.size(); ++i)
            rows[i] = HostRow(i);
        PairByUploadName(rows);
        for (std::size_t i = 0; i < pc_.size(); ++i)
            if (!pcPaired_[i])
                rows.push_back(PcOnlyRow(i));
        std::erase_if(rows, [this](const ComparedFile &row) { return !Shown(row); });
        return rows;
    }

private:
    // A host file, paired when the PC holds the name its download would give.
    ComparedFile HostRow(std::size_t index)
    {
        if (pcByName_.empty())
            for (std::size_t i = 0; i < pc_.size(); ++i)
                pcByName_.emplace(pc_[i].Name, i);
        const HostFile &host = host_[index];
        ComparedFile row;
        row.Host = index;
        row.Code = host.Code;
        row.Mode = DownloadModeFor(host.Code, rules_.Options);
        row.HostName = host.Name;
        row.PcName = PcNameForDownload(host.Name, host.Code, row.Mode, rules_.Options);
        row.State = CompareState::OnlyHost;
        claimed_.insert(GuardianKey(host.Name));
        if (const auto found = pcByName_.find(row.PcName); found != pcByName_.end() && !pcPaired_[found->second])
            Pair(row, found->second);
        return row;
    }

    // PC files left over find the host file their upload would replace, if it is still free.
    void PairByUploadName(std::vector<ComparedFile> &rows)
    {
        std::unordered_map<std::string, std::size_t> freeHost;
        for (std::size_t i = 0; i < rows.size(); ++i)
            if (!rows[i].Pc)
                freeHost.emplace(GuardianKey(rows[i].HostName), i);
        for (std::size_t i = 0; i < pc_.size(); ++i) {
            if (pcPaired_[i])
                continue;
            const auto found = freeHost.find(ViewForUpload(pc_[i].Name, rules_.Options).Key);
            if (found == freeHost.end())
                continue;
            ComparedFile &row = rows[found->second];
            row.PcName = pc_[i].Name;
            Pair(row, i);
            freeHost.erase(found);
        }
    }

    void Pair(ComparedFile &row, std::size_t pcIndex)
    {
        pcPaired_[pcIndex] = true;
        row.Pc = pcIndex;
        const PcFile &pc = pc_[pcIndex];
        const UploadView up = ViewForUpload(pc.Name, rules_.Options);
        row.UploadName = up.NamedCode ? HostNameForUpload(pc.Name, rules_.Options)
                                      : up.HostName + ',' + std::to_string(row.Code);
        row.State = PairState(pc, host_[*row.Host], row.Mode);
    }

    // A PC file without a partner: the code comes from its name, else from what the host
    // once showed for that name, else from the representation it would travel in.
    ComparedFile PcOnlyRow(std::size_t index)
    {
        const PcFile &pc = pc_[index];
        const UploadView up = ViewForUpload(pc.Name, rules_.Options);
        ComparedFile row;
        row.Pc = index;
        row.State = CompareState::OnlyPc;
        row.PcName = pc.Name;
        row.HostName = up.HostName;
        const std::optional<std::int32_t> known = up.NamedCode ? up.NamedCode : Remembered(rules_, up.Key);
        row.Mode = known ? DownloadModeFor(*known, rules_.Options) : UploadModeFor(pc.Name, rules_.Options);
        row.Code = known.value_or(row.Mode == TransferMode::Ascii ? kEditFileCode : kUnstructuredCode);
        row.UploadName = up.NamedCode ? HostNameForUpload(pc.Name, rules_.Options)
                         : known      ? up.HostName + ',' + std::to_string(*known)
                                      : up.HostName;
        row.Clash = !claimed_.insert(up.Key).second;
        return row;
    }

    bool Shown(const ComparedFile &row) const
    {
        return (!rules_.PcFilter || rules_.PcFilter(row.PcName)) && FileCodeMatches(rules_.TandemCodes, row.Code);
    }

    const std::vector<PcFile> &pc_;
    const std::vector<HostFile> &host_;
    const CompareRules &rules_;
    std::vector<bool> pcPaired_;                            // per PC file: in a pair
    std::unordered_map<std::string, std::size_t> pcByName_; // PC file name -> index
    std::unordered_set<std::string> claimed_;               // host keys taken by a host file or an upload
};

} // namespace

const char *CompareStateText(CompareState state)
{
    switch (state) {
    case CompareState::OnlyPc: return "only on the PC";
    case CompareState::OnlyHost: return "only on the host";
    case CompareState::NewerPc: return "newer on the PC";
    case CompareState::NewerHost: return "newer on the host";
    case CompareState::Same: return "same";
    case CompareState::SizeDiffers: return "same time, different size";
    }
    return "";
}

std::string GuardianKey(std::string_view name)
{
    std::string key(name);
    for (char &c : key)
        if (c >= 'a' && c <= 'z')
            c = char(c - 'a' + 'A');
    return key;
}

std::vector<ComparedFile> CompareFolders(const std::vector<PcFile> &pcFiles, const std::vector<HostFile> &hostFiles,
                                         const CompareRules &rules)
{
    return Comparison(pcFiles, hostFiles, rules).Run();
}
