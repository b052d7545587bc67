// The threads behind RunJobs: each takes the next number until none is left or a job
// failed. No job runs on the calling thread unless no thread could be started, so the
// caller stays free to report progress.
#include "engine/win32/parallel_jobs.h"

#include <windows.h>

#include <vector>

namespace engine::win32 {

namespace {

constexpr DWORD kMaxThreads = 8;
constexpr DWORD kTickMs = 100;

struct Run {
    Run(size_t count_, Job job_, void* context_)
        : count(count_), job(job_), context(context_), firstFailed(static_cast<LONG64>(count_)) {}
    size_t count;
    Job job;
    void* context;
    volatile LONG64 next = 0;
    volatile LONG64 firstFailed;  // count while none failed
};

DWORD WINAPI Worker(LPVOID parameter) {
    Run& run = *static_cast<Run*>(parameter);
    for (;;) {
        if (static_cast<size_t>(InterlockedCompareExchange64(&run.firstFailed, 0, 0)) != run.count) return 0;
        const LONG64 number = InterlockedIncrement64(&run.next) - 1;
        if (static_cast<size_t>(number) >= run.count) return 0;
        if (!run.job(run.context, static_cast<size_t>(number))) {
            // Keep the smallest failed number, so the result does not depend on timing.
            LONG64 seen = InterlockedCompareExchange64(&run.firstFailed, 0, 0);
            while (number < seen) {
                const LONG64 was = InterlockedCompareExchange64(&run.firstFailed, number, seen);
                if (was == seen) break;
                seen = was;
            }
        }
    }
}

DWORD ThreadCount(size_t count) {
    SYSTEM_INFO system = {};
    GetSystemInfo(&system);
    DWORD threads = system.dwNumberOfProcessors > 0 ? system.dwNumberOfProcessors : 1;
    if (threads > kMaxThreads) threads = kMaxThreads;
    if (threads > count) threads = static_cast<DWORD>(count);
    return threads;
}

}  // namespace

size_t RunJobs(size_t count, Job job, JobTick tick, void* context) {
    Run run(count, job, context);
    std::vector<HANDLE> threads;
    const DWORD wanted = ThreadCount(count);
    for (DWORD i = 0; i < wanted; ++i) {
        HANDLE thread = CreateThread(nullptr, 0, Worker, &run, 0, nullptr);
        if (thread == nullptr) break;
        threads.push_back(thread);
    }
    if (threads.empty()) {
        Worker(&run);  // no thread to spare: the work is done here, in order
    } else {
        // At most 64 handles in one wait; never more than kMaxThreads here.
        while (WaitForMultipleObjects(static_cast<DWORD>(threads.size()), threads.data(), TRUE, kTickMs) ==
               WAIT_TIMEOUT) {
            if (tick != nullptr) tick(context);
        }
        for (HANDLE thread : threads) CloseHandle(thread);
    }
    if (tick != nullptr) tick(context);
    return static_cast<size_t>(run.firstFailed);
}

}  // namespace engine::win32
