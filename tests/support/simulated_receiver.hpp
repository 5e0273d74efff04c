#pragma once
// The simulated GPS receiver of an end-to-end test: gps-sim on a link in the test's folder, the
// port a program of the target opens for it, and what it sent; the GPS file and the GPS summary
// line read back.

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "e2e_target.hpp"
#include "gps_sent_log.hpp"
#include "process.hpp"

namespace testsupport {

// The COM port the Windows program is given for the receiver under Wine.
constexpr int kReceiverComNumber = 6;

// A GPS port word that names no device, given to runs that record no GPS, and the one line the
// program prints about it on stderr.
constexpr const char* kNoGpsPort = "no-gps-port";
constexpr const char* kNoGpsLine =
    "GPS - could not open serial port no-gps-port, 2: recording without GPS\n";

// err without the line kNoGpsLine (once), for tests of the other recordings.
std::string without_no_gps_line(const std::string& err);

class SimulatedReceiver {
public:
    // The receiver of the test folder dir: its link dir/gps-link, its sent log dir/gps-sent.log.
    explicit SimulatedReceiver(std::filesystem::path dir) : dir_(std::move(dir)) {}
    SimulatedReceiver(const SimulatedReceiver&) = delete;
    SimulatedReceiver& operator=(const SimulatedReceiver&) = delete;
    ~SimulatedReceiver();

    // Starts gps-sim with options and makes the port for it. Returns an empty text, or why the
    // receiver could not start.
    std::string start(const std::vector<std::string>& options);

    // The port word a program of the target opens: the link natively, COM6 under Wine.
    std::string port() const;
    // What the receiver has sent so far.
    std::vector<SentSentence> sent() const;
    std::string status() const { return sim_ ? sim_->err() : std::string(); }

private:
    std::filesystem::path dir_;
    std::unique_ptr<Process> sim_;
    std::unique_ptr<TargetPort> port_;
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
