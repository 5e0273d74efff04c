#pragma once
// Text helpers of the end-to-end tests: files read whole, console text with the Windows line ends
// turned back into "\n", counting and splitting.

#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

namespace testsupport {

// The file's bytes, empty when it cannot be read.
std::string read_file(const std::filesystem::path& path);

// Replaces the file's content with bytes; false when it cannot be written.
bool write_file(const std::filesystem::path& path, const std::string& bytes);

// raw with every "\r\n" turned into "\n"; a lone "\r" stays. msvcrt writes console text in text
// mode, so a Windows program's "\n" arrives as "\r\n".
std::string without_crlf(const std::string& raw);

// How often what occurs in text, counting overlapping occurrences.
size_t count_of(const std::string& text, const std::string& what);

// text cut at every separator; a trailing separator gives no empty last part.
std::vector<std::string> split(const std::string& text, char separator);

}  // namespace testsupport
