#pragma once
// Running the Windows build under Wine for the end-to-end tests: the project's Wine prefix (through
// tests/support/wine-run), its persistent wineserver, and COM ports mapped onto pseudo-terminals.

#include <sys/types.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace testsupport {

// Path of the wine-run script: $MORVANE_WINE_RUN, else the one beside this file's source.
std::string wine_run_script();

// Runs wine-run with args ("--setup": the prefix made when needed, its wineserver and services
// kept up on /dev/null; "--cleanup": that server stopped) and waits for it. Returns its exit code
// (-1 when it did not end) and puts what it printed in *output.
int wine_run(const std::vector<std::string>& args, std::string* output);

// Maps COM<number> of the prefix onto path (a device or a symlink to one, such as the simulator's
// --link). While it lives, every pseudo-terminal that path resolves to is made the controlling
// terminal of a placeholder process, so the wineserver (a session leader without one) never
// adopts it; when it does, a hang-up of the device floods its stderr. The destructor ends the
// placeholders.
class ComMapping {
public:
    ComMapping(int number, std::string path);
    ComMapping(const ComMapping&) = delete;
    ComMapping& operator=(const ComMapping&) = delete;
    ~ComMapping();

    // False, with the reason in error(), when the mapping could not be made.
    bool ok() const { return error_.empty(); }
    const std::string& error() const { return error_; }

private:
    void watch();
    // Makes the pseudo-terminal path_ resolves to, when not held yet, a placeholder's terminal.
    void hold_new_device();

    int number_;
    std::string path_;
    std::string error_;
    std::atomic<bool> stop_{false};
    std::vector<std::string> held_;
    std::vector<pid_t> placeholders_;
    std::thread watcher_;
};

}  // namespace testsupport
