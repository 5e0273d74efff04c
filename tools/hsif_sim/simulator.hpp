#pragma once
// The simulator's process-wide state: its controls, the call recorder (trace file, call counts,
// injected failures) and the one card with its scanner.

#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>

#include "calibration.hpp"
#include "config.hpp"
#include "scanner.hpp"

namespace hsif_sim {

using Clock = std::chrono::steady_clock;

// How the card counts one encoder.
struct Encoder {
    int32_t per_turn = 0;    // counts per turn as calibrated
    int32_t offset = 0;      // count of angle 0
    int64_t cleared_at = 0;  // the motor's pulse count when the counter was last cleared
};

struct Card {
    bool open = false;
    int32_t board = 0;
    int32_t handle = -1;

    // Set-up.
    int32_t mode = 0;
    int32_t max_range = 650;  // inches
    int32_t period = 20;      // µs between samples
    int32_t sample_div = 1;
    int32_t range_div = 1;
    int32_t cal_value = 0;
    bool poll_mode = false;
    bool calibrated = false;
    bool sampling_ready = false;  // HsifSamplingModeInit was called
    bool sampling = false;        // sampling enabled
    bool laser_on = true;
    bool interrupts = true;
    bool overflow = false;
    Calibration calibration = default_calibration();
    Encoder encoders[2] = {{kMirrorCountsPerTurn, 0, 0}, {kPanCountsPerTurn, 0, 0}};
    std::array<int32_t, 256> registers{};

    // The scanner, on the simulated clock that advances one period per delivered sample.
    int32_t mirror_power = 0;
    int32_t pan_power = 0;
    double mirror_turns = 0.0;
    double pan_turns = 0.0;
    double seconds = 0.0;
    uint64_t sequence = 0;
    Noise noise;

    // Pacing: the real time when the card's buffer was last emptied, and the samples delivered
    // since.
    Clock::time_point filling_since{};
    int64_t delivered = 0;
    int64_t lines = 0;  // lines delivered since HsifDllInit, the count the line controls use
};

struct Simulator {
    Config config;
    std::FILE* trace = nullptr;
    std::map<std::string, int64_t> calls;
    Card card;
};

// The state, set up from the environment at the first call of any entry point.
Simulator& simulator();

// True while a control of the environment is refused: HsifDllInit and HsifOpenPort then fail,
// so a run never goes on with settings other than those asked for.
inline bool refused() {
    return !simulator().config.refused.empty();
}

// Forgets everything (the card closes, the counts restart) and reads the environment again.
void reinitialise();

// A card that resets to power-on: the board's settings, the scanner at rest.
void reset_card(Card* card);

// Records one entry-point call: counts it, tells whether HSIF_SIM_FAIL makes it fail, and writes
// its trace line ("<Name> <arguments> -> <result>") when it finishes. Arguments: int32_t values
// print in decimal, Text as a quoted string, any other pointer as "ptr" or "null".
struct Text {
    const char* text;
};

class Call {
public:
    template <typename... Args>
    explicit Call(const char* name, const Args&... args) : name_(name), line_(name) {
        (append(args), ...);
        begin();
    }
    Call(const Call&) = delete;
    Call& operator=(const Call&) = delete;

    // True when this call is to fail by HSIF_SIM_FAIL.
    bool injected() const { return injected_; }

    // Writes the trace line with the result and returns the result.
    int32_t finish(int32_t result);

private:
    void append(int32_t value);
    void append(Text value);
    void append(const void* pointer);
    void begin();

    const char* name_;
    std::string line_;
    bool injected_ = false;
};

}  // namespace hsif_sim
