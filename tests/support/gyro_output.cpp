#include "gyro_output.hpp"

#include <algorithm>
#include <regex>

#include "text.hpp"

namespace testsupport {

std::vector<GyroRecord> parse_gyro_records(const std::string& file) {
    static const std::regex fixed_point("-?[0-9]+\\.[0-9]{6}");
    std::vector<GyroRecord> records;
    for (const std::string& line : split(file, '\n')) {
        GyroRecord record;
        const std::vector<std::string> fields = split(line, ' ');
        record.fields = fields.size();
        if (fields.size() >= 3) {
            record.count = std::stoul(fields.front());
            record.tail = std::stoul(fields.back());
            record.well_formed = std::all_of(
                fields.begin() + 1, fields.end() - 1,
                [](const std::string& value) { return std::regex_match(value, fixed_point); });
        }
        records.push_back(record);
    }
    return records;
}

std::optional<GyroSummary> parse_gyro_summary(const std::string& out) {
    static const std::regex line(
        "(^|\n)Gyro - ([0-9]+) packets, ([0-9]+) invalid, ([0-9]+) restarts, ([0-9]+) records\n");
    std::smatch match;
    if (!std::regex_search(out, match, line)) {
        return std::nullopt;
    }
    const auto number = [&match](size_t i) { return static_cast<unsigned>(std::stoul(match[i])); };
    return GyroSummary{
        .packets = number(2), .invalid = number(3), .restarts = number(4), .records = number(5)};
}

}  // namespace testsupport
