#pragma once
// The simulated GPS receiver of an end-to-end test: gps-sim on a link in the test's folder, the
// port a program of the target opens for it, and what it sent; the GPS file and the GPS summary
// line read back.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "e2e_target.hpp"
#include "gps_sent_log.hpp"

namespace testsupport {

// The COM port the Windows program is given for the receiver under Wine.
constexpr int kReceiverComNumber = 6;

// A GPS port word that names no device, given to runs that record no GPS, and the one line the
// program prints about it on stderr.
constexpr const char* kNoGpsPort = "no-gps-port";
constexpr const char* kNoGpsLine =
    "GPS - could not open serial port no-gps-port, 2: recording without GPS\n";

class SimulatedReceiver : public SimulatedDevice {
public:
    // The receiver of the test folder dir: its link dir/gps-link, its sent log dir/gps-sent.log.
    explicit SimulatedReceiver(const std::filesystem::path& dir)
        : SimulatedDevice(dir / "gps-link", kReceiverComNumber), sent_log_(dir / "gps-sent.log") {}

    // Starts gps-sim with options and makes the port for it. Returns an empty text, or why the
    // receiver could not start.
    std::string start(const std::vector<std::string>& options);
    // What the receiver has sent so far.
    std::vector<SentSentence> sent() const;

private:
    std::filesystem::path sent_log_;
};

// One line of a GPS file: "<seconds> <sentence>" or "<seconds> #<reason> <bytes>".
struct GpsLine {
    double seconds = -1;  // below zero: the line does not start with a time and a blank
    std::string reason;   // empty for a sentence; "lost" for "#lost <n>"
    std::string text;     // the sentence, or the bytes after the reason
};

// The lines of a GPS file's text (a last line without its "\n" left out).
std::vector<GpsLine> parse_gps_file(const std::string& file);

// The valid sentences of a GPS file's lines, in order.
std::vector<GpsLine> valid_sentences(const std::vector<GpsLine>& lines);

// Empty when the valid sentences of lines are the receiver's heard sentences with a right
// checksum, one after the other from the first one kept (nothing lost or reordered); otherwise
// what is wrong. *kept (when not null) receives the sent sentences matched, in order.
std::string check_sentences_kept(const std::vector<SentSentence>& sent,
                                 const std::vector<GpsLine>& lines,
                                 std::vector<SentSentence>* kept = nullptr);

struct GpsSummary {
    unsigned sentences = 0;
    unsigned invalid = 0;
    unsigned fixes = 0;
};

// The line "GPS - %u sentences, %u invalid, %u fixes" in console text; nullopt when there is none.
std::optional<GpsSummary> parse_gps_summary(const std::string& out);

}  // namespace testsupport
