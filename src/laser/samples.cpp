#include "laser/samples.hpp"

namespace laser {

// Zero-initialised static storage: the pages stay untouched, and cost nothing, until the capture
// writes them.
LaserSample sample_array[kMaxLines * kSamplesPerLine];
RawSample raw_sample_buffer[kSamplesPerLine];

}  // namespace laser
