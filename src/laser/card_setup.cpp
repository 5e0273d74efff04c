// The card's configuration after HsifOpen, as a table of steps with their messages.

#include "laser/card_setup.hpp"

#include "laser/hsif_api.hpp"

namespace laser {
namespace {

constexpr char kCalibrationFile[] = "LOOKUPHS";
constexpr int32_t kSamplePeriodMode = 0;
constexpr int32_t kPollMode = 1;
constexpr int32_t kEncodersToClear = 3;  // both encoders
constexpr int32_t kEncoderClearValue = 1;
constexpr int32_t kMirrorEncoder = 1;
constexpr int32_t kMirrorCountsPerTurn = 4096;
constexpr int32_t kPanEncoder = 2;
constexpr int32_t kPanCountsPerTurn = 200;
constexpr int32_t kEncoderOffset = 0;

// The first HsifSetSamplePeriod failed: says why, as far as the card tells.
void diagnose_sample_period(int32_t card) {
    int32_t model = 0;
    if (hsif_api.HsifGetCardModel(card, &model) == 0) {
        say(stderr, "Unknown Hsif card model.\n");
        return;
    }
    int32_t min_period = 0;
    if (hsif_api.HsifGetMinSamplePeriod(card, &min_period) == 0) {
        say(stderr, "Unknown minimum sample period.\n");
        return;
    }
    // Model 0 is the 50 kHz card; every other model is the 200 kHz one.
    std::fprintf(stderr, "The AR4000 %d KHz model minimum sample period is %d us.\n",
                 model != 0 ? 200 : 50, static_cast<int>(min_period));
    std::fflush(stderr);
}

// Where a message of the set-up goes.
enum class Stream { kOut, kErr };

FILE* stream_of(Stream stream) {
    return stream == Stream::kOut ? stdout : stderr;
}

// What a step's result must be to count as success.
enum class Success { kAny, kNonZero, kExactlyOne };

// One step of the card's configuration after HsifOpen: a line said before the call (a printf
// format of max_range and sample_period when with_settings), the call, and on failure the
// message, and what the card can tell about why. None of them leaves anything to undo beyond the
// open card.
struct CardStep {
    Stream before_stream = Stream::kErr;
    const char* before = nullptr;
    bool with_settings = false;
    int32_t (*call)(const LaserSettings& settings, int32_t card) = nullptr;
    Success success = Success::kAny;
    Stream failure_stream = Stream::kErr;
    const char* failure = nullptr;
    void (*diagnose)(int32_t card) = nullptr;
};

const CardStep kCardSteps[] = {
    {.call = [](const LaserSettings&, int32_t card) { return hsif_api.HsifResetBoard(card); },
     .success = Success::kNonZero,
     .failure = "Error: HsifResetBoard failed.\n"},
    {.call = [](const LaserSettings&,
                int32_t card) { return hsif_api.HsifLoadCalibrationData(card, kCalibrationFile); },
     .success = Success::kNonZero,
     .failure_stream = Stream::kOut,
     .failure = "ERROR: Could not read calibration file\n"},
    {.before_stream = Stream::kOut,
     .before = "max range %d sample period %d\n",
     .with_settings = true,
     .call =
         [](const LaserSettings& s, int32_t card) {
             return hsif_api.HsifSetSamplePeriod(card, kSamplePeriodMode, s.max_range,
                                                 s.sample_period);
         },
     .success = Success::kNonZero,
     .failure = "HsifSetSamplePeriod failed.\n",
     .diagnose = diagnose_sample_period},
    {.before = "HISF Card Calibration\n",
     .call = [](const LaserSettings&,
                int32_t card) { return hsif_api.HsifSetPollMode(card, kPollMode); }},
    {.call = [](const LaserSettings&,
                int32_t card) { return hsif_api.HsifClearSampleBuffer(card); }},
    {.call = [](const LaserSettings&, int32_t card) { return hsif_api.HsifCalibrate(card); },
     .success = Success::kExactlyOne,
     .failure = "Error: Could not get calibration value **\n"},
    {.before = "SamplingModeInit\n",
     .call = [](const LaserSettings&, int32_t card) { return hsif_api.HsifSamplingModeInit(card); },
     .success = Success::kExactlyOne,
     .failure = "Error: Could not initialize sampling mode\n"},
    {.call =
         [](const LaserSettings&, int32_t card) {
             return hsif_api.HsifClearEncoder(card, kEncodersToClear, kEncoderClearValue);
         },
     .success = Success::kExactlyOne,
     .failure = "Error: Failed to clear encoder1\n"},
    {.call =
         [](const LaserSettings&, int32_t card) {
             return hsif_api.HsifCalibrateEncoder(card, kMirrorEncoder, kEncoderOffset,
                                                  kMirrorCountsPerTurn);
         },
     .success = Success::kExactlyOne,
     .failure = "Error: Failed to set encoder1\n"},
    {.call =
         [](const LaserSettings&, int32_t card) {
             return hsif_api.HsifCalibrateEncoder(card, kPanEncoder, kEncoderOffset,
                                                  kPanCountsPerTurn);
         },
     .success = Success::kExactlyOne,
     .failure = "Error: Failed to set encoder2\n"},
    // This time only exactly 1 means the card took range and period.
    {.before = "max_range %d sample_period %d\n",
     .with_settings = true,
     .call =
         [](const LaserSettings& s, int32_t card) {
             return hsif_api.HsifSetSamplePeriod(card, kSamplePeriodMode, s.max_range,
                                                 s.sample_period);
         },
     .success = Success::kExactlyOne,
     .failure = "Error: Failed to set sample and range\n"},
};

// Runs one step; false when it failed (reported).
bool run_card_step(const CardStep& step, const LaserSettings& settings, int32_t card) {
    if (step.before != nullptr) {
        FILE* stream = stream_of(step.before_stream);
        if (step.with_settings) {
            std::fprintf(stream, step.before, static_cast<int>(settings.max_range),
                         static_cast<int>(settings.sample_period));
            std::fflush(stream);
        } else {
            say(stream, step.before);
        }
    }
    const int32_t result = step.call(settings, card);
    const bool ok = step.success == Success::kAny ||
                    (step.success == Success::kNonZero ? result != 0 : result == 1);
    if (!ok) {
        say(stream_of(step.failure_stream), step.failure);
        if (step.diagnose != nullptr) {
            step.diagnose(card);
        }
    }
    return ok;
}

}  // namespace

void say(FILE* stream, const char* text) {
    std::fputs(text, stream);
    std::fflush(stream);
}

bool configure_card(const LaserSettings& settings, int32_t card) {
    for (const CardStep& step : kCardSteps) {
        if (!run_card_step(step, settings, card)) {
            return false;
        }
    }
    return true;
}

}  // namespace laser
