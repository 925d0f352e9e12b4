#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace skm::cli {

// The length of the well-formed UTF-8 sequence at text[i] (1 for ASCII), or 0 when the byte
// there starts none: overlong forms, surrogates, values past U+10FFFF, cut sequences.
std::size_t utf8SequenceLength(std::string_view text, std::size_t i);

// File names on a terminal, shown as GNU tools show them there: as they are when they hold
// nothing a shell would read specially, otherwise in single quotes, with each control character
// or byte that is not UTF-8 written outside them in the $'...' form ('a'$'\n''b',
// ''$'\033''[1m'), a single quote as '\'' ("it's" when nothing else needs quoting). With always,
// a plain name is quoted too ('wave.skm'), for messages that set names apart by quotes.
std::string shellQuoted(std::string_view name, bool always = false);

// Text that holds names among its words (a reason, a message built elsewhere): only control
// characters and bytes that are not UTF-8 are escaped, C-style (\n, \033), so nothing reaches
// a terminal raw and the words read as before.
std::string controlsEscaped(std::string_view text);

// What a message writes to stream: on a terminal the forms above (on Windows only the escapes);
// elsewhere (a file, a pipe) the exact bytes, so logs and scripts get the names as they are.
// shownQuoted is 'name' there.
std::string shownName(std::FILE* stream, std::string_view name);
std::string shownQuoted(std::FILE* stream, std::string_view name);
std::string shownText(std::FILE* stream, std::string_view text);

}  // namespace skm::cli
