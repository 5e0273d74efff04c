// capture-tool: a command line over the capture utilities. Checks capture configuration files,
// writes and lists capture headers, tunes the process, reads file versions and splits file names.
//
// Exit codes: 0 success, 1 the operation failed, 2 the command line is wrong.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <vector>

#include "commands.hpp"

namespace {

using capture_tool::kExitFailure;
using capture_tool::kExitSuccess;
using capture_tool::kExitUsage;
using capture_tool::Tuning;

// What a command receives: its positional words, and the one option (write-header's --model).
struct Arguments {
    std::vector<const char*> words;
    uint8_t sensor_model = 0;
};

struct Command {
    const char* name;
    const char* usage;  // the words after "capture-tool"
    const char* about;  // what it does, for its --help
    size_t min_words;
    size_t max_words;
    bool takes_model;  // accepts --model 0|1
    // Null, or checks the words before the command runs: returns the first word it does not
    // know, or null when all are right.
    const char* (*check)(const Arguments& args);
    int (*run)(const Arguments& args);
};

struct TuningWord {
    const char* word;
    Tuning tuning;
};

constexpr TuningWord kTunings[] = {
    {"above-normal", Tuning::kAboveNormal},
    {"first-cpu", Tuning::kFirstCpu},
    {"normal", Tuning::kNormal},
};

int run_config(const Arguments& args) {
    return capture_tool::check_config(args.words[0]);
}

int run_header(const Arguments& args) {
    return capture_tool::list_header(args.words[0]);
}

int run_write_header(const Arguments& args) {
    return capture_tool::write_header(args.words[0], args.words[1], args.sensor_model);
}

int run_version(const Arguments& args) {
    return capture_tool::print_version(args.words.empty() ? nullptr : args.words[0]);
}

const TuningWord* find_tuning(const char* word) {
    for (const TuningWord& t : kTunings) {
        if (std::strcmp(word, t.word) == 0) {
            return &t;
        }
    }
    return nullptr;
}

const char* check_tune(const Arguments& args) {
    return find_tuning(args.words[0]) == nullptr ? args.words[0] : nullptr;
}

int run_tune(const Arguments& args) {
    // check_tune has accepted the word.
    return capture_tool::tune(find_tuning(args.words[0])->tuning);
}

int run_split(const Arguments& args) {
    return capture_tool::split_path(args.words[0]);
}

constexpr Command kCommands[] = {
    {"config", "config FILE",
     "Reads the capture configuration file FILE, echoes every value it takes and reports\n"
     "every line it cannot use. Exits with 0 when every parameter was taken, else 1.",
     1, 1, false, nullptr, run_config},
    {"header", "header FILE",
     "Reads the capture header at the start of the capture data file FILE and lists its\n"
     "fields. Exits with 0 when the header is valid, else 1.",
     1, 1, false, nullptr, run_header},
    {"write-header", "write-header CONFIG OUT [--model 0|1]",
     "Reads the capture configuration file CONFIG and writes a version-3 capture header made\n"
     "from it into the new file OUT, with sensor model 0 (50 kHz, the default) or 1 (200 kHz).\n"
     "An existing OUT is never overwritten, and nothing is written when CONFIG has errors.",
     2, 2, true, nullptr, run_write_header},
    {"version", "version [FILE]",
     "Prints the file version of FILE, or of capture-tool itself, as four numbers. Exits with\n"
     "1 and prints nothing when there is none (on Linux no file has one).",
     0, 1, false, nullptr, run_version},
    {"tune", "tune above-normal|first-cpu|normal",
     "Sets this process's priority above normal, its affinity to the first processor, or its\n"
     "priority back to normal, and says what was set: it shows whether this account may tune\n"
     "a capture. Exits with 1 after the system's message when that is not permitted.",
     1, 1, false, check_tune, run_tune},
    {"split", "split PATH",
     "Prints the file name of PATH (its last component after \"\\\", lower-cased, without\n"
     "the extension), then its extension, or an empty line when it has none.",
     1, 1, false, nullptr, run_split},
};

constexpr const char* kSummary =
    "Checks capture configuration files, writes and lists capture file headers, tunes the\n"
    "process for a capture and reads file versions.\n";

void print_usage(FILE* stream) {
    std::fputs("usage: capture-tool COMMAND [ARGUMENTS]\n", stream);
    std::fputs(kSummary, stream);
    std::fputs("\ncommands:\n", stream);
    for (const Command& c : kCommands) {
        std::fprintf(stream, "  capture-tool %s\n", c.usage);
    }
    std::fputs(
        "\n\"capture-tool COMMAND --help\" describes one command.\n"
        "Exit codes: 0 success, 1 failure, 2 wrong command line.\n",
        stream);
}

void print_command_help(const Command& command) {
    std::printf("usage: capture-tool %s\n%s\n", command.usage, command.about);
}

// Reports a wrong command line for one command on standard error; returns kExitUsage.
int usage_error(const Command& command, const char* problem, const char* word) {
    std::fprintf(stderr, "capture-tool %s: %s%s%s\n", command.name, problem, word ? ": " : "",
                 word ? word : "");
    std::fprintf(stderr, "usage: capture-tool %s\n", command.usage);
    return kExitUsage;
}

bool is_help(std::string_view word) {
    return word == "--help" || word == "-h";
}

const Command* find_command(std::string_view name) {
    for (const Command& c : kCommands) {
        if (name == c.name) {
            return &c;
        }
    }
    return nullptr;
}

// Runs one command with the words after its name. Words beginning with "--" are options; all
// others are the command's arguments.
int run_command(const Command& command, int argc, char** argv) {
    for (int i = 0; i < argc; ++i) {
        if (is_help(argv[i])) {
            print_command_help(command);
            return kExitSuccess;
        }
    }
    Arguments args;
    for (int i = 0; i < argc; ++i) {
        const std::string_view word = argv[i];
        if (command.takes_model && word == "--model") {
            if (i + 1 >= argc) {
                return usage_error(command, "--model needs a value, 0 or 1", nullptr);
            }
            const std::string_view value = argv[++i];
            if (value != "0" && value != "1") {
                return usage_error(command, "--model takes 0 or 1, not", argv[i]);
            }
            args.sensor_model = static_cast<uint8_t>(value[0] - '0');
        } else if (word.size() > 2 && word.substr(0, 2) == "--") {
            return usage_error(command, "unknown option", argv[i]);
        } else {
            args.words.push_back(argv[i]);
        }
    }
    if (args.words.size() < command.min_words || args.words.size() > command.max_words) {
        return usage_error(
            command,
            args.words.size() < command.min_words ? "too few arguments" : "too many arguments",
            nullptr);
    }
    if (command.check != nullptr) {
        if (const char* wrong = command.check(args); wrong != nullptr) {
            return usage_error(command, "unknown word", wrong);
        }
    }
    return command.run(args);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        print_usage(stderr);
        return kExitUsage;
    }
    const std::string_view name = argv[1];
    if (is_help(name)) {
        print_usage(stdout);
        return kExitSuccess;
    }
    const Command* command = find_command(name);
    if (command == nullptr) {
        std::fprintf(stderr, "capture-tool: unknown command: %s\n", argv[1]);
        print_usage(stderr);
        return kExitUsage;
    }
    return run_command(*command, argc - 2, argv + 2);
}
