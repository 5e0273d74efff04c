// Calibration tables: parsing and interpolation.

#include "calibration.hpp"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace hsif_sim {
namespace {

constexpr size_t kMaxRows = 65536;
constexpr double kMaxRaw = 4294967295.0;

// The segment (rows i and i + 1) that covers `raw`, the end segments standing for beyond.
size_t segment_for_raw(const Calibration& table, double raw) {
    size_t i = 0;
    while (i + 2 < table.rows.size() && raw > static_cast<double>(table.rows[i + 1].raw)) {
        ++i;
    }
    return i;
}

size_t segment_for_inches(const Calibration& table, double inches) {
    size_t i = 0;
    while (i + 2 < table.rows.size() && inches > table.rows[i + 1].inches) {
        ++i;
    }
    return i;
}

}  // namespace

Calibration default_calibration() {
    return Calibration{{{0, -2.0}, {4000000, 3998.0}}};
}

bool parse_calibration(const std::string& text, Calibration* table) {
    Calibration parsed;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        const size_t first = line.find_first_not_of(" \t");
        if (first == std::string::npos || line[first] == '#') {
            continue;
        }
        const char* cursor = line.c_str() + first;
        char* end = nullptr;
        const double raw = std::strtod(cursor, &end);
        if (end == cursor || raw < 0.0 || raw > kMaxRaw || raw != std::floor(raw)) {
            return false;
        }
        cursor = end;
        const double inches = std::strtod(cursor, &end);
        if (end == cursor || !std::isfinite(inches)) {
            return false;
        }
        for (; *end != '\0'; ++end) {
            if (*end != ' ' && *end != '\t') {
                return false;
            }
        }
        const CalibrationRow row{static_cast<uint32_t>(raw), inches};
        if (!parsed.rows.empty() &&
            (row.raw <= parsed.rows.back().raw || row.inches <= parsed.rows.back().inches)) {
            return false;
        }
        if (parsed.rows.size() == kMaxRows) {
            return false;
        }
        parsed.rows.push_back(row);
    }
    if (parsed.rows.size() < 2) {
        return false;
    }
    *table = std::move(parsed);
    return true;
}

bool load_calibration(const std::string& path, Calibration* table) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        return false;
    }
    std::string text;
    char chunk[4096];
    size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
        text.append(chunk, got);
    }
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    return !failed && parse_calibration(text, table);
}

double raw_to_inches(const Calibration& table, uint32_t raw) {
    const double x = static_cast<double>(raw);
    const size_t i = segment_for_raw(table, x);
    const CalibrationRow& a = table.rows[i];
    const CalibrationRow& b = table.rows[i + 1];
    const double ra = static_cast<double>(a.raw);
    const double rb = static_cast<double>(b.raw);
    return a.inches + (x - ra) * (b.inches - a.inches) / (rb - ra);
}

uint32_t inches_to_raw(const Calibration& table, double inches) {
    const size_t i = segment_for_inches(table, inches);
    const CalibrationRow& a = table.rows[i];
    const CalibrationRow& b = table.rows[i + 1];
    const double ra = static_cast<double>(a.raw);
    const double rb = static_cast<double>(b.raw);
    const double raw = std::round(ra + (inches - a.inches) * (rb - ra) / (b.inches - a.inches));
    if (!(raw > 0.0)) {
        return 0;
    }
    return raw >= kMaxRaw ? 0xFFFFFFFFu : static_cast<uint32_t>(raw);
}

}  // namespace hsif_sim
