// gps-sim's sent log read back, and NMEA 0183 sentences taken apart.

#include "gps_sent_log.hpp"

#include <cstdio>
#include <sstream>
#include <string_view>

#include "gps/sentence.hpp"

namespace testsupport {

std::vector<SentSentence> parse_gps_sent_log(const std::string& text) {
    std::vector<SentSentence> sentences;
    size_t begin = 0;
    for (size_t end = text.find('\n'); end != std::string::npos; end = text.find('\n', begin)) {
        std::istringstream words(text.substr(begin, end - begin));
        begin = end + 1;
        SentSentence sentence;
        std::string fate;
        std::string faults;
        if (!(words >> sentence.index >> sentence.microseconds >> fate >> faults >>
              sentence.text) ||
            (fate != "sent" && fate != "unheard") || sentence.text.empty() ||
            sentence.text[0] != '$') {
            break;
        }
        sentence.heard = fate == "sent";
        std::istringstream list(faults);
        for (std::string fault; std::getline(list, fault, ',');) {
            if (fault == "checksum") {
                sentence.bad_checksum = true;
            } else if (fault.rfind("garbage=", 0) == 0) {
                sentence.garbage = static_cast<unsigned>(std::stoul(fault.substr(8)));
            }
        }
        sentences.push_back(sentence);
    }
    return sentences;
}

std::vector<std::string> nmea_fields(const std::string& sentence) {
    const size_t star = sentence.find('*');
    const std::string body = sentence.substr(1, star == std::string::npos ? star : star - 1);
    std::vector<std::string> fields(1);
    for (char c : body) {
        if (c == ',') {
            fields.emplace_back();
        } else {
            fields.back() += c;
        }
    }
    return fields;
}

bool nmea_checksum_ok(const std::string& sentence) {
    const size_t star = sentence.find('*');
    if (sentence.empty() || sentence[0] != '$' || star == std::string::npos ||
        star + 3 != sentence.size()) {
        return false;
    }
    char expected[3];
    std::snprintf(expected, sizeof expected, "%02X",
                  gps::nmea_checksum(std::string_view(sentence).substr(1, star - 1)));
    return sentence.compare(star + 1, 2, expected) == 0;
}

}  // namespace testsupport
