#pragma once
// What a batch does with a file whose name is taken on the other side: the WhenFileExists
// setting, the user's answer to the question (once per file, or for all remaining files of
// the batch), and the free name a Rename gives. Pure rules; the batch asks and acts.
#include <functional>
#include <optional>
#include <string>
#include <string_view>

// The WhenFileExists setting: ask, or overwrite or skip without asking.
enum class FileExistsRule { Ask, Overwrite, Skip };
// Its stored and typed words: "Ask", "Overwrite", "Skip".
std::string FileExistsRuleName(FileExistsRule rule);
// The word in any letter case, or a unique prefix of it; nothing for anything else.
std::optional<FileExistsRule> ParseFileExistsRule(std::string_view text);

// What to do with one file whose target exists.
enum class FileExistsAnswer {
    Overwrite, // replace it (a download starts over, even with a kept part)
    Resume,    // a download with a kept part goes on where the part ends
    Rename,    // save under the free name shown
    Skip,      // leave both alone; counted as skipped
};

// The question about one file, and the user's reply.
struct FileExistsQuestion {
    std::string Text;       // names the file and where it exists
    bool CanResume = false; // a kept part of a download: Resume is offered
    std::string FreeName;   // what Rename saves as; empty: Rename is not offered
};
struct FileExistsReply {
    FileExistsAnswer Answer = FileExistsAnswer::Skip;
    bool ForAll = false;    // "for all remaining files" of the batch
};

// One batch's choice: the setting, then an answer the user gave for all remaining files.
class TFileExistsChoice {
public:
    explicit TFileExistsChoice(FileExistsRule rule) : rule_(rule) {}
    // The answer for a file whose target exists, or nothing when the user must be asked.
    // Overwrite by setting keeps what earlier versions did: a kept part is resumed. An
    // answer for all that this file cannot take (Resume without a part, Rename without a
    // free name) asks again.
    std::optional<FileExistsAnswer> Decided(bool canResume, bool canRename) const;
    // Remembers a reply given "for all remaining files".
    void Remember(const FileExistsReply &reply);

private:
    FileExistsRule rule_;                        // the setting
    std::optional<FileExistsAnswer> forAll_;     // the answer given for all remaining files
};

// A free PC name beside `pcName`: digits before its extension or file-code suffix
// ("PROG.C" gives "PROG1.C", "MYOBJ,100" gives "MYOBJ1,100"). "" when none up to 9999 is free.
std::string FreePcName(std::string_view pcName, const std::function<bool(const std::string &)> &taken);
