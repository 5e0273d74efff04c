#pragma once
// The simulated scanner: a rotating mirror and a pan head in a box room, the laser's echo from
// whatever the beam meets, and the raw entry that carries one sample from card to host.

#include <cstdint>

#include "laser/samples.hpp"

namespace hsif_sim {

// Encoder counts per turn of the two motors.
constexpr int32_t kMirrorCountsPerTurn = 4096;
constexpr int32_t kPanCountsPerTurn = 200;

// Speeds at full power (255); speed is proportional to power. The pan head turns once while the
// mirror turns 400 times, so a full capture of 200 lines at 20 µs sweeps about one pan turn.
constexpr int32_t kFullPower = 255;
constexpr double kMirrorTurnsPerSecond = 20.0;
constexpr double kPanTurnsPerSecond = 0.05;

// What the laser sees along one beam.
struct Echo {
    double inches;     // distance to the surface hit
    double amplitude;  // echo strength, 0 .. 4095
};

// The echo for a beam leaving the scanner at mirror angle `mirror` (radians, 0 level, pi/2 up)
// and pan angle `pan` (radians), in the room: walls 2.6 to 4.1 m away, floor 1.45 m below,
// ceiling 1.35 m above, and a cabinet standing in one corner. No noise: callers add it.
Echo room_echo(double mirror, double pan);

// One sample as the card delivers it, unpacked from its raw entry (laser::RawSample):
//   word 0: bit 0 lost data (last entry of a line), bit 1 measurement timeout, bit 2 mirror
//           index pulse, bit 3 pan index pulse, bits 16-31 amplitude in 1/16
//   word 1: raw range, bits
//   word 2: bits 0-15 mirror encoder count, bits 16-31 pan encoder count
//   word 3: bits 0-15 temperature in 1/100 degree F, bits 16-31 sample sequence number
struct RawFields {
    bool lost = false;
    bool timeout = false;
    bool index1 = false;
    bool index2 = false;
    uint16_t amplitude16 = 0;
    uint32_t raw_range = 0;
    uint16_t mirror_count = 0;
    uint16_t pan_count = 0;
    uint16_t temperature100 = 0;
    uint16_t sequence = 0;
};

laser::RawSample pack(const RawFields& fields);
RawFields unpack(const laser::RawSample& entry);

// A small deterministic generator (splitmix64) for the measurement noise.
class Noise {
public:
    Noise() = default;
    explicit Noise(uint64_t seed) : state_(seed) {}
    uint64_t next();
    // Uniform in [0, 1).
    double uniform();
    // Roughly normal, mean 0, standard deviation 1 (sum of four uniforms).
    double normal();

private:
    uint64_t state_ = 1;
};

}  // namespace hsif_sim
