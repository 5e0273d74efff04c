// ahrs-sim: plays the AHRS unit on a pseudo-terminal (or a serial device) for the logger.
// One thread: everything waits in one ppoll until the next byte, packet or command is due.

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <string>

#include "options.hpp"
#include "sent_log.hpp"
#include "sim_common/serve.hpp"
#include "sim_common/status.hpp"
#include "unit.hpp"

namespace {

using namespace ahrs_sim;
using sim_common::status;

// More than the 2 ms pacing slice holds at the highest rate (200 packets), so a wake-up keeps up;
// a catch-up after a stall spreads over a few.
constexpr int kPacketsPerWake = 256;
constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

// Appends received bytes to the log as they come; the log is opened for appending, so each
// write lands whole at its end.
void log_bytes(int log_fd, const uint8_t* bytes, size_t count) {
    while (log_fd >= 0 && count > 0) {
        const ssize_t written = write(log_fd, bytes, count);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return;
        }
        bytes += written;
        count -= static_cast<size_t>(written);
    }
}

// The unit on its line: commands in, streamed packets out and into the sent log.
class UnitOnLine final : public sim_common::LineDevice {
public:
    UnitOnLine(Unit* unit, sim_common::LogFile* sent_log, int log_fd)
        : unit_(unit), sent_log_(sent_log), log_fd_(log_fd) {}

    sim_common::Transmitter& transmitter() override { return unit_->tx; }
    sim_common::LineFaults& line_faults() override { return unit_->faults; }
    uint64_t items_sent() const override { return unit_->streamed_sent; }

    void receive(const uint8_t* bytes, size_t count, int64_t now) override {
        log_bytes(log_fd_, bytes, count);
        for (size_t i = 0; i < count; ++i) {
            receive_command(unit_, bytes[i], now);
        }
    }

    void produce(int64_t now, bool heard) override {
        SentPacket sent;
        for (int turn = 0; turn < kPacketsPerWake && ahrs_sim::produce(unit_, now, &sent); ++turn) {
            log_sent(sent_log_, sent, heard);
            if (!heard) {
                sim_common::discard_output(&unit_->tx);
            }
        }
    }

    int64_t next_item_ns() const override { return next_packet_due(*unit_); }

private:
    Unit* unit_;
    sim_common::LogFile* sent_log_;
    int log_fd_;
};

}  // namespace

int main(int argc, char** argv) {
    SimOptions options;
    std::string error;
    if (!parse_options(argc, argv, &options, &error)) {
        std::fprintf(stderr, "ahrs-sim: %s; see ahrs-sim --help\n", error.c_str());
        return kExitUsage;
    }
    if (options.common.help) {
        std::fputs(help_text(), stdout);
        return kExitOk;
    }
    sim_common::set_status("ahrs-sim", options.common.quiet);
    sim_common::install_stop_signals();

    int log_fd = -1;
    if (!options.log_path.empty()) {
        log_fd = open(options.log_path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        if (log_fd < 0) {
            std::perror(("ahrs-sim: cannot open " + options.log_path).c_str());
            return kExitFailure;
        }
    }
    sim_common::Run run;
    if (!begin_run(options.common, options.xon_xoff, &run, &error)) {
        std::fprintf(stderr, "ahrs-sim: %s\n", error.c_str());
        return kExitFailure;
    }
    status("unit on %s, mode %c, %s, %g packets/s, %u baud", run.line.device_path.c_str(),
           options.mode, options.streaming ? "streaming" : "silent", options.rate_hz,
           options.common.baud);

    Unit unit;
    init_unit(&unit, &options, run.start_ns);
    UnitOnLine device(&unit, &run.sent_log, log_fd);
    serve_run(&run, &device);
    return kExitOk;
}
