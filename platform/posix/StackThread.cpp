// POSIX side of RunOnThreadWithStack: a joinable pthread with the stack size in its attributes. glibc
// maps the stack with mmap, so its pages are committed only as the work touches them.
#include "platform/StackThread.h"

#include <exception>
#include <limits.h>
#include <pthread.h>
#include <unistd.h>

namespace ovled::platform {
namespace {

struct Job {
    const std::function<void()>* work;
    std::exception_ptr failure;
};

void* RunJob(void* argument)
{
    auto* job = static_cast<Job*>(argument);
    try {
        (*job->work)();
    } catch (...) {
        job->failure = std::current_exception();
    }
    return nullptr;
}

} // namespace

bool RunOnThreadWithStack(std::size_t stackBytes, const std::function<void()>& work)
{
    const auto page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    const auto minimum = static_cast<std::size_t>(PTHREAD_STACK_MIN);
    std::size_t size = stackBytes < minimum ? minimum : stackBytes;
    size = (size + page - 1) / page * page;

    pthread_attr_t attributes;
    if (::pthread_attr_init(&attributes) != 0)
        return false;
    Job job{&work, nullptr};
    pthread_t thread;
    const bool started = ::pthread_attr_setstacksize(&attributes, size) == 0 &&
                         ::pthread_create(&thread, &attributes, &RunJob, &job) == 0;
    ::pthread_attr_destroy(&attributes);
    if (!started)
        return false;
    ::pthread_join(thread, nullptr);
    if (job.failure)
        std::rethrow_exception(job.failure);
    return true;
}

} // namespace ovled::platform
