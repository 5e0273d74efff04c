// Events in the handle table and waiting: CreateEventA, SetEvent, ResetEvent,
// WaitForSingleObject and Sleep.

#include <cerrno>
#include <chrono>
#include <ctime>

#include "platform/posix/handles.hpp"

namespace platform::posix {
namespace {

std::shared_ptr<HandleEntry> event_entry(HANDLE handle) {
    return of_kind(find_object(handle), HandleKind::kEvent, ERROR_INVALID_HANDLE);
}

}  // namespace

bool signal_event(HANDLE handle) {
    // Called on the success path of transfers: a stale event handle must not change the last
    // error the caller sees.
    const DWORD saved = GetLastError();
    std::shared_ptr<HandleEntry> entry = event_entry(handle);
    if (!entry) {
        SetLastError(saved);
        return false;
    }
    {
        std::lock_guard lock(entry->mutex);
        entry->event.signalled = true;
    }
    entry->event.changed.notify_all();
    return true;
}

}  // namespace platform::posix

using namespace platform::posix;

HANDLE CreateEventA(LPSECURITY_ATTRIBUTES, BOOL manual_reset, BOOL initial_state, LPCSTR name) {
    if (name != nullptr) {
        fail(ERROR_NOT_SUPPORTED);
        return 0;
    }
    auto entry = std::make_shared<HandleEntry>();
    entry->kind = HandleKind::kEvent;
    entry->event.manual_reset = manual_reset != FALSE;
    entry->event.signalled = initial_state != FALSE;
    const HANDLE handle = add_object(std::move(entry));
    return handle == INVALID_HANDLE_VALUE ? 0 : handle;
}

BOOL SetEvent(HANDLE event) {
    if (event_entry(event) == nullptr) {
        return FALSE;
    }
    return signal_event(event) ? TRUE : fail(ERROR_INVALID_HANDLE);
}

BOOL ResetEvent(HANDLE event) {
    std::shared_ptr<HandleEntry> entry = event_entry(event);
    if (!entry) {
        return FALSE;
    }
    std::lock_guard lock(entry->mutex);
    entry->event.signalled = false;
    return TRUE;
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    std::shared_ptr<HandleEntry> entry = find_handle(handle);
    if (!entry) {
        return WAIT_FAILED;
    }
    if (entry->kind != HandleKind::kEvent) {
        return WAIT_OBJECT_0;
    }
    std::unique_lock lock(entry->mutex);
    const auto is_signalled = [&entry] { return entry->event.signalled; };
    if (milliseconds == INFINITE) {
        entry->event.changed.wait(lock, is_signalled);
    } else {
        // A steady-clock deadline: a wakeup without a signal waits on for the time left.
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
        if (!entry->event.changed.wait_until(lock, deadline, is_signalled)) {
            return WAIT_TIMEOUT;
        }
    }
    if (!entry->event.manual_reset) {
        entry->event.signalled = false;
    }
    return WAIT_OBJECT_0;
}

void Sleep(DWORD milliseconds) {
    // An absolute monotonic deadline, so a signal that interrupts the sleep neither shortens
    // nor lengthens it.
    timespec deadline{};
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_sec += static_cast<time_t>(milliseconds / 1000);
    deadline.tv_nsec += static_cast<long>(milliseconds % 1000) * 1000000L;
    if (deadline.tv_nsec >= 1000000000L) {
        deadline.tv_sec += 1;
        deadline.tv_nsec -= 1000000000L;
    }
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
    }
}
