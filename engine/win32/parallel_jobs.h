// Runs numbered jobs on several threads, stopping at the first that fails, while the
// calling thread waits and may report progress. Knows nothing of what the jobs do.
#pragma once

#include <cstddef>

namespace engine::win32 {

// A job: true when it did its work. Called on any of the threads, each number once.
using Job = bool (*)(void* context, size_t number);
// Called on the calling thread now and then while the jobs run, and once at the end.
using JobTick = void (*)(void* context);

// Runs jobs 0 .. count - 1, each once, on up to the processor count of threads (at most
// 8; the calling thread is one of them when no thread can be started). Once a job
// fails, no job is started any more; those running finish. Returns count when all
// succeeded, else the smallest number of a job that failed.
size_t RunJobs(size_t count, Job job, JobTick tick, void* context);

}  // namespace engine::win32
