// The tuning operations in a child process of their own, so the test program keeps its priority
// and processors: success where the system permits it, and the failure messages where it does
// not, provoked by dropping the child's privileges.

#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>

#include "capture_config/tuning.hpp"
#include "child_process.hpp"

namespace {

// The child's exit code when it cannot set up what the case needs.
constexpr int kCannotPrepare = 77;

struct Outcome {
    int exit_code = -1;  // the operation's result, or kCannotPrepare
    std::string out;     // the child's standard output
};

// Runs prepare and then operation in a child process whose standard output is a pipe; the child
// exits with the operation's result, or kCannotPrepare when prepare returns false.
Outcome in_child(const std::function<bool()>& prepare, int32_t (*operation)()) {
    const testsupport::ChildRun run = testsupport::run_in_child([&](int fd) {
        dup2(fd, STDOUT_FILENO);
        close(fd);
        if (!prepare()) {
            return kCannotPrepare;
        }
        const int32_t result = operation();
        std::fflush(stdout);
        return static_cast<int>(result);
    });
    return {run.exit_code, run.text};
}

// Leaves the child without the right to raise its priority: no nice headroom, and (as root) the
// unprivileged user, which drops the capability that overrides the limit.
bool drop_privileges() {
    const rlimit none{0, 0};
    if (setrlimit(RLIMIT_NICE, &none) != 0) {
        return false;
    }
    if (geteuid() == 0) {
        constexpr uid_t kNobody = 65534;
        if (setgid(kNobody) != 0 || setuid(kNobody) != 0) {
            return false;
        }
    }
    return true;
}

// The system's text for ERROR_ACCESS_DENIED, as Windows words it.
constexpr char kAccessDenied[] = "Access is denied.\r\n";

// A failure prints the error code in decimal and in eight hexadecimal digits, what failed and the
// system's text for the code, and returns 0.
TEST(TuningFailure, PrintsTheCodeAndTheSystemsText) {
    struct Case {
        const char* legend;
        std::function<bool()> prepare;
        int32_t (*operation)();
        std::string expected;
    };
    const Case cases[] = {
        {"raising the priority without the right to", drop_privileges,
         capture_config::set_priority_above_normal,
         std::string("Error 5 (0x00000005)\nFailed to set process priority to above normal:\n  ") +
             kAccessDenied + "\n"},
        {"back to normal from a lowered priority without the right to raise it",
         [] { return setpriority(PRIO_PROCESS, 0, 10) == 0 && drop_privileges(); },
         capture_config::set_priority_normal,
         std::string("Error 5 (0x00000005)\nFailed to set process priority to normal:\n  ") +
             kAccessDenied + "\n"},
    };
    for (const Case& c : cases) {
        const Outcome o = in_child(c.prepare, c.operation);
        if (o.exit_code == kCannotPrepare) {
            GTEST_SKIP() << "cannot drop privileges here: " << c.legend;
        }
        EXPECT_EQ(o.exit_code, 0) << c.legend;
        EXPECT_EQ(o.out, c.expected) << c.legend;
    }
}

// Where the system permits it, each operation succeeds silently and has its effect.
TEST(TuningSuccess, EachOperationTakesEffect) {
    struct Case {
        const char* legend;
        std::function<bool()> prepare;  // false: the case cannot run here
        int32_t (*operation)();         // the operation's result, or 2 when it had no effect
    };
    const Case cases[] = {
        {"priority normal: nice 0", [] { return true; },
         [] {
             const int32_t result = capture_config::set_priority_normal();
             return getpriority(PRIO_PROCESS, 0) == 0 ? result : 2;
         }},
        // Raising the priority needs the right to; as root it is there.
        {"priority above normal: a negative nice value", [] { return geteuid() == 0; },
         [] {
             const int32_t result = capture_config::set_priority_above_normal();
             return getpriority(PRIO_PROCESS, 0) < 0 ? result : 2;
         }},
        // The first processor must be one this process may use.
        {"affinity: processor 0 alone",
         [] {
             cpu_set_t set;
             CPU_ZERO(&set);
             return sched_getaffinity(0, sizeof set, &set) == 0 && CPU_ISSET(0, &set);
         },
         [] {
             const int32_t result = capture_config::set_affinity_first_cpu();
             cpu_set_t set;
             CPU_ZERO(&set);
             const bool only_first = sched_getaffinity(0, sizeof set, &set) == 0 &&
                                     CPU_COUNT(&set) == 1 && CPU_ISSET(0, &set);
             return only_first ? result : 2;
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.legend);
        const Outcome o = in_child(c.prepare, c.operation);
        if (o.exit_code != kCannotPrepare) {
            EXPECT_EQ(o.exit_code, 1) << o.out;
            EXPECT_EQ(o.out, "");
        }
    }
}

}  // namespace
