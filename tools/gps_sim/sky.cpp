// The satellites the receiver sees.

#include "sky.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "sim_common/hashed_random.hpp"

namespace gps_sim {
namespace {

using sim_common::uniform;

constexpr double kPi = std::numbers::pi;
// A GPS satellite circles the earth twice a sidereal day: a pass comes back every 11 h 58 min.
constexpr double kOrbitPeriodS = 43082.0;
// A satellite is above the horizon while the sine of its orbit angle exceeds this: a third of
// each orbit, so about 11 of the 32 are in view at any time.
constexpr double kHorizonSine = 0.5;
constexpr double kTrackedElevationDeg = 5.0;  // lower signals are lost in the multipath
constexpr double kMaskElevationDeg = 10.0;    // the fix leaves out lower satellites
// Signal strength from the horizon to the zenith, and its jitter from epoch to epoch.
constexpr double kHorizonSnr = 22.0;
constexpr double kZenithSnrGain = 26.0;
constexpr double kSnrJitter = 1.5;
// HDOP from the number of satellites used: 1.9 with 4, 1.15 with 8, 0.9 with 12, wobbling
// slowly by a few percent; VDOP is about 1.4 times HDOP, as for a receiver with the sky above
// it only.
constexpr double kHdopBase = 0.4;
constexpr double kHdopPerSatellite = 6.0;
constexpr double kHdopWobble = 0.05;
constexpr double kHdopWobblePeriodS = 600.0;
constexpr double kMinHdop = 0.7;
constexpr double kMaxHdop = 2.5;
constexpr double kVdopPerHdop = 1.4;

enum Stream : uint64_t {
    kPhaseStream = 1,
    kPeakStream,
    kRiseStream,
    kSweepStream,
    kSweepSignStream,
    kOrderStream,
    kWobbleStream,
    kSnrStream,
};

double between(uint64_t seed, uint64_t stream, uint64_t index, double low, double high) {
    return low + (high - low) * uniform(seed, stream, index);
}

}  // namespace

Sky make_sky(uint64_t seed) {
    Sky sky{};
    sky.seed = seed;
    // The orbits' phases are spread evenly over the PRNs in a seeded order, so about as many
    // satellites are in view at any time.
    int order[kSatellites];
    for (int i = 0; i < kSatellites; ++i) {
        order[i] = i;
    }
    for (int i = kSatellites - 1; i > 0; --i) {
        const int j = static_cast<int>(uniform(seed, kOrderStream, static_cast<uint64_t>(i)) *
                                       static_cast<double>(i + 1));
        std::swap(order[i], order[j]);
    }
    for (int i = 0; i < kSatellites; ++i) {
        const auto index = static_cast<uint64_t>(i);
        SatellitePass& pass = sky.passes[i];
        pass.prn = i + 1;
        pass.phase =
            2.0 * kPi * (order[i] + between(seed, kPhaseStream, index, -0.3, 0.3)) / kSatellites;
        pass.peak_deg = between(seed, kPeakStream, index, 35.0, 88.0);
        pass.rise_azimuth_deg = between(seed, kRiseStream, index, 0.0, 360.0);
        pass.sweep_deg = between(seed, kSweepStream, index, 100.0, 200.0) *
                         (uniform(seed, kSweepSignStream, index) < 0.5 ? -1.0 : 1.0);
    }
    return sky;
}

SkyView view_sky(const Sky& sky, double t_s, uint64_t epoch, bool fix) {
    SkyView view;
    const double rise_angle = std::asin(kHorizonSine);
    const double arc = kPi - 2.0 * rise_angle;
    for (const SatellitePass& pass : sky.passes) {
        const double angle = std::fmod(pass.phase + 2.0 * kPi * t_s / kOrbitPeriodS, 2.0 * kPi);
        const double sine = std::sin(angle);
        if (sine <= kHorizonSine) {
            continue;
        }
        const double elevation = pass.peak_deg * (sine - kHorizonSine) / (1.0 - kHorizonSine);
        const double progress = (angle - rise_angle) / arc;  // 0 at rise, 1 at set
        double azimuth = std::fmod(pass.rise_azimuth_deg + progress * pass.sweep_deg, 360.0);
        azimuth = azimuth < 0.0 ? azimuth + 360.0 : azimuth;
        SatelliteView& seen = view.satellites[view.in_view++];
        seen.prn = pass.prn;
        seen.elevation_deg = static_cast<int>(std::lround(elevation));
        seen.azimuth_deg = static_cast<int>(std::lround(azimuth)) % 360;
        seen.snr_dbhz = kNoSignal;
        seen.used = false;
        if (fix && elevation >= kTrackedElevationDeg) {
            const uint64_t draw = epoch * kSatellites + static_cast<uint64_t>(pass.prn);
            const double snr = kHorizonSnr + kZenithSnrGain * std::sqrt(elevation / 90.0) +
                               between(sky.seed, kSnrStream, draw, -kSnrJitter, kSnrJitter);
            seen.snr_dbhz = static_cast<int>(std::lround(snr));
        }
    }
    if (!fix) {
        return view;
    }
    // The fix uses the highest satellites above the mask, at most kMaxUsed.
    for (;;) {
        SatelliteView* best = nullptr;
        for (int i = 0; i < view.in_view; ++i) {
            SatelliteView& seen = view.satellites[i];
            if (!seen.used && seen.elevation_deg >= kMaskElevationDeg &&
                (best == nullptr || seen.elevation_deg > best->elevation_deg)) {
                best = &seen;
            }
        }
        if (best == nullptr || view.used == kMaxUsed) {
            break;
        }
        best->used = true;
        ++view.used;
    }
    const double wobble =
        1.0 + kHdopWobble * std::sin(2.0 * kPi * t_s / kHdopWobblePeriodS +
                                     2.0 * kPi * uniform(sky.seed, kWobbleStream, 0));
    const double hdop = (kHdopBase + kHdopPerSatellite / std::max(view.used, 1)) * wobble;
    view.hdop = std::clamp(hdop, kMinHdop, kMaxHdop);
    view.vdop = view.hdop * kVdopPerHdop;
    view.pdop = std::hypot(view.hdop, view.vdop);
    return view;
}

}  // namespace gps_sim
