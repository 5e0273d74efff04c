#include "simulated_receiver.hpp"

#include <algorithm>
#include <cstdlib>
#include <regex>

#include "text.hpp"

namespace testsupport {

std::string SimulatedReceiver::start(const std::vector<std::string>& options) {
    std::vector<std::string> argv{e2e_target().gps_sim, "--sent-log", sent_log_.string()};
    argv.insert(argv.end(), options.begin(), options.end());
    return start_device(argv);
}

std::vector<SentSentence> SimulatedReceiver::sent() const {
    return parse_gps_sent_log(read_file(sent_log_));
}

std::vector<GpsLine> parse_gps_file(const std::string& file) {
    std::vector<GpsLine> lines;
    size_t start = 0;
    for (size_t end = file.find('\n'); end != std::string::npos;
         start = end + 1, end = file.find('\n', start)) {
        const std::string line = file.substr(start, end - start);
        GpsLine parsed;
        const size_t blank = line.find(' ');
        char* after = nullptr;
        const double seconds = std::strtod(line.c_str(), &after);
        if (blank != std::string::npos && after == line.c_str() + blank) {
            parsed.seconds = seconds;
            parsed.text = line.substr(blank + 1);
            if (parsed.text.starts_with("#")) {
                const size_t space = parsed.text.find(' ');
                parsed.reason =
                    parsed.text.substr(1, space == std::string::npos ? space : space - 1);
                parsed.text = space == std::string::npos ? "" : parsed.text.substr(space + 1);
            }
        } else {
            parsed.text = line;
        }
        lines.push_back(parsed);
    }
    return lines;
}

std::vector<GpsLine> valid_sentences(const std::vector<GpsLine>& lines) {
    std::vector<GpsLine> sentences;
    std::copy_if(lines.begin(), lines.end(), std::back_inserter(sentences),
                 [](const GpsLine& line) { return line.reason.empty(); });
    return sentences;
}

std::string check_sentences_kept(const std::vector<SentSentence>& sent,
                                 const std::vector<GpsLine>& lines,
                                 std::vector<SentSentence>* kept) {
    std::vector<SentSentence> heard;
    std::copy_if(sent.begin(), sent.end(), std::back_inserter(heard),
                 [](const SentSentence& s) { return s.heard && !s.bad_checksum; });
    const std::vector<GpsLine> sentences = valid_sentences(lines);
    if (sentences.empty()) {
        return "no sentence in the GPS file";
    }
    auto at = std::find_if(heard.begin(), heard.end(),
                           [&](const SentSentence& s) { return s.text == sentences[0].text; });
    for (const GpsLine& line : sentences) {
        if (at == heard.end() || at->text != line.text) {
            return "the GPS file's sentence \"" + line.text + "\" is not the receiver's next one";
        }
        if (kept != nullptr) {
            kept->push_back(*at);
        }
        ++at;
    }
    return {};
}

std::optional<GpsSummary> parse_gps_summary(const std::string& out) {
    static const std::regex kLine("GPS - ([0-9]+) sentences, ([0-9]+) invalid, ([0-9]+) fixes\n");
    std::smatch m;
    if (!std::regex_search(out, m, kLine)) {
        return std::nullopt;
    }
    return GpsSummary{static_cast<unsigned>(std::stoul(m[1])),
                      static_cast<unsigned>(std::stoul(m[2])),
                      static_cast<unsigned>(std::stoul(m[3]))};
}

}  // namespace testsupport
