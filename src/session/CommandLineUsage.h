#pragma once
#include <string>
#include <string_view>

// What the command line asks for before any keyword is read: "--help" (or "-h") and
// "--version" count only as its first word, where no keyword or value can stand, so a
// value such as a password "--help" keeps its meaning.
enum class CommandLineRequest {
    Run,     // start the program and apply the keywords
    Help,    // print the usage and end
    Version, // print the version and end
    Folder,  // --compare or --sync: compare or synchronize the current folder, no window
};

// The request the command line text makes (its first word decides; "--compare" and "--sync"
// likewise count only there).
CommandLineRequest RequestOf(std::string_view commandLine);

// The usage text for --help: the synopsis, every keyword with its value and effect, the
// grammar, an example and the settings file (`settingsPath`). Ends with a newline.
std::string CommandLineUsage(std::string_view settingsPath);

// The text for --version: the program's name and `version`. Ends with a newline.
std::string VersionText(std::string_view version);
