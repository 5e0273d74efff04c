#pragma once
// The range calibration: a table of raw range readings (bits) against distances (inches), read
// from a small text file, and the conversions both ways by linear interpolation.

#include <cstdint>
#include <string>
#include <vector>

namespace hsif_sim {

struct CalibrationRow {
    uint32_t raw;   // raw range reading, bits
    double inches;  // the distance it stands for
};

// At least two rows, raw and inches both strictly increasing.
struct Calibration {
    std::vector<CalibrationRow> rows;
};

// The table the card uses before a file is loaded: 1000 bits per inch, 2 inches of offset.
Calibration default_calibration();

// Parses a calibration file's text: one row per line, "<raw> <inches>" (blanks or tabs between),
// blank lines and lines starting with '#' ignored. Returns false, leaving `table` alone, when a
// line is anything else, a value is out of range, the rows do not increase or there are fewer
// than two.
bool parse_calibration(const std::string& text, Calibration* table);

// Reads and parses the file; false when it cannot be read or is malformed.
bool load_calibration(const std::string& path, Calibration* table);

// Converts a raw reading to inches; outside the table the end segments are extended.
double raw_to_inches(const Calibration& table, uint32_t raw);

// The raw reading that stands for `inches`, rounded, held within 0 .. 2^32 - 1.
uint32_t inches_to_raw(const Calibration& table, double inches);

}  // namespace hsif_sim
