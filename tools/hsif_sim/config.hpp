#pragma once
// The simulator's controls, read from the environment: injected failures, lost and timed-out
// lines, card model, minimum sample period, speed-up, seed, device and who drives it,
// calibration folder, trace; and the controls refused because the simulator cannot honour their
// values.

#include <cstdint>
#include <string>
#include <vector>

namespace hsif_sim {

// One entry of HSIF_SIM_FAIL: the entry point `name` fails at its call number `call`
// (counted from 1), or at every call when `call` is 0.
struct FailRule {
    std::string name;
    int64_t call = 0;
};

struct Config {
    std::vector<FailRule> fail;          // HSIF_SIM_FAIL=Name[#k][,Name[#k]...]
    std::vector<int64_t> lost_lines;     // HSIF_SIM_LOST_LINES=3,7 (lines counted from 0)
    std::vector<int64_t> timeout_lines;  // HSIF_SIM_TIMEOUT_LINES=4
    int32_t model = 1;                   // HSIF_SIM_MODEL: 0 the 50 kHz card, 1 the 200 kHz card
    int32_t min_period = 5;              // HSIF_SIM_MIN_PERIOD (µs); default 5 (model 1), 20 (0)
    double speedup = 1.0;                // HSIF_SIM_SPEEDUP: simulated time per real time; 0: no
                                         // pacing at all
    uint64_t seed = 1;                   // HSIF_SIM_SEED
    std::string port_path;               // HSIF_SIM_PORT: device opened instead of "COM%d"
    bool own_port = false;               // HSIF_SIM_OWN_PORT=1: the port on the library's own
                                         // descriptor, not through the Windows calls
    std::string calibration_dir;         // HSIF_SIM_CALIBRATION_DIR: second place to look
    std::string trace_path;              // HSIF_SIM_TRACE: call trace file, appended
    // One line per control whose value is refused (without a line end), naming the variable,
    // its value and what is accepted; the control keeps its default. Empty: all accepted.
    std::vector<std::string> refused;
};

// Reads the controls from the environment. A variable that is unset or empty keeps its
// default; any other value that does not parse or lies outside what the simulator can honour is
// refused (see Config::refused).
Config read_config();

// True when `list` holds `value`.
bool contains(const std::vector<int64_t>& list, int64_t value);

}  // namespace hsif_sim
