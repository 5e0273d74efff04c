#include "simulated_unit.hpp"

#include "text.hpp"

namespace testsupport {

std::string SimulatedUnit::start(const std::vector<std::string>& options) {
    std::vector<std::string> argv{e2e_target().ahrs_sim, "--log", log_.string()};
    argv.insert(argv.end(), options.begin(), options.end());
    return start_device(argv);
}

std::string SimulatedUnit::log() const {
    return read_file(log_);
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
