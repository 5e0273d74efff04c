#pragma once
// The faults of the line itself, alike in every simulated device: silences and hang-ups that
// start once a given number of items (packets, sentences) has gone out.

#include <cstdint>
#include <vector>

#include "option_values.hpp"
#include "transmitter.hpp"

namespace sim_common {

// Times are nanoseconds of the monotonic clock.
struct LineFaults {
    std::vector<FaultEvent> silences;  // amount: milliseconds of silence
    std::vector<FaultEvent> hangups;   // amount: milliseconds until the line is back; 0: never
    std::vector<bool> silence_done;
    std::vector<bool> hangup_done;
    int64_t silent_until_ns = 0;  // 0 = not silent
    const char* items = "items";  // what the counts count, for status lines
};

// The faults to come, none started. items names what the counts count ("sentences") and must
// live as long as faults.
void init_line_faults(LineFaults* faults, const std::vector<FaultEvent>& silences,
                      const std::vector<FaultEvent>& hangups, const char* items);

inline bool silent(const LineFaults& faults) {
    return faults.silent_until_ns != 0;
}

// True when a silence or a hang-up has reached its count and waits for the line to go idle: the
// device queues no more items until it has started.
bool fault_due(const LineFaults& faults, uint64_t items_sent);

// Starts a silence whose turn has come (its count reached, the line idle), with its status line.
// Returns the milliseconds of a hang-up whose turn has come (0 = for good; the line idle for
// 100 ms, so the logger has read the items before it), or -1 for none.
int64_t start_due_faults(LineFaults* faults, uint64_t items_sent, const Transmitter& tx,
                         int64_t now);

// While silent: ends the silence when its time is over, with its status line, and returns true
// then; false while it holds.
bool end_silence_if_over(LineFaults* faults, int64_t now);

// The earliest time at which the device has something to do: the transmitter's next write while
// bytes wait, the end of a silence, the start of a due fault (on an open line only), else
// next_item_ns (INT64_MAX: nothing due).
int64_t device_deadline(const LineFaults& faults, uint64_t items_sent, const Transmitter& tx,
                        int64_t now, bool line_open, int64_t next_item_ns);

}  // namespace sim_common
