#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "framework/afxlock.h"
#include "framework/afxthread.h"

namespace {
std::atomic<int> g_runs{0};

UINT CountingProc(LPVOID p)
{
    static_cast<std::atomic<int>*>(p)->fetch_add(1);
    g_runs.fetch_add(1);
    return 0;
}

void WaitFor(const std::atomic<int>& v, int want)
{
    for (int i = 0; i < 500 && v.load() < want; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
}
}  // namespace

TEST(AfxBeginThread, SuspendedThreadRunsOnlyAfterResume)
{
    std::atomic<int> hits{0};
    CWinThread* t = AfxBeginThread(CountingProc, &hits, THREAD_PRIORITY_NORMAL, 0, CREATE_SUSPENDED);
    ASSERT_NE(t, nullptr);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(hits.load(), 0);
    EXPECT_NE(t->ResumeThread(), DWORD(-1));  // the thread deletes itself afterwards
    WaitFor(hits, 1);
    EXPECT_EQ(hits.load(), 1);
}

TEST(CCriticalSection, GuardsAcrossThreads)
{
    CCriticalSection cs;
    long counter = 0;
    auto work = [&] {
        for (int i = 0; i < 100000; ++i) {
            CScopedLock lock(cs);
            ++counter;
        }
    };
    std::thread a(work), b(work);
    a.join();
    b.join();
    EXPECT_EQ(counter, 200000);
}
