// ahrs-sim's sent log read back.

#include "sent_log.hpp"

#include <sstream>

#include "text.hpp"

namespace testsupport {

std::vector<SentPacket> parse_sent_log(const std::string& text) {
    std::vector<SentPacket> packets;
    for (const std::string& line : split(text, '\n')) {
        std::istringstream words(line);
        SentPacket packet;
        std::string fate;
        if (!(words >> packet.index >> packet.tail_word >> packet.microseconds >> fate) ||
            (fate != "sent" && fate != "unheard")) {
            break;
        }
        packet.heard = fate == "sent";
        std::string fault;
        while (words >> fault) {
            if (fault == "checksum") {
                packet.bad_checksum = true;
                continue;
            }
            unsigned count = 0;
            words >> count;
            (fault == "dropped"    ? packet.dropped
             : fault == "inserted" ? packet.inserted
                                   : packet.corrupted) = count;
        }
        packets.push_back(packet);
    }
    return packets;
}

}  // namespace testsupport
