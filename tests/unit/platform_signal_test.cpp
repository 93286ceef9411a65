// The one-shot signal of the platform layer, the same on every system: the
// Linux build and the Windows one (under Wine) both run these. Lower bounds
// only, for the machine may be busy.
#include <gtest/gtest.h>

#include <cstdint>

#include "platform/platform.h"

namespace {

TEST(PlatformSignal, AnUnsetSignalWaitsAtLeastItsTimeout) {
    DoneSignal* signal = signal_create();
    // 999 and 1001 cross a whole second in the deadline's arithmetic.
    for (uint32_t timeout_ms : {0u, 1u, 40u, 999u, 1001u}) {
        const uint64_t start_ms = tick_ms();
        EXPECT_FALSE(signal_wait_ms(signal, timeout_ms)) << timeout_ms;
        EXPECT_GE(tick_ms() - start_ms, timeout_ms);
    }
    signal_destroy(signal);
}

TEST(PlatformSignal, ASetSignalReturnsAtOnceAndStaysSet) {
    DoneSignal* signal = signal_create();
    signal_set(signal);
    const uint64_t start_ms = tick_ms();
    for (uint32_t timeout_ms : {0u, 60000u, 0xFFFFFFFFu}) EXPECT_TRUE(signal_wait_ms(signal, timeout_ms)) << timeout_ms;
    EXPECT_LT(tick_ms() - start_ms, 30000u) << "a set signal must not wait out its timeout";
    signal_set(signal);  // setting twice is harmless
    EXPECT_TRUE(signal_wait_ms(signal, 0));
    signal_destroy(signal);
}

struct Waiter {
    DoneSignal* signal;
    bool woke;
};

void wait_long(void* raw) {
    auto* waiter = static_cast<Waiter*>(raw);
    waiter->woke = signal_wait_ms(waiter->signal, 60000);
}

// Every thread that waits wakes when the signal is set, not only one.
TEST(PlatformSignal, SettingWakesEveryWaitingThread) {
    DoneSignal* signal = signal_create();
    Waiter waiters[3] = {{signal, false}, {signal, false}, {signal, false}};
    ThreadHandle threads[3];
    const uint64_t start_ms = tick_ms();
    for (int i = 0; i < 3; ++i) {
        int error = 0;
        ASSERT_TRUE(thread_start(wait_long, &waiters[i], &threads[i], &error)) << platform_error_text(error);
    }
    sleep_ms(50);  // most likely waiting by now; the checks hold either way
    signal_set(signal);
    for (ThreadHandle thread : threads) thread_join(thread);
    for (const Waiter& waiter : waiters) EXPECT_TRUE(waiter.woke);
    EXPECT_LT(tick_ms() - start_ms, 30000u) << "a waiter slept through the set";
    signal_destroy(signal);
}

}  // namespace
