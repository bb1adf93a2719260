#pragma once
#include <string>

// The one-line question of the file operations, answered by the prompt dialog in the
// program and by a script in the tests. Texts are bytes, as the file names are.
class TUserPrompt {
public:
    virtual ~TUserPrompt() = default;
    // Asks `prompt` under `caption`. With `value`, an input field shows it and OK stores
    // the typed text back; without one only OK and Cancel are offered. True on OK; Cancel
    // and closing the dialog leave `value` alone and give false.
    virtual bool PromptUser(const std::string &caption, const std::string &prompt,
                            std::string *value) = 0;
};

// A yes-or-no question before a step that cannot be taken back; No is the default answer, so
// Enter or a slip of the hand keeps everything as it is.
class TConfirmation {
public:
    virtual ~TConfirmation() = default;
    // True only when the user answered Yes.
    virtual bool AskYesNo(const std::string &caption, const std::string &text) = 0;
};
