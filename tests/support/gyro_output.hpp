#pragma once
// What the gyro phase leaves for an end-to-end test to check: the records of the gyro file and the
// summary line "Gyro - %u packets, %u invalid, %u restarts, %u records".

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace testsupport {

// One record (line) of the gyro file.
struct GyroRecord {
    unsigned long count = 0;  // the first field: packets the logger had read
    unsigned long tail = 0;   // the last field: the unit's TAIL_WORD (its packet number)
    size_t fields = 0;
    bool well_formed = false;  // every field between the two has the "%f" shape
};

// The records of a gyro file's text, one per line (a last line without its "\n" included).
std::vector<GyroRecord> parse_gyro_records(const std::string& file);

// The logger's own counts of a gyro phase.
struct GyroSummary {
    unsigned packets = 0;
    unsigned invalid = 0;
    unsigned restarts = 0;
    unsigned records = 0;
};

// The summary line in console text with "\n" line ends; nullopt when there is none.
std::optional<GyroSummary> parse_gyro_summary(const std::string& out);

}  // namespace testsupport
