#pragma once
// Status lines on standard error, one per notable event; standard output carries only device
// paths.

namespace sim_common {

// Names the program that begins every status line ("ahrs-sim") and whether the lines are left
// out. program must live as long as the program runs.
void set_status(const char* program, bool quiet);

// Prints "<program>: " and the formatted text with a line feed on standard error, as one write,
// unless quiet. Longer lines than 255 bytes are cut.
__attribute__((format(printf, 1, 2))) void status(const char* format, ...);

}  // namespace sim_common
