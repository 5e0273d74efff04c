// The faults of the line itself.

#include "line_faults.hpp"

#include <climits>

#include "clock.hpp"
#include "status.hpp"

namespace sim_common {
namespace {

// A hang-up comes this long after the last byte went on the line. Closing the pty discards what
// the logger has not read yet, and a logger reads what has arrived within a few milliseconds: so
// the K items before a hang-up reach it.
constexpr int64_t kHangupSettleNs = 100 * kNsPerMs;

// The first fault of the list whose count is reached and that has not happened, or -1.
int due_event(const std::vector<FaultEvent>& events, const std::vector<bool>& done,
              uint64_t items_sent) {
    for (size_t i = 0; i < events.size(); ++i) {
        if (!done[i] && items_sent >= events[i].after_count) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

int due_hangup(const LineFaults& faults, uint64_t items_sent) {
    return due_event(faults.hangups, faults.hangup_done, items_sent);
}

int due_silence(const LineFaults& faults, uint64_t items_sent) {
    return due_event(faults.silences, faults.silence_done, items_sent);
}

// When the fault that is due may start: a silence once the line is idle, a hang-up a settling
// time later.
int64_t fault_start_ns(const LineFaults& faults, uint64_t items_sent, const Transmitter& tx) {
    return tx.line_free_ns + (due_hangup(faults, items_sent) >= 0 ? kHangupSettleNs : 0);
}

}  // namespace

void init_line_faults(LineFaults* faults, const std::vector<FaultEvent>& silences,
                      const std::vector<FaultEvent>& hangups, const char* items) {
    *faults = LineFaults{};
    faults->silences = silences;
    faults->hangups = hangups;
    faults->silence_done.assign(silences.size(), false);
    faults->hangup_done.assign(hangups.size(), false);
    faults->items = items;
}

bool fault_due(const LineFaults& faults, uint64_t items_sent) {
    return due_hangup(faults, items_sent) >= 0 || due_silence(faults, items_sent) >= 0;
}

int64_t start_due_faults(LineFaults* faults, uint64_t items_sent, const Transmitter& tx,
                         int64_t now) {
    if (silent(*faults) || output_pending(tx) || now < fault_start_ns(*faults, items_sent, tx)) {
        return -1;
    }
    const int hangup = due_hangup(*faults, items_sent);
    if (hangup >= 0) {
        faults->hangup_done[static_cast<size_t>(hangup)] = true;
        return static_cast<int64_t>(faults->hangups[static_cast<size_t>(hangup)].amount);
    }
    const int silence = due_silence(*faults, items_sent);
    if (silence >= 0) {
        faults->silence_done[static_cast<size_t>(silence)] = true;
        const int64_t length_ms =
            static_cast<int64_t>(faults->silences[static_cast<size_t>(silence)].amount);
        faults->silent_until_ns = now + length_ms * kNsPerMs;
        status("silent for %lld ms after %llu %s", static_cast<long long>(length_ms),
               static_cast<unsigned long long>(items_sent), faults->items);
    }
    return -1;
}

bool end_silence_if_over(LineFaults* faults, int64_t now) {
    if (now < faults->silent_until_ns) {
        return false;
    }
    faults->silent_until_ns = 0;
    status("silence over");
    return true;
}

int64_t device_deadline(const LineFaults& faults, uint64_t items_sent, const Transmitter& tx,
                        int64_t now, bool line_open, int64_t next_item_ns) {
    if (output_pending(tx)) {
        return transmit_deadline(tx, now);
    }
    if (silent(faults)) {
        return faults.silent_until_ns;
    }
    if (fault_due(faults, items_sent)) {
        return line_open ? fault_start_ns(faults, items_sent, tx) : INT64_MAX;
    }
    return next_item_ns;
}

}  // namespace sim_common
