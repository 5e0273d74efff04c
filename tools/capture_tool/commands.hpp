#pragma once
// The commands of capture-tool: each runs one capture utility on its arguments, prints what the
// utility prints plus the tool's own result line, and returns the tool's exit code.

#include <cstdint>

namespace capture_tool {

constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

// Reads the configuration file at path with its echo and error lines. Returns kExitSuccess when
// every parameter read was taken, else kExitFailure.
int check_config(const char* path);

// Lists the capture header at the start of the file at path. Returns kExitSuccess when the
// header is valid, else kExitFailure (with a line on standard error when the file opened but holds
// no valid header).
int list_header(const char* path);

// Reads the configuration file config_path (its echo lines are printed), then writes a version-3
// capture header with the given sensor model byte into out_path, which must not exist yet: a
// capture file is never overwritten. Nothing is written when the configuration has errors; a
// header that cannot be written whole is removed again. Returns kExitSuccess or kExitFailure.
int write_header(const char* config_path, const char* out_path, uint8_t sensor_model);

// Prints the file version of path (of the tool itself when null) and a line feed. Returns
// kExitFailure, printing nothing, when there is no version information.
int print_version(const char* path);

// The process tunings, by the word that names each on the command line.
enum class Tuning { kAboveNormal, kFirstCpu, kNormal };

// Applies one tuning to this process and prints one line saying what was set. Returns
// kExitFailure when the operation fails (it prints its own error message).
int tune(Tuning tuning);

// Prints the name and the extension (an empty line when there is none) that split_file_name
// gives for a copy of path, one per line. Returns kExitSuccess.
int split_path(const char* path);

}  // namespace capture_tool
