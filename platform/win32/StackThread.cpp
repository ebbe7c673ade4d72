// Windows side of RunOnThreadWithStack: CreateThread with STACK_SIZE_PARAM_IS_A_RESERVATION, so the size
// is the stack's reservation (its address space) and the executable's commit size stays what is
// committed up front; the guard page commits the rest as the work reaches it.
#include "platform/StackThread.h"

#include "platform/win32/Unique.h"

#include <exception>

namespace ovled::platform {
namespace {

struct Job {
    const std::function<void()>* work;
    std::exception_ptr failure;
};

DWORD WINAPI RunJob(void* argument)
{
    auto* job = static_cast<Job*>(argument);
    try {
        (*job->work)();
    } catch (...) {
        job->failure = std::current_exception();
    }
    return 0;
}

} // namespace

bool RunOnThreadWithStack(std::size_t stackBytes, const std::function<void()>& work)
{
    Job job{&work, nullptr};
    const win32::UniqueHandle thread(
        CreateThread(nullptr, stackBytes, &RunJob, &job, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr));
    if (!thread)
        return false;
    WaitForSingleObject(thread.get(), INFINITE);
    if (job.failure)
        std::rethrow_exception(job.failure);
    return true;
}

} // namespace ovled::platform
