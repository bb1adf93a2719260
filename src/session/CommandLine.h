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

// The tokens: maximal runs of characters other than blank and comma, where a token that
// starts with a double quote runs to the next lone double quote and holds blanks and commas
// ("Tandem TLS"); two double quotes in it stand for one, and without a closing quote it runs
// to the end. Elsewhere a double quote is an ordinary character, as a tab is.
std::vector<std::string> SplitCommandLine(std::string_view commandLine);

// The arguments the shell gave as one command line: an argument that is empty, holds a
// blank (the shell kept it whole on purpose) or starts with a double quote is quoted and
// stays one word; commas still separate words, as in "hostname tandem1,userid dev.mgr".
std::string JoinArguments(const std::vector<std::string> &arguments);

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
