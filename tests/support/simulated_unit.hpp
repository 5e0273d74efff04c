#pragma once
// The simulated AHRS unit of an end-to-end test: ahrs-sim on a link in the test's folder, the port
// a program of the target opens for it, and what the unit reports (the bytes it received).

#include <filesystem>
#include <string>
#include <vector>

#include "e2e_target.hpp"

namespace testsupport {

// The COM port the Windows program is given for the unit under Wine.
constexpr int kUnitComNumber = 7;

class SimulatedUnit : public SimulatedDevice {
public:
    // The unit of the test folder dir: its link dir/unit-link, its log dir/unit.log.
    explicit SimulatedUnit(const std::filesystem::path& dir)
        : SimulatedDevice(dir / "unit-link", kUnitComNumber), log_(dir / "unit.log") {}

    // Starts ahrs-sim with options and makes the port for it. Returns an empty text, or why the
    // unit could not start.
    std::string start(const std::vector<std::string>& options);
    // Every byte the unit has received, in order.
    std::string log() const;

private:
    std::filesystem::path log_;
};

// One start-up exchange of the logger as the unit received it: the bytes up to and with the
// continuous-output command 'C'. The unit receives 'C' only as that command (its upper-case
// letters are what it sends), so the log splits at each 'C'.
struct UnitExchange {
    std::string bytes;
    unsigned probes = 0;  // 'G' commands: packets the unit sent in answer
};

// The exchanges of a log; bytes after the last 'C' (an exchange cut short) are left out.
std::vector<UnitExchange> unit_exchanges(const std::string& log);

// A regular expression of one whole exchange in mode (a, c or r): stop until silent, the mode
// letter until acknowledged, stop again, probe; the probe repeated from the stop when its answer
// was not one whole packet; then continuous output.
std::string exchange_pattern(char mode);

}  // namespace testsupport
