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
