// The simulator's state and the call recorder.

#include "simulator.hpp"

#include <cinttypes>

namespace hsif_sim {
namespace {

Simulator& storage() {
    static Simulator state;
    return state;
}

bool started = false;

void open_trace(Simulator* sim) {
    if (sim->trace != nullptr) {
        std::fclose(sim->trace);
        sim->trace = nullptr;
    }
    if (!sim->config.trace_path.empty()) {
        // Binary mode: the trace has plain "\n" line ends on every platform.
        sim->trace = std::fopen(sim->config.trace_path.c_str(), "ab");
    }
}

}  // namespace

Simulator& simulator() {
    if (!started) {
        reinitialise();
    }
    return storage();
}

void reinitialise() {
    started = true;
    Simulator& sim = storage();
    sim.config = read_config();
    // The program shows the library's standard error: each refused control is named there once
    // per reading, and the port open that the program checks fails (see refused()).
    for (const std::string& line : sim.config.refused) {
        std::fprintf(stderr, "hsif-sim: %s; HsifOpenPort fails\n", line.c_str());
    }
    sim.calls.clear();
    open_trace(&sim);
    sim.card = Card{};
    sim.card.noise = Noise(sim.config.seed);
}

void reset_card(Card* card) {
    Card fresh;
    fresh.open = card->open;
    fresh.board = card->board;
    fresh.handle = card->handle;
    fresh.lines = card->lines;
    fresh.noise = card->noise;
    fresh.seconds = card->seconds;
    fresh.sequence = card->sequence;
    *card = fresh;
}

void Call::append(int32_t value) {
    line_ += ' ';
    line_ += std::to_string(value);
}

void Call::append(Text value) {
    line_ += ' ';
    if (value.text == nullptr) {
        line_ += "null";
        return;
    }
    line_ += '"';
    for (const char* c = value.text; *c != '\0'; ++c) {
        const auto byte = static_cast<unsigned char>(*c);
        if (byte == '"' || byte == '\\') {
            line_ += '\\';
            line_ += *c;
        } else if (byte < 0x20 || byte >= 0x7F) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02X", byte);
            line_ += escape;
        } else {
            line_ += *c;
        }
    }
    line_ += '"';
}

void Call::append(const void* pointer) {
    line_ += pointer != nullptr ? " ptr" : " null";
}

void Call::begin() {
    Simulator& sim = simulator();
    const int64_t number = ++sim.calls[name_];
    for (const FailRule& rule : sim.config.fail) {
        if (rule.name == name_ && (rule.call == 0 || rule.call == number)) {
            injected_ = true;
        }
    }
}

int32_t Call::finish(int32_t result) {
    Simulator& sim = simulator();
    if (sim.trace != nullptr) {
        line_ += " -> ";
        line_ += std::to_string(result);
        line_ += '\n';
        std::fwrite(line_.data(), 1, line_.size(), sim.trace);
        std::fflush(sim.trace);
    }
    return result;
}

}  // namespace hsif_sim
