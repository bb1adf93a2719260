#pragma once
// The question before a delete, and where a PC delete goes: to the desktop's trash when the
// folder's file system has one (freedesktop trash), else away for good, which the question
// then says.
#include <string>
#include <vector>

// "Delete 3 files on $DATA01.ZDEMO: PROGC, PROGH, BUILDIT?": the count, the place and the
// first names (at most three, then how many more). `where` is "on" or "in".
std::string DeleteQuestionText(const std::vector<std::string> &names, const std::string &where,
                               const std::string &place);

// What the PC question adds: the files go to the trash, or the delete is final.
std::string PcDeleteNote(bool toTrash);

// Whether a file in `folder` can be moved to a trash: the user's own trash (under
// $XDG_DATA_HOME) on the same file system, or a trash at the top of the folder's file system
// that is there or can be made.
bool TrashAvailableFor(const std::string &folder);

// Moves the PC file to the trash when `toTrash`, else removes it; false when it stays (a
// folder always does).
bool DeletePcFile(const std::string &name, bool toTrash);
