#include "simulated_unit.hpp"

#include <csignal>

#include "text.hpp"

namespace testsupport {

namespace {

constexpr milliseconds kStopWait(5000);

}  // namespace

SimulatedUnit::~SimulatedUnit() {
    stop();
}

std::string SimulatedUnit::start(const std::vector<std::string>& options) {
    std::vector<std::string> argv{e2e_target().ahrs_sim, "--link", link(), "--log",
                                  (dir_ / "unit.log").string()};
    argv.insert(argv.end(), options.begin(), options.end());
    sim_ = std::make_unique<Process>();
    if (!sim_->start(argv)) {
        return "ahrs-sim: " + sim_->error();
    }
    sim_->close_stdin();
    if (first_line(*sim_, kHangBound).empty()) {
        return "ahrs-sim printed no device path; stderr: " + sim_->err();
    }
    port_ = std::make_unique<TargetPort>(kUnitComNumber, link());
    return port_->error();
}

void SimulatedUnit::stop() {
    if (sim_ && sim_->running()) {
        sim_->signal(SIGTERM);
        sim_->wait(kStopWait);
    }
    port_.reset();
}

std::string SimulatedUnit::port() const {
    if (port_) {
        return port_->name();
    }
    return e2e_target().wine ? "COM" + std::to_string(kUnitComNumber) : link();
}

std::string SimulatedUnit::log() const {
    return read_file(dir_ / "unit.log");
}

std::vector<UnitExchange> unit_exchanges(const std::string& log) {
    std::vector<UnitExchange> exchanges;
    UnitExchange current;
    for (char c : log) {
        current.bytes += c;
        if (c == 'G') {
            ++current.probes;
        } else if (c == 'C') {
            exchanges.push_back(current);
            current = UnitExchange{};
        }
    }
    return exchanges;
}

std::string exchange_pattern(char mode) {
    const std::string attempt = std::string("P+") + mode + "+P+G";
    return "(" + attempt + ")+C";
}

}  // namespace testsupport
