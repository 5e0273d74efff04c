#pragma once
// The console's live display line: the gyro recording's line of values, rewritten in place
// ("\r") every tenth packet, which any message of either device must first end.

namespace driver {

// The live line was drawn and the cursor stays on it (the line ends in "\r" only).
void display_line_drawn();

// Something printed ended the line itself (check_packet's complaints end their lines).
void display_line_ended();

// Moves off the live line, when it is on screen, so that a message gets a line of its own.
void end_display_line();

}  // namespace driver
