#pragma once
// A simulated device's end of the serial line: a pseudo-terminal master (or a given serial
// device), the optional symlink to it, and whether anyone holds the other end open.

#include <string>

namespace sim_common {

// What a line is opened as, the first time and again after every hang-up.
struct LineSettings {
    std::string device;     // an existing serial device to serve; empty: a new pseudo-terminal
    std::string link;       // symlink kept pointing at the line's device; empty: none
    unsigned baud = 0;      // recorded in the line's settings when termios knows the rate
    bool xon_xoff = false;  // leave software flow control on in both directions
};

struct Line {
    int fd = -1;              // the pty master or the device; -1 while hung up
    bool is_pty = false;      // false when serving a given device
    std::string device_path;  // what the logger opens: the pty slave, or the given device
    std::string link_path;    // symlink kept pointing at device_path; empty for none
};

// Opens a new pseudo-terminal (raw, the given baud rate recorded in its settings), or the
// device when one is given, and points the link at it. With xon_xoff the line's settings keep
// software flow control on in both directions (IXON and IXOFF), everything else raw. Returns
// true on success; otherwise false with the reason in *error.
bool open_line(Line* line, const LineSettings& settings, std::string* error);

// Closes the device's end: on a pty the logger's reads fail (hang-up). The link is left as it is.
void close_line(Line* line);

// The path to print for the logger: the link when there is one, else the device path.
const std::string& line_display_path(const Line& line);

// Prints that path as one line on standard output and flushes it.
void print_line_path(const Line& line);

// Returns true when the other end may be listening. A pty master whose slave nobody holds open
// reports a hang-up and reads fail until someone opens it; bytes written meanwhile would wait in
// the slave's input for the next opener, so the caller sends nothing then.
bool line_has_listener(const Line& line);

// Discards bytes a departed listener left unread in the pty slave's input, so the next opener
// starts with an empty input as on a real port. The slave is held open only for the call.
void discard_stale_input(const Line& line);

// Removes the link if it still points at this line's device.
void remove_link(const Line& line);

}  // namespace sim_common
