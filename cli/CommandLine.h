#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace skm::cli {

// The arguments after the program name, in UTF-8. On Windows they come from the wide command
// line, since the narrow argv holds only what the process code page can spell, and a console
// on standard output or standard error is switched to UTF-8 until the program ends.
std::vector<std::string> programArguments(int argc, char** argv);

// Puts the console back as programArguments found it; at normal exit this runs after the output
// buffers are flushed. For ways out that skip the exit handlers; it does not flush, so it is
// safe while another thread may be writing.
void restoreConsole();

// Windows shells hand wildcards to the program. Every argument holding * or ? is replaced by
// the paths it matches, in name order; one that matches nothing stays as it is, so that it is
// reported like any other missing file. On POSIX systems the shell has done this already and
// the arguments come back unchanged.
std::vector<std::string> expandWildcards(const std::vector<std::string>& args);

// The expansion itself, whatever the platform, for the tests. Wildcards may stand in any
// component of the path; they match long names only (never a short 8.3 alias), letter case
// ignored when ignoreCase is set.
std::vector<std::string> expandWildcardsIn(const std::vector<std::string>& args, bool ignoreCase);

// A key under which two names are equal when a case-insensitive file system takes them for one:
// on Windows every character in the system's upper case (Cyrillic and Greek included), elsewhere
// the ASCII letters in lower case.
std::string nameCaseKey(std::string_view name);

// Whether name matches pattern: * stands for any run of characters, ? for one character.
bool matchesWildcard(std::string_view pattern, std::string_view name, bool ignoreCase);

}  // namespace skm::cli
