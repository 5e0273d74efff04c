// CreateEventA, SetEvent, ResetEvent, WaitForSingleObject and CloseHandle of events, checked
// against the Windows behaviour they stand for.

#include <gtest/gtest.h>

#include <thread>

#include "platform/win32.hpp"
#include "serial_port.hpp"

namespace {

using namespace platform_test;

// The state an event is in after it is made and, optionally, set or reset, seen by two waits in
// a row that do not block: a manual-reset event stays signalled, an auto-reset one is reset by
// the wait that sees it.
TEST(Event, StateFollowsMakeSetResetAndWaits) {
    enum class Action { kNone, kSet, kReset };
    struct Case {
        const char* legend;
        BOOL manual_reset;
        BOOL initial_state;
        Action action;
        DWORD first_wait;
        DWORD second_wait;
    };
    const Case cases[] = {
        {"manual, made not signalled", TRUE, FALSE, Action::kNone, WAIT_TIMEOUT, WAIT_TIMEOUT},
        {"manual, made signalled: stays so", TRUE, TRUE, Action::kNone, WAIT_OBJECT_0,
         WAIT_OBJECT_0},
        {"manual, set", TRUE, FALSE, Action::kSet, WAIT_OBJECT_0, WAIT_OBJECT_0},
        {"manual, made signalled then reset", TRUE, TRUE, Action::kReset, WAIT_TIMEOUT,
         WAIT_TIMEOUT},
        {"auto, made signalled: one wait takes it", FALSE, TRUE, Action::kNone, WAIT_OBJECT_0,
         WAIT_TIMEOUT},
        {"auto, set: one wait takes it", FALSE, FALSE, Action::kSet, WAIT_OBJECT_0, WAIT_TIMEOUT},
        {"auto, made not signalled", FALSE, FALSE, Action::kNone, WAIT_TIMEOUT, WAIT_TIMEOUT},
    };
    for (const Case& c : cases) {
        const HANDLE event = CreateEventA(nullptr, c.manual_reset, c.initial_state, nullptr);
        ASSERT_NE(event, 0u) << c.legend << ": " << GetLastError();
        if (c.action == Action::kSet) {
            EXPECT_TRUE(SetEvent(event)) << c.legend;
        } else if (c.action == Action::kReset) {
            EXPECT_TRUE(ResetEvent(event)) << c.legend;
        }
        EXPECT_EQ(WaitForSingleObject(event, 0), c.first_wait) << c.legend;
        EXPECT_EQ(WaitForSingleObject(event, 0), c.second_wait) << c.legend;
        EXPECT_TRUE(CloseHandle(event)) << c.legend;
    }
}

// Events are handles of the one table: never 0 nor INVALID_HANDLE_VALUE, each its own, so
// setting one leaves the other, whose wait then times out after its time, not less, and not much
// more.
TEST(Event, EventsAreDistinctAndAWaitTimesOutAfterItsTime) {
    const OwnedHandle owned_first(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    const OwnedHandle owned_second(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    const HANDLE first = owned_first.get();
    const HANDLE second = owned_second.get();
    for (HANDLE h : {first, second}) {
        EXPECT_NE(h, 0u);
        EXPECT_NE(h, INVALID_HANDLE_VALUE);
    }
    EXPECT_NE(first, second);
    EXPECT_TRUE(SetEvent(first));
    Stopwatch clock;
    EXPECT_EQ(WaitForSingleObject(second, 100), WAIT_TIMEOUT);
    EXPECT_GE(clock.ms(), 99.0);
    EXPECT_LT(clock.ms(), 2000.0);
}

TEST(Event, SetEventOnAnotherThreadEndsAWait) {
    const OwnedHandle owned(CreateEventA(nullptr, FALSE, FALSE, nullptr));
    const HANDLE event = owned.get();
    ASSERT_NE(event, 0u);
    std::jthread setter([event] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        SetEvent(event);
    });
    Stopwatch clock;
    EXPECT_EQ(WaitForSingleObject(event, INFINITE), WAIT_OBJECT_0);
    EXPECT_GE(clock.ms(), 40.0);
}

// A closed event is no handle any more: every call on it fails with ERROR_INVALID_HANDLE. Named
// events are not part of this layer (nothing here shares events between processes): a name fails
// with ERROR_NOT_SUPPORTED and 0, the failure value of CreateEventA.
TEST(Event, AClosedEventIsAnInvalidHandleAndANamedEventIsRefused) {
    const HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(event, 0u);
    ASSERT_TRUE(CloseHandle(event));
    EXPECT_EQ(failure_of([&] { return CloseHandle(event); }), ERROR_INVALID_HANDLE);
    EXPECT_EQ(failure_of([&] { return SetEvent(event); }), ERROR_INVALID_HANDLE);
    EXPECT_EQ(failure_of([&] { return ResetEvent(event); }), ERROR_INVALID_HANDLE);
    SetLastError(0);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(failure_of([] { return CreateEventA(nullptr, TRUE, FALSE, "morvane"); }),
              ERROR_NOT_SUPPORTED);
}

}  // namespace
