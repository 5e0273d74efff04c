#pragma once
// The satellites the receiver sees: 32 GPS satellites on passes fixed by the seed, their
// elevation, azimuth and signal at any time, which of them the fix uses, and its dilution of
// precision.

#include <cstdint>

namespace gps_sim {

constexpr int kSatellites = 32;  // PRN 1 to 32
constexpr int kMaxUsed = 12;     // GSA has 12 places
constexpr int kNoSignal = -1;    // SNR of a satellite in view but not tracked

// One satellite's pass over the antenna, repeating every orbit.
struct SatellitePass {
    int prn;
    double phase;     // radians of the orbit at time 0
    double peak_deg;  // elevation at the top of the pass
    double rise_azimuth_deg;
    double sweep_deg;  // azimuth turned from rise to set, signed
};

struct Sky {
    uint64_t seed;
    SatellitePass passes[kSatellites];
};

// A satellite in view at one instant.
struct SatelliteView {
    int prn;
    int elevation_deg;  // 0 to 90
    int azimuth_deg;    // 0 to 359, true north
    int snr_dbhz;       // kNoSignal when not tracked
    bool used;          // in the fix
};

// The satellites in view at one instant, PRN order, with the fix's geometry.
struct SkyView {
    int in_view = 0;
    SatelliteView satellites[kSatellites];
    int used = 0;  // at most kMaxUsed
    double hdop = 0.0;
    double vdop = 0.0;
    double pdop = 0.0;
};

Sky make_sky(uint64_t seed);

// What the receiver sees at t_s seconds since the first epoch of epoch number epoch (which
// selects the signal noise). With fix false nothing is used and the signals are not yet
// tracked. HDOP stays within 0.7 to 2.5.
SkyView view_sky(const Sky& sky, double t_s, uint64_t epoch, bool fix);

}  // namespace gps_sim
