#pragma once
// The simulators' one thread: a device served on its line until a stop signal, the end of the
// run or of standard input; the line reopened after a hang-up, the logger's arrivals and
// departures followed, and one ppoll waiting until the next byte, item or command is due.

#include <climits>
#include <cstddef>
#include <cstdint>
#include <string>

#include "line.hpp"
#include "line_faults.hpp"
#include "log_file.hpp"
#include "option_values.hpp"
#include "transmitter.hpp"

namespace sim_common {

// Blocks SIGINT and SIGTERM except inside serve_run's wait, so a stop request never slips in
// between the test of the flag and the wait, and ignores SIGPIPE. Call it first in main.
void install_stop_signals();

// What the loop asks of the device it serves at every wake-up. Times are nanoseconds of the
// monotonic clock.
class LineDevice {
public:
    virtual ~LineDevice() = default;

    virtual Transmitter& transmitter() = 0;
    virtual LineFaults& line_faults() = 0;
    // The items (packets, sentences) begun so far, as the line faults count them.
    virtual uint64_t items_sent() const = 0;

    // Acts on bytes the logger sent.
    virtual void receive(const uint8_t* bytes, size_t count, int64_t now) = 0;
    // Queues every item whose time on the line has begun, logging each. heard is false when
    // nobody holds the line open: the items then go nowhere, as on an unplugged cable.
    virtual void produce(int64_t now, bool heard) = 0;
    // When the next item is due on the line; INT64_MAX when none is.
    virtual int64_t next_item_ns() const = 0;
};

// A simulator's run: its start, its end, its sent log and its line. Not to be moved once begun:
// the device holds on to its sent log.
struct Run {
    int64_t start_ns = 0;        // time 0 of the sent log
    int64_t end_ns = INT64_MAX;  // the run ends then
    bool stdin_eof = false;      // the run ends when standard input reaches its end
    LineSettings line_settings;  // how the line is opened, again after a hang-up
    LogFile sent_log;            // no file when none was asked for
    Line line;
};

// Begins the run of a simulator with these values: the clock, the sent log when one is asked
// for, and the line (xon_xoff: see LineSettings), opened and its path printed. Returns false
// with the reason in *error; the simulator then ends with exit code 1.
bool begin_run(const CommonValues& values, bool xon_xoff, Run* run, std::string* error);

// Serves device on the run's line until a stop signal, the run's end or the end of standard
// input, flushing the sent log at every wake-up. Then removes the link and closes the line and
// the sent log.
void serve_run(Run* run, LineDevice* device);

}  // namespace sim_common
