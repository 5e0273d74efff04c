#pragma once
// NMEA 0183 sentences of an epoch: GGA, RMC, GSA and GSV with the GPS talker, their checksum,
// and the formats of their fields.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fix.hpp"

namespace gps_sim {

// The longest sentence NMEA 0183 allows, from '$' to the line end CR LF.
constexpr size_t kMaxSentenceLength = 82;

// The epoch's sentences in the order they go out: GGA, RMC, GSA, then as many GSV as its
// satellites in view need (four a sentence). Each from '$' to its checksum "*HH", without the
// line end, and at most kMaxSentenceLength with it.
std::vector<std::string> epoch_sentences(const Epoch& epoch);

}  // namespace gps_sim
