#pragma once
// The receiver's epochs: the time of each, whether it has a fix, the antenna's position as a
// small random walk around the mean position, the apparent speed and course, and the sky.

#include <cstdint>

#include "options.hpp"
#include "sky.hpp"

namespace gps_sim {

// What the receiver knows at one epoch.
struct Epoch {
    uint64_t index = 0;          // epochs before this one
    int64_t utc_cs = 0;          // UTC in centiseconds since 1970
    bool fix = false;            // false: no position, speed or course
    double latitude_deg = 0.0;   // north positive
    double longitude_deg = 0.0;  // east positive, -180 to below 180
    double altitude_m = 0.0;     // above mean sea level
    double speed_knots = 0.0;    // over ground
    double course_deg = 0.0;     // true, 0 to below 360
    SkyView sky;
};

// The epochs to come: the sky, the next epoch's number, and the walk of the antenna's position
// as offsets from the mean position in metres.
struct FixModel {
    const GpsOptions* options = nullptr;
    Sky sky{};
    uint64_t next_index = 0;
    double north_m = 0.0;
    double east_m = 0.0;
    double up_m = 0.0;
};

void init_fix_model(FixModel* model, const GpsOptions* options);

// The next epoch: epoch n is at the start time plus n / rate seconds, whenever it is sent, and
// depends only on the options and the seed.
Epoch next_epoch(FixModel* model);

}  // namespace gps_sim
