#pragma once
// The poll every wait of a run calls: a function and its context, handed down by the run
// sequence, so the phases and the link start-up wait without knowing what the run looks after.

#include <cstdint>

namespace platform {

// How often every wait calls the poll, at the longest, in milliseconds: a stop or an interrupt
// is seen within this time.
constexpr uint32_t kPollIntervalMs = 100;

// Called about every 100 ms while anything waits (and once per laser line). The run's poll takes
// a key when take_key is set, notes an interrupt, writes out what is due and reads the receivers
// that are read on the side; it returns true when the current phase is to end. A default Poll
// (no function) never asks to end.
//
// hold_function, when set, is told when nothing may be written to disk (held true: from the
// scanner's motor start) and when writing may go on again (held false: the motor has stopped);
// what the poll reads in between is kept in memory.
struct Poll {
    bool (*function)(void* context, bool take_key) = nullptr;
    void* context = nullptr;
    void (*hold_function)(void* context, bool held) = nullptr;

    bool operator()(bool take_key = true) const {
        return function != nullptr && function(context, take_key);
    }

    void hold(bool held) const {
        if (hold_function != nullptr) {
            hold_function(context, held);
        }
    }
};

}  // namespace platform
