#pragma once
// The simulated AHRS unit of an end-to-end test: ahrs-sim on a link in the test's folder, the port
// a program of the target opens for it, and what the unit reports (the bytes it received).

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "e2e_target.hpp"
#include "process.hpp"

namespace testsupport {

// The COM port the Windows program is given for the unit under Wine.
constexpr int kUnitComNumber = 7;

class SimulatedUnit {
public:
    // The unit of the test folder dir: its link dir/unit-link, its log dir/unit.log.
    explicit SimulatedUnit(std::filesystem::path dir) : dir_(std::move(dir)) {}
    SimulatedUnit(const SimulatedUnit&) = delete;
    SimulatedUnit& operator=(const SimulatedUnit&) = delete;
    // Stops the unit.
    ~SimulatedUnit();

    // Starts ahrs-sim with options and makes the port for it (the link follows the unit's line
    // across hang-ups). Returns an empty text, or why the unit could not start.
    std::string start(const std::vector<std::string>& options);

    // Ends the unit (SIGTERM), waiting for it.
    void stop();

    // The port word a program of the target opens for the unit: the link natively, COM7 under
    // Wine (mapped onto the link once the unit has started).
    std::string port() const;
    // The link to the unit's current pseudo-terminal.
    std::string link() const { return (dir_ / "unit-link").string(); }
    // Every byte the unit has received, in order.
    std::string log() const;
    // The unit's status lines, for failure messages.
    std::string status() const { return sim_ ? sim_->err() : std::string(); }

private:
    std::filesystem::path dir_;
    std::unique_ptr<Process> sim_;
    std::unique_ptr<TargetPort> port_;
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
