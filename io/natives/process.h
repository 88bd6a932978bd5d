// The natives that start other programs (call, browse) and the process's own command line as text.
#pragma once
#include <string>
#include <vector>

namespace zol::io {

// The arguments of a command text, split at blanks (space, tab) outside double quotes; the quotes group
// and are dropped ("a b"c gives one argument, a bc). Empty when the text holds only blanks.
std::vector<std::string> split_command(const std::string& text);

// Whether the text needs the shell: it holds a character that the shell reads as more than a letter of an
// argument (a pipe, a redirection, a variable, a pattern, a quote or escape of its own, a new line).
bool needs_shell(const std::string& text);

// Captured output as text: CR LF and a lone CR become LF.
std::string normalize_line_ends(const std::string& bytes);

// The command line rebuilt from the arguments, program name first: elements joined by a space, those that
// hold a blank (or are empty) enclosed in double quotes.
std::string command_line_text(const std::vector<std::string>& args);

}  // namespace zol::io
