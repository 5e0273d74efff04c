// The receiver's epochs.

#include "fix.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "sim_common/hashed_random.hpp"

namespace gps_sim {
namespace {

using sim_common::uniform;

constexpr double kPi = std::numbers::pi;
constexpr double kDegPerRad = 180.0 / kPi;
constexpr double kEarthRadiusM = 6371000.0;  // the mean radius: good to a fraction of a percent
constexpr double kKnotsPerMs = 3600.0 / 1852.0;
constexpr double kCsPerSecond = 100.0;
// The walk pulls back toward the mean position with this time constant, and its noise makes
// a spread of about 0.25 m horizontally and 0.4 m vertically (one standard deviation): steps of
// a few centimetres an epoch, a metre or so at the most.
constexpr double kPullBackS = 60.0;
constexpr double kHorizontalSpreadM = 0.25;
constexpr double kVerticalSpreadM = 0.4;
// The walk never leaves this box, whatever the draws.
constexpr double kMaxHorizontalOffsetM = 1.5;
constexpr double kMaxVerticalOffsetM = 2.5;
// The velocity comes from the signals' Doppler shift, not from the position: at rest, noise of
// this size in each horizontal axis (one standard deviation), some 0.05 knots.
constexpr double kVelocityNoiseMs = 0.02;
// Below this many satellites used, no receiver has a 3-D fix.
constexpr int kMinUsedForFix = 4;

// The draws of an epoch: the walk's three axes, then the velocity's two.
enum Axis : uint64_t { kNorth, kEast, kUp, kVelocityNorth, kVelocityEast, kAxes };

enum Stream : uint64_t {
    kWalkStream = 100,  // kAxes normal values an epoch, two uniforms each
};

// A standard normal value for (seed, epoch, axis), by Box and Muller.
double normal(uint64_t seed, uint64_t epoch, uint64_t axis) {
    const uint64_t draw = (epoch * kAxes + axis) * 2;
    const double u1 = 1.0 - uniform(seed, kWalkStream, draw);  // in (0, 1]: a finite log
    const double u2 = uniform(seed, kWalkStream, draw + 1);
    return std::sqrt(-2.0 * std::log(u1)) * std::cos(2.0 * kPi * u2);
}

// One step of a walk pulled back toward 0 (Ornstein-Uhlenbeck) over dt_s, with the given
// spread once settled, kept within limit.
double walk_step(double offset, double dt_s, double spread, double limit, double draw) {
    const double noise = spread * std::sqrt(2.0 * dt_s / kPullBackS);
    return std::clamp(offset - offset * dt_s / kPullBackS + noise * draw, -limit, limit);
}

}  // namespace

void init_fix_model(FixModel* model, const GpsOptions* options) {
    *model = FixModel{};
    model->options = options;
    model->sky = make_sky(options->common.seed);
}

Epoch next_epoch(FixModel* model) {
    const GpsOptions& options = *model->options;
    Epoch epoch;
    epoch.index = model->next_index++;
    const double t_s = static_cast<double>(epoch.index) / options.rate_hz;
    epoch.utc_cs =
        options.start_utc_s * static_cast<int64_t>(kCsPerSecond) + std::llround(t_s * kCsPerSecond);

    // The walk goes on with or without a fix, so the positions of a run do not depend on the
    // time without one.
    const double dt_s = 1.0 / options.rate_hz;
    const uint64_t seed = options.common.seed;
    model->north_m = walk_step(model->north_m, dt_s, kHorizontalSpreadM, kMaxHorizontalOffsetM,
                               normal(seed, epoch.index, kNorth));
    model->east_m = walk_step(model->east_m, dt_s, kHorizontalSpreadM, kMaxHorizontalOffsetM,
                              normal(seed, epoch.index, kEast));
    model->up_m = walk_step(model->up_m, dt_s, kVerticalSpreadM, kMaxVerticalOffsetM,
                            normal(seed, epoch.index, kUp));

    const bool fix_time = t_s >= options.no_fix_s;
    epoch.sky = view_sky(model->sky, t_s, epoch.index, fix_time);
    epoch.fix = fix_time && epoch.sky.used >= kMinUsedForFix;
    if (fix_time && !epoch.fix) {
        epoch.sky = view_sky(model->sky, t_s, epoch.index, false);
    }
    if (!epoch.fix) {
        return epoch;
    }
    const double mean_latitude = options.latitude_deg / kDegPerRad;
    // East offsets become longitude by the parallel's radius; at a pole, where every longitude
    // meets, a tiny radius keeps the value finite.
    const double parallel_m = std::max(kEarthRadiusM * std::cos(mean_latitude), 1.0);
    epoch.latitude_deg =
        std::clamp(options.latitude_deg + model->north_m / kEarthRadiusM * kDegPerRad, -90.0, 90.0);
    double longitude = options.longitude_deg + model->east_m / parallel_m * kDegPerRad;
    longitude = std::fmod(longitude + 180.0, 360.0);
    epoch.longitude_deg = (longitude < 0.0 ? longitude + 360.0 : longitude) - 180.0;
    epoch.altitude_m = options.altitude_m + model->up_m;
    const double velocity_north = kVelocityNoiseMs * normal(seed, epoch.index, kVelocityNorth);
    const double velocity_east = kVelocityNoiseMs * normal(seed, epoch.index, kVelocityEast);
    epoch.speed_knots = std::hypot(velocity_north, velocity_east) * kKnotsPerMs;
    const double course = std::atan2(velocity_east, velocity_north) * kDegPerRad;
    epoch.course_deg = course < 0.0 ? course + 360.0 : course;
    return epoch;
}

}  // namespace gps_sim
