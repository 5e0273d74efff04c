// The process pseudo-handle, priority classes over nice values, and processor affinity over
// sched_setaffinity.

#include <dirent.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "platform/posix/handles.hpp"

namespace platform::posix {
namespace {

// (HANDLE)-1, as GetCurrentProcess returns on Windows.
constexpr HANDLE kCurrentProcess = 0xFFFFFFFFu;

struct PriorityRow {
    DWORD priority_class;
    int nice;
};

// Nice values for the classes, spread as Windows spreads their base priorities (4, 6, 8, 10,
// 13) around normal.
constexpr PriorityRow kPriorities[] = {
    {IDLE_PRIORITY_CLASS, 19},  {BELOW_NORMAL_PRIORITY_CLASS, 10},
    {NORMAL_PRIORITY_CLASS, 0}, {ABOVE_NORMAL_PRIORITY_CLASS, -5},
    {HIGH_PRIORITY_CLASS, -10},
};

bool is_current_process(HANDLE process) {
    return process == kCurrentProcess;
}

// The ids of the process's threads; the process id alone when they cannot be listed.
std::vector<pid_t> thread_ids() {
    std::vector<pid_t> ids;
    if (DIR* dir = opendir("/proc/self/task")) {
        while (dirent* item = readdir(dir)) {
            if (item->d_name[0] != '.') {
                ids.push_back(static_cast<pid_t>(std::atoi(item->d_name)));
            }
        }
        closedir(dir);
    }
    if (ids.empty()) {
        ids.push_back(getpid());
    }
    return ids;
}

// EPERM and EACCES from the scheduler mean "not permitted": access denied, as on Windows.
BOOL fail_scheduler(int errno_value) {
    return fail(errno_value == EINVAL ? ERROR_INVALID_PARAMETER
                                      : windows_error(errno_value, ErrorContext::kTransfer));
}

}  // namespace
}  // namespace platform::posix

using namespace platform::posix;

HANDLE GetCurrentProcess() {
    return kCurrentProcess;
}

BOOL SetPriorityClass(HANDLE process, DWORD priority_class) {
    if (!is_current_process(process)) {
        return fail(ERROR_INVALID_HANDLE);
    }
    const PriorityRow* row = nullptr;
    for (const PriorityRow& candidate : kPriorities) {
        if (candidate.priority_class == priority_class) {
            row = &candidate;
        }
    }
    if (row == nullptr) {
        return fail(ERROR_INVALID_PARAMETER);
    }
    // Linux keeps a nice value per thread: every thread gets the class's, as a Windows priority
    // class covers all of them. A refusal on the first thread changes nothing.
    const std::vector<pid_t> threads = thread_ids();
    for (size_t i = 0; i < threads.size(); ++i) {
        if (setpriority(PRIO_PROCESS, static_cast<id_t>(threads[i]), row->nice) != 0) {
            const int error = errno;
            if (error == ESRCH) {
                continue;  // the thread ended meanwhile
            }
            return fail_scheduler(error);
        }
    }
    return TRUE;
}

DWORD GetPriorityClass(HANDLE process) {
    if (!is_current_process(process)) {
        fail(ERROR_INVALID_HANDLE);
        return 0;
    }
    errno = 0;
    const int nice = getpriority(PRIO_PROCESS, static_cast<id_t>(getpid()));
    if (nice == -1 && errno != 0) {
        fail_scheduler(errno);
        return 0;
    }
    DWORD nearest = NORMAL_PRIORITY_CLASS;
    int distance = 1000;
    for (const PriorityRow& row : kPriorities) {
        const int d = std::abs(row.nice - nice);
        if (d < distance) {
            distance = d;
            nearest = row.priority_class;
        }
    }
    return nearest;
}

BOOL SetProcessAffinityMask(HANDLE process, DWORD_PTR mask) {
    if (!is_current_process(process)) {
        return fail(ERROR_INVALID_HANDLE);
    }
    DWORD_PTR system_mask = 0;
    DWORD_PTR process_mask = 0;
    if (!GetProcessAffinityMask(process, &process_mask, &system_mask)) {
        return FALSE;
    }
    if (mask == 0 || (mask & ~system_mask) != 0) {
        return fail(ERROR_INVALID_PARAMETER);
    }
    cpu_set_t set;
    CPU_ZERO(&set);
    for (unsigned cpu = 0; cpu < 32; ++cpu) {
        if ((mask >> cpu) & 1u) {
            CPU_SET(cpu, &set);
        }
    }
    for (const pid_t thread : thread_ids()) {
        if (sched_setaffinity(thread, sizeof set, &set) != 0) {
            const int error = errno;
            if (error == ESRCH) {
                continue;
            }
            return fail_scheduler(error);
        }
    }
    return TRUE;
}

BOOL GetProcessAffinityMask(HANDLE process, PDWORD_PTR process_mask, PDWORD_PTR system_mask) {
    if (!is_current_process(process)) {
        return fail(ERROR_INVALID_HANDLE);
    }
    if (process_mask == nullptr || system_mask == nullptr) {
        return fail(ERROR_INVALID_PARAMETER);
    }
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) != 0) {
        return fail_scheduler(errno);
    }
    // The system's processors: those configured, of which a container may let the process use
    // only some.
    const long configured = sysconf(_SC_NPROCESSORS_CONF);
    DWORD_PTR system = 0;
    DWORD_PTR allowed = 0;
    for (unsigned cpu = 0; cpu < 32; ++cpu) {
        if (static_cast<long>(cpu) < configured) {
            system |= DWORD_PTR{1} << cpu;
        }
        if (CPU_ISSET(cpu, &set)) {
            allowed |= DWORD_PTR{1} << cpu;
        }
    }
    *process_mask = allowed;
    *system_mask = system;
    return TRUE;
}
