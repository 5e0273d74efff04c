// The process pseudo-handle, priority classes and processor affinity as on Windows. Each check
// runs in a child process, so the test program's own priority and affinity stay as they were;
// what the system permits is asked of the system itself, with the same calls the layer makes.

#include <gtest/gtest.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <string>

#include "child.hpp"
#include "platform/win32.hpp"

namespace {

// What a child reports: empty when every check held and it exited, else the first complaint.
std::string in_child(const std::function<std::string()>& body) {
    return platform_test::in_child(body).complaint;
}

int own_nice() {
    return getpriority(PRIO_PROCESS, static_cast<id_t>(getpid()));
}

TEST(CurrentProcess, IsTheConstantPseudoHandle) {
    EXPECT_EQ(GetCurrentProcess(), static_cast<HANDLE>(-1));
    EXPECT_EQ(GetCurrentProcess(), GetCurrentProcess());
}

// Classes that lower the priority are always permitted; each takes its nice value and reads
// back as itself.
TEST(PriorityClass, LoweringIsAlwaysPermitted) {
    struct Case {
        const char* legend;
        DWORD priority_class;
        int nice;
    };
    const Case cases[] = {
        {"below normal", BELOW_NORMAL_PRIORITY_CLASS, 10},
        {"idle", IDLE_PRIORITY_CLASS, 19},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(in_child([&c]() -> std::string {
                      if (!SetPriorityClass(GetCurrentProcess(), c.priority_class)) {
                          return "refused with " + std::to_string(GetLastError());
                      }
                      if (own_nice() != c.nice) {
                          return "nice " + std::to_string(own_nice());
                      }
                      if (GetPriorityClass(GetCurrentProcess()) != c.priority_class) {
                          return "reads back as another class";
                      }
                      return "";
                  }),
                  "")
            << c.legend;
    }
}

// Raising the priority succeeds where the system permits it and otherwise fails with
// ERROR_ACCESS_DENIED, leaving the priority as it was. Back to normal from a lowered priority is
// a raise too.
TEST(PriorityClass, RaisingFailsWithAccessDeniedWhenNotPermitted) {
    struct Case {
        const char* legend;
        int start_nice;
        DWORD priority_class;
        int nice;
    };
    const Case cases[] = {
        {"above normal from normal", 0, ABOVE_NORMAL_PRIORITY_CLASS, -5},
        {"high from normal", 0, HIGH_PRIORITY_CLASS, -10},
        {"normal from below normal", 10, NORMAL_PRIORITY_CLASS, 0},
    };
    if (own_nice() != 0) {
        GTEST_SKIP() << "the tests run at nice " << own_nice();
    }
    for (const Case& c : cases) {
        const bool permitted =
            in_child([&c] {
                if (setpriority(PRIO_PROCESS, 0, c.start_nice) != 0) {
                    return "start";
                }
                return setpriority(PRIO_PROCESS, 0, c.nice) == 0 ? "" : "refused";
            }).empty();
        EXPECT_EQ(in_child([&c, permitted]() -> std::string {
                      if (setpriority(PRIO_PROCESS, 0, c.start_nice) != 0) {
                          return "cannot start at nice " + std::to_string(c.start_nice);
                      }
                      SetLastError(0);
                      const BOOL ok = SetPriorityClass(GetCurrentProcess(), c.priority_class);
                      if (permitted) {
                          return ok && own_nice() == c.nice ? "" : "not set though permitted";
                      }
                      if (ok) {
                          return "set though not permitted";
                      }
                      if (GetLastError() != ERROR_ACCESS_DENIED) {
                          return "error " + std::to_string(GetLastError());
                      }
                      return own_nice() == c.start_nice ? "" : "the priority changed";
                  }),
                  "")
            << c.legend << (permitted ? " (permitted here)" : " (not permitted here)");
    }
}

TEST(PriorityClass, BadArgumentsAreRefused) {
    SetLastError(0);
    EXPECT_FALSE(SetPriorityClass(GetCurrentProcess(), 0x12345));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    SetLastError(0);
    EXPECT_FALSE(SetPriorityClass(0x100, NORMAL_PRIORITY_CLASS));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

// SetProcessAffinityMask with the first processor: the process then runs there alone (when the
// system lets it use that processor). Masks of no processor, or of processors the system does
// not have, are refused with ERROR_INVALID_PARAMETER and change nothing.
TEST(Affinity, TheFirstProcessorAndRefusedMasks) {
    DWORD_PTR process_mask = 0;
    DWORD_PTR system_mask = 0;
    ASSERT_TRUE(GetProcessAffinityMask(GetCurrentProcess(), &process_mask, &system_mask));
    EXPECT_NE(system_mask, 0u);
    EXPECT_EQ(process_mask & ~system_mask, 0u) << "the process's processors are the system's";

    const bool first_allowed = (process_mask & 1u) != 0;
    EXPECT_EQ(in_child([first_allowed]() -> std::string {
                  const BOOL ok = SetProcessAffinityMask(GetCurrentProcess(), 0x01);
                  cpu_set_t set;
                  CPU_ZERO(&set);
                  sched_getaffinity(0, sizeof set, &set);
                  if (!first_allowed) {
                      return !ok && GetLastError() == ERROR_INVALID_PARAMETER ? "" : "not refused";
                  }
                  if (!ok) {
                      return "refused with " + std::to_string(GetLastError());
                  }
                  return CPU_COUNT(&set) == 1 && CPU_ISSET(0, &set) ? ""
                                                                    : "not on processor 0 alone";
              }),
              "");

    struct Case {
        const char* legend;
        DWORD_PTR mask;
    };
    const long cpus = sysconf(_SC_NPROCESSORS_CONF);
    const Case cases[] = {
        {"no processor", 0},
        {"a processor beyond the system's", cpus < 32 ? DWORD_PTR{1} << cpus : 0},
        {"the last bit", cpus < 32 ? DWORD_PTR{0x80000000u} : 0},
    };
    for (const Case& c : cases) {
        SetLastError(0);
        EXPECT_FALSE(SetProcessAffinityMask(GetCurrentProcess(), c.mask)) << c.legend;
        EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER) << c.legend;
    }
    DWORD_PTR after = 0;
    ASSERT_TRUE(GetProcessAffinityMask(GetCurrentProcess(), &after, &system_mask));
    EXPECT_EQ(after, process_mask) << "refused masks change nothing";
}

}  // namespace
