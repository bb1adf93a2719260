#pragma once
#include "session/ConnectionSettings.h"
#include <cstdint>
#include <functional>
#include <string>
#include <span>
#include <string_view>
#include <vector>

// The start-up command line: keywords (case-insensitive, any unique prefix) with or without
// a value, separated by runs of blanks and commas. Values given here are for this run only.

// The keywords in lookup order, as spelled in messages.
std::span<const std::string_view> CommandLineKeywords();

// The tokens: maximal runs of characters other than blank and comma. No quoting; a tab is
// an ordinary character.
std::vector<std::string> SplitCommandLine(std::string_view commandLine);

// A decimal port text as the command line reads it: leading white space skipped, an
// optional sign, digits up to the first non-digit; no digits gives 0. Values beyond the
// 32-bit range are held at its nearer end.
std::int32_t CommandLinePort(std::string_view text);

// Fills the connection settings from the saved site of that name; false when there is none.
using SiteLoader = std::function<bool(const std::string &name, ConnectionSettings &connection)>;

// Applies the options in order to the settings. On the first error stops and returns its
// message ("Invalid parameter: <token>", "Invalid value for <Keyword>" or "Unknown site:
// <name>"); the options before it stay applied. `Site` replaces every connection value with
// the site's through `loadSite` (none: every site is unknown), so the options after it
// still override them. Returns the empty text when the whole line was understood.
std::string ApplyCommandLine(std::string_view commandLine, ConnectionSettings &connection,
                             GeneralSettings &general, const SiteLoader &loadSite = {});

// Whether the command line names a password; ZARVEL_PASSWORD stands in when it does not.
bool CommandLineGivesPassword(std::string_view commandLine);
