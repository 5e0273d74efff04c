#pragma once
// restart: the start-up exchange that brings the unit into streaming output and learns the
// packet length.

#include <cstdint>

#include "platform/poll.hpp"
#include "platform/win32.hpp"

namespace ahrs {

enum RestartResult {
    kRestartOk = 1,          // the unit streams; *packet_length holds a whole packet of the mode
    kRestartNoAnswer = 0,    // the unit did not fall silent, acknowledge or answer the probe
    kRestartStopped = -1,    // the stop poll asked to end
    kRestartPortFailed = -2  // a read or write on the port failed; GetLastError tells why
};

constexpr uint32_t kRestartWaitLimitMs = 5000;  // bound of each wait: silence, acknowledgement
constexpr int kProbeAttempts = 3;               // exchanges tried for a whole probe packet

// Stops the unit's output (repeated 'P' until silent), selects the mode (the letter until its
// upper-case acknowledgement), drains again, probes one packet ('G') and starts continuous output
// ('C'). *packet_length receives the probe's byte count; when the answer is short after the
// probe's 100 ms, the rest is awaited up to a second more (a unit on a busy machine may answer
// late). A probe that is not one whole packet of the mode repeats the exchange (without 'C'), up
// to kProbeAttempts times, and then counts as no answer (*packet_length is meaningful only with
// kRestartOk). Each wait for silence or for the acknowledgement gives up after
// kRestartWaitLimitMs. A mode letter other than 'a', 'c' and 'r' is no answer at once, and the
// port is not touched. Prints nothing itself but check_packet's complaints about a probe. The
// poll is called, taking keys, before each drain pass and about every 100 ms while the letter is
// repeated; when it asks to end, restart ends. A failed read or write ends the call at once, with
// GetLastError as the failing call left it.
RestartResult restart(HANDLE port, char mode, uint32_t* packet_length, const platform::Poll& poll);

}  // namespace ahrs
