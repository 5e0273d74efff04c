// The console's live display line. The console is one per process, and so is whether its cursor
// sits on the live line.

#include "driver/display_line.hpp"

#include <cstdio>

namespace driver {
namespace {

bool line_open = false;

}  // namespace

void display_line_drawn() {
    line_open = true;
}

void display_line_ended() {
    line_open = false;
}

void end_display_line() {
    if (line_open) {
        std::fputc('\n', stdout);
        line_open = false;
    }
}

}  // namespace driver
