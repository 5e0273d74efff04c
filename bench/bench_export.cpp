// Speed of the laser file export: a full sample array (200 lines of 5000 records) written by
// save_samples and by a reference that formats every value with its own fprintf call, side by
// side in one run, into two temporary files. Checks that the files are byte-identical and prints
// both times and the ratio. The goal is a ratio of at least 10.

#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

#include "laser/export.hpp"
#include "laser/samples.hpp"

namespace {

constexpr double kGoalRatio = 10.0;
constexpr int32_t kLines = laser::kMaxLines;
constexpr double kPi = 3.14159265358979323846;
constexpr int kRounds = 3;

// A scan as the card delivers it: the mirror sweeps angle1 through a turn per line, the pan
// angle2 creeps on, distances of a room of some hundred inches with noise, amplitude and
// temperature near their working values, the raw range following the distance, an index pulse
// once per turn.
void fill_plausibly() {
    std::mt19937_64 random(74);
    std::normal_distribution<double> noise(0.0, 1.0);
    for (int32_t line = 0; line < kLines; ++line) {
        for (int32_t k = 0; k < laser::kSamplesPerLine; ++k) {
            laser::LaserSample& s =
                laser::sample_array[static_cast<size_t>(line) * laser::kSamplesPerLine +
                                    static_cast<size_t>(k)];
            const double turn = static_cast<double>(k) / laser::kSamplesPerLine;
            s.angle1 = 2.0 * kPi * turn;
            s.angle2 = 2.0 * kPi * (line + turn) / 200.0;
            s.distance = 120.0 + 80.0 * std::fabs(std::sin(s.angle1 * 2.0)) + 0.3 * noise(random);
            s.amplitude = 1800.0 + 400.0 * std::cos(s.angle1) + 25.0 * noise(random);
            s.temperature = 96.5 + 0.05 * noise(random);
            s.raw_range = static_cast<uint32_t>(s.distance * 409.6);
            s.flags = static_cast<uint16_t>((k == 0 ? 4 : 0) | (k == 0 && line % 50 == 0 ? 8 : 0));
        }
    }
}

void save_reference(FILE* file) {
    std::fprintf(file, "%s",
                 "Distance(inches)\tRaw Range(bits)\tAmplitude\tTemp(F)\tAngle1(radins)\t"
                 "Angle2(radins\tIndex1\tIndex2\t");
    for (size_t i = 0; i < static_cast<size_t>(kLines) * laser::kSamplesPerLine; ++i) {
        const laser::LaserSample& s = laser::sample_array[i];
        std::fprintf(file, "\n");
        std::fprintf(file, "%.2f\t", s.distance);
        std::fprintf(file, "%.0f\t", static_cast<double>(s.raw_range));
        std::fprintf(file, "%.1f\t", s.amplitude);
        std::fprintf(file, "%.1f\t", s.temperature);
        std::fprintf(file, "%.4f\t", s.angle1);
        std::fprintf(file, "%.4f\t", s.angle2);
        std::fprintf(file, "%d\t", (s.flags >> 2) & 1);
        std::fprintf(file, "%d\t", (s.flags >> 3) & 1);
    }
    std::fclose(file);
}

double seconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Compares two files in blocks; returns the offset of the first difference, or -1.
long first_difference(const std::string& a, const std::string& b) {
    FILE* fa = std::fopen(a.c_str(), "rb");
    FILE* fb = std::fopen(b.c_str(), "rb");
    if (fa == nullptr || fb == nullptr) {
        return 0;
    }
    static char ba[1 << 16];
    static char bb[1 << 16];
    long offset = 0;
    long result = -1;
    for (;;) {
        const size_t na = std::fread(ba, 1, sizeof ba, fa);
        const size_t nb = std::fread(bb, 1, sizeof bb, fb);
        const size_t n = na < nb ? na : nb;
        for (size_t i = 0; i < n; ++i) {
            if (ba[i] != bb[i]) {
                result = offset + static_cast<long>(i);
                break;
            }
        }
        if (result < 0 && na != nb) {
            result = offset + static_cast<long>(n);
        }
        if (result >= 0 || na == 0) {
            break;
        }
        offset += static_cast<long>(n);
    }
    std::fclose(fa);
    std::fclose(fb);
    return result;
}

}  // namespace

int main() {
    fill_plausibly();
    const std::string stem = "/tmp/morvane-bench-export-" + std::to_string(getpid());
    const std::string fast_path = stem + ".fast.txt";
    const std::string reference_path = stem + ".reference.txt";

    double fast_seconds = 0.0;
    double reference_seconds = 0.0;
    for (int round = 0; round < kRounds; ++round) {
        FILE* fast_file = std::fopen(fast_path.c_str(), "w");
        FILE* reference_file = std::fopen(reference_path.c_str(), "w");
        if (fast_file == nullptr || reference_file == nullptr) {
            std::fprintf(stderr, "cannot create %s or %s\n", fast_path.c_str(),
                         reference_path.c_str());
            return 1;
        }
        auto start = std::chrono::steady_clock::now();
        if (!laser::save_samples(kLines, fast_file) || std::fclose(fast_file) != 0) {
            return 1;
        }
        const double fast = seconds_since(start);
        start = std::chrono::steady_clock::now();
        save_reference(reference_file);
        const double reference = seconds_since(start);
        fast_seconds = round == 0 || fast < fast_seconds ? fast : fast_seconds;
        reference_seconds =
            round == 0 || reference < reference_seconds ? reference : reference_seconds;
    }

    const long difference = first_difference(fast_path, reference_path);
    std::printf("laser export: %d lines, %d rows\n", kLines, kLines * laser::kSamplesPerLine);
    std::printf("save_samples: %.3f s (best of %d)\n", fast_seconds, kRounds);
    std::printf("fprintf per value: %.3f s (best of %d)\n", reference_seconds, kRounds);
    std::printf("ratio: %.1f (goal %.0f)\n", reference_seconds / fast_seconds, kGoalRatio);
    if (difference >= 0) {
        std::printf("files differ at byte %ld: %s %s\n", difference, fast_path.c_str(),
                    reference_path.c_str());
        return 1;
    }
    std::printf("files identical\n");
    std::remove(fast_path.c_str());
    std::remove(reference_path.c_str());
    return 0;
}
