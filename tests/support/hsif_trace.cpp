#include "hsif_trace.hpp"

#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <regex>

#include "text.hpp"

namespace testsupport {

namespace {

constexpr const char* kResultMark = " -> ";
constexpr const char* kBlanks = " \t\n\v\f\r";
constexpr const char* kNameCharacters =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_";

std::string trim(const std::string& text) {
    const size_t begin = text.find_first_not_of(kBlanks);
    return begin == std::string::npos
               ? std::string()
               : text.substr(begin, text.find_last_not_of(kBlanks) + 1 - begin);
}

std::optional<int64_t> to_integer(const std::string& word) {
    char* end = nullptr;
    const long long value = std::strtoll(word.c_str(), &end, 10);
    return end == word.c_str() || *end != '\0' ? std::nullopt : std::optional<int64_t>(value);
}

// Cuts the argument text at commas and blanks outside double quotes; a surrounding pair of
// parentheses is dropped.
std::vector<std::string> split_args(std::string text) {
    text = trim(text);
    if (text.size() >= 2 && text.front() == '(' && text.back() == ')') {
        text = text.substr(1, text.size() - 2);
    }
    static const std::regex word(R"(("[^"]*"?|[^", \t])+)");
    return {std::sregex_token_iterator(text.begin(), text.end(), word),
            std::sregex_token_iterator()};
}

}  // namespace

std::optional<int64_t> HsifCall::int_arg(size_t i) const {
    return i < args.size() ? to_integer(args[i]) : std::nullopt;
}

std::optional<int64_t> HsifCall::int_result() const {
    return to_integer(result);
}

std::string HsifCall::describe() const {
    std::string text = name + "(";
    for (size_t i = 0; i < args.size(); ++i) {
        text += (i == 0 ? "" : ", ") + args[i];
    }
    return text + ")" + kResultMark + result;
}

std::vector<HsifCall> parse_hsif_trace(const std::string& text) {
    std::vector<HsifCall> calls;
    for (const std::string& raw : split(text, '\n')) {
        const std::string line = trim(raw);
        if (line.empty()) {
            continue;
        }
        HsifCall call;
        const size_t name_end = std::min(line.size(), line.find_first_not_of(kNameCharacters));
        call.name = line.substr(0, name_end);
        const size_t mark = line.rfind(kResultMark);
        const size_t args_end = mark == std::string::npos || mark < name_end ? line.size() : mark;
        call.args = split_args(line.substr(name_end, args_end - name_end));
        if (args_end < line.size()) {
            call.result = trim(line.substr(args_end + std::string(kResultMark).size()));
        }
        calls.push_back(call);
    }
    return calls;
}

std::vector<std::string> call_names(const std::vector<HsifCall>& calls) {
    std::vector<std::string> names(calls.size());
    std::transform(calls.begin(), calls.end(), names.begin(),
                   [](const HsifCall& c) { return c.name; });
    return names;
}

std::vector<HsifCall> calls_named(const std::vector<HsifCall>& calls, const std::string& name) {
    std::vector<HsifCall> found;
    std::copy_if(calls.begin(), calls.end(), std::back_inserter(found),
                 [&](const HsifCall& call) { return call.name == name; });
    return found;
}

std::string describe(const std::vector<HsifCall>& calls) {
    std::string text;
    for (const HsifCall& call : calls) {
        text += call.describe() + "\n";
    }
    return text;
}

}  // namespace testsupport
