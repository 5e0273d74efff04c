#include "hsif_trace.hpp"

#include <cctype>
#include <cstdlib>

namespace testsupport {

namespace {

constexpr const char* kResultMark = " -> ";

std::string trim(const std::string& text) {
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && std::isspace(static_cast<unsigned char>(text[begin])) != 0) {
        ++begin;
    }
    while (end > begin && std::isspace(static_cast<unsigned char>(text[end - 1])) != 0) {
        --end;
    }
    return text.substr(begin, end - begin);
}

std::optional<int64_t> to_integer(const std::string& word) {
    if (word.empty()) {
        return std::nullopt;
    }
    char* end = nullptr;
    const long long value = std::strtoll(word.c_str(), &end, 10);
    if (end == word.c_str() || *end != '\0') {
        return std::nullopt;
    }
    return static_cast<int64_t>(value);
}

// Cuts the argument text at commas and blanks outside double quotes; a surrounding pair of
// parentheses is dropped.
std::vector<std::string> split_args(std::string text) {
    text = trim(text);
    if (text.size() >= 2 && text.front() == '(' && text.back() == ')') {
        text = text.substr(1, text.size() - 2);
    }
    std::vector<std::string> args;
    std::string word;
    bool quoted = false;
    for (char c : text) {
        if (c == '"') {
            quoted = !quoted;
            word += c;
        } else if (!quoted && (c == ',' || c == ' ' || c == '\t')) {
            if (!word.empty()) {
                args.push_back(word);
                word.clear();
            }
        } else {
            word += c;
        }
    }
    if (!word.empty()) {
        args.push_back(word);
    }
    return args;
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
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        const std::string line = trim(text.substr(start, end - start));
        start = end + 1;
        if (line.empty()) {
            continue;
        }
        HsifCall call;
        size_t name_end = 0;
        while (name_end < line.size() &&
               (std::isalnum(static_cast<unsigned char>(line[name_end])) != 0 ||
                line[name_end] == '_')) {
            ++name_end;
        }
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
    std::vector<std::string> names;
    names.reserve(calls.size());
    for (const HsifCall& call : calls) {
        names.push_back(call.name);
    }
    return names;
}

std::vector<HsifCall> calls_named(const std::vector<HsifCall>& calls, const std::string& name) {
    std::vector<HsifCall> found;
    for (const HsifCall& call : calls) {
        if (call.name == name) {
            found.push_back(call);
        }
    }
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
