// The room the simulated scanner looks at, and the raw entry layout.

#include "scanner.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

namespace hsif_sim {
namespace {

constexpr double kInchesPerMetre = 1.0 / 0.0254;

// An axis-aligned box, in metres, the scanner at the origin; x ahead at pan 0, z up.
struct Box {
    double low[3];
    double high[3];
    double reflectance;  // share of the light a surface sends back
};

// The room, seen from inside: the beam leaves through one of its faces.
constexpr Box kRoom{{-2.60, -3.70, -1.45}, {3.20, 4.10, 1.35}, 0.85};
// A cabinet against the wall ahead and to the left, seen from outside.
constexpr Box kCabinet{{1.60, 2.10, -1.45}, {2.40, 3.10, -0.40}, 0.55};

// Distance along `d` from the origin to where the beam leaves the room, and the axis of the face.
double leave_room(const double d[3], int* axis) {
    double best = std::numeric_limits<double>::infinity();
    for (int k = 0; k < 3; ++k) {
        if (d[k] > 1e-12) {
            const double t = kRoom.high[k] / d[k];
            if (t < best) {
                best = t;
                *axis = k;
            }
        } else if (d[k] < -1e-12) {
            const double t = kRoom.low[k] / d[k];
            if (t < best) {
                best = t;
                *axis = k;
            }
        }
    }
    return best;
}

// Distance along `d` to where the beam enters the cabinet (infinity when it misses), and the
// axis of the face it enters by (slab method).
double enter_cabinet(const double d[3], int* axis) {
    double enter = 0.0;
    double leave = std::numeric_limits<double>::infinity();
    int enter_axis = -1;
    for (int k = 0; k < 3; ++k) {
        if (std::fabs(d[k]) < 1e-12) {
            if (kCabinet.low[k] > 0.0 || kCabinet.high[k] < 0.0) {
                return std::numeric_limits<double>::infinity();
            }
            continue;
        }
        double t1 = kCabinet.low[k] / d[k];
        double t2 = kCabinet.high[k] / d[k];
        if (t1 > t2) {
            std::swap(t1, t2);
        }
        if (t1 > enter) {
            enter = t1;
            enter_axis = k;
        }
        leave = std::min(leave, t2);
    }
    if (enter_axis < 0 || enter > leave) {
        return std::numeric_limits<double>::infinity();
    }
    *axis = enter_axis;
    return enter;
}

}  // namespace

Echo room_echo(double mirror, double pan) {
    const double d[3] = {std::cos(mirror) * std::cos(pan), std::cos(mirror) * std::sin(pan),
                         std::sin(mirror)};
    int axis = 0;
    double metres = leave_room(d, &axis);
    double reflectance = kRoom.reflectance;
    int cabinet_axis = 0;
    const double to_cabinet = enter_cabinet(d, &cabinet_axis);
    if (to_cabinet < metres) {
        metres = to_cabinet;
        axis = cabinet_axis;
        reflectance = kCabinet.reflectance;
    }
    // The echo weakens with the angle of incidence and the square of the distance; 6 m halves
    // it against a close target.
    const double incidence = std::fabs(d[axis]);
    const double falloff = 1.0 / (1.0 + (metres / 6.0) * (metres / 6.0));
    const double amplitude = 60.0 + 3900.0 * reflectance * incidence * falloff;
    return Echo{metres * kInchesPerMetre, std::min(amplitude, 4095.0)};
}

laser::RawSample pack(const RawFields& f) {
    laser::RawSample entry{};
    entry.words[0] = (f.lost ? 0x1u : 0u) | (f.timeout ? 0x2u : 0u) | (f.index1 ? 0x4u : 0u) |
                     (f.index2 ? 0x8u : 0u) | (static_cast<uint32_t>(f.amplitude16) << 16);
    entry.words[1] = f.raw_range;
    entry.words[2] = f.mirror_count | (static_cast<uint32_t>(f.pan_count) << 16);
    entry.words[3] = f.temperature100 | (static_cast<uint32_t>(f.sequence) << 16);
    return entry;
}

RawFields unpack(const laser::RawSample& entry) {
    RawFields f;
    f.lost = (entry.words[0] & 0x1u) != 0;
    f.timeout = (entry.words[0] & 0x2u) != 0;
    f.index1 = (entry.words[0] & 0x4u) != 0;
    f.index2 = (entry.words[0] & 0x8u) != 0;
    f.amplitude16 = static_cast<uint16_t>(entry.words[0] >> 16);
    f.raw_range = entry.words[1];
    f.mirror_count = static_cast<uint16_t>(entry.words[2] & 0xFFFFu);
    f.pan_count = static_cast<uint16_t>(entry.words[2] >> 16);
    f.temperature100 = static_cast<uint16_t>(entry.words[3] & 0xFFFFu);
    f.sequence = static_cast<uint16_t>(entry.words[3] >> 16);
    return f;
}

uint64_t Noise::next() {
    state_ += 0x9E3779B97F4A7C15ull;
    uint64_t z = state_;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

double Noise::uniform() {
    return static_cast<double>(next() >> 11) * (1.0 / 9007199254740992.0);
}

double Noise::normal() {
    // The sum of four uniforms has variance 4/12; scaled to 1.
    return (uniform() + uniform() + uniform() + uniform() - 2.0) * 1.7320508075688772;
}

}  // namespace hsif_sim
