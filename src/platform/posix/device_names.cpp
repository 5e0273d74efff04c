// Windows device names mapped onto POSIX paths.

#include "platform/posix/device_names.hpp"

#include <cctype>

namespace platform::posix {

std::string device_path(const char* name) {
    std::string text = name;
    std::string rest = text;
    if (rest.rfind("\\\\.\\", 0) == 0) {
        rest = rest.substr(4);
    }
    if (rest.size() > 3 && std::tolower(static_cast<unsigned char>(rest[0])) == 'c' &&
        std::tolower(static_cast<unsigned char>(rest[1])) == 'o' &&
        std::tolower(static_cast<unsigned char>(rest[2])) == 'm') {
        unsigned long number = 0;
        bool digits = rest.size() <= 3 + 6;
        for (size_t i = 3; i < rest.size() && digits; ++i) {
            if (!std::isdigit(static_cast<unsigned char>(rest[i]))) {
                digits = false;
            } else {
                number = number * 10 + static_cast<unsigned long>(rest[i] - '0');
            }
        }
        if (digits && number >= 1) {
            return "/dev/ttyS" + std::to_string(number - 1);
        }
    }
    return text;
}

}  // namespace platform::posix
