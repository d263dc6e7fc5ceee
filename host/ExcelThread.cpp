#include "host/ExcelThread.h"

#include "host/Win32Error.h"

namespace qx {

namespace {

constexpr UINT kRunJob = WM_APP + 1;
// How long past a call's deadline the thread may take to notice it and give the call up
// itself: a rejection comes back at once.
constexpr DWORD kNoticeMs = 1000;
// How often the waiting thread looks at the deadline.
constexpr DWORD kLookMs = 50;
// How long the program, about to end, waits for the thread to let go of the user's Excel and
// end: one call into an Excel that has answered every call so far. Past it the program ends
// without letting go, and Excel drops the reference once it finds the program gone.
constexpr DWORD kShutdownWaitMs = 10000;

} // namespace

ExcelThread::~ExcelThread() {
    // A thread given up on may be held in a call that never returns. The program ends without
    // it, at once: waiting would only keep the one-run guard from a second start after the
    // window has closed.
    if (!thread_ || gaveUp_) {
        return;
    }
    // Lets go of Excel on the thread that reached it, then ends.
    if (PostThreadMessageW(threadId_, WM_QUIT, 0, 0)) {
        WaitForSingleObject(thread_.get(), kShutdownWaitMs);
    }
}

Status ExcelThread::Start() {
    if (thread_) {
        return Completed();
    }
    ready_.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!ready_) {
        return LastWin32Failure();
    }
    thread_.reset(CreateThread(nullptr, 0, &ExcelThread::Main, this, 0, &threadId_));
    if (!thread_) {
        return LastWin32Failure();
    }
    const HANDLE started[] = {ready_.get(), thread_.get()};
    if (WaitForMultipleObjects(2, started, FALSE, CallDeadline::kLimitMs) != WAIT_OBJECT_0) {
        gaveUp_ = true;
        return ComFailure(RPC_E_TIMEOUT);
    }
    return Completed();
}

Status ExcelThread::Send(Job& job) {
    if (gaveUp_) {
        return ComFailure(RPC_E_TIMEOUT);
    }
    if (const auto started = Start(); !started) {
        return started;
    }
    job.done.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!job.done) {
        return LastWin32Failure();
    }
    if (!PostThreadMessageW(threadId_, kRunJob, 0, reinterpret_cast<LPARAM>(&job))) {
        return LastWin32Failure();
    }
    job.posted = true;
    const HANDLE ends[] = {job.done.get(), thread_.get()};
    for (;;) {
        const DWORD waited = WaitForMultipleObjects(2, ends, FALSE, kLookMs);
        if (waited == WAIT_OBJECT_0) {
            return Completed();
        }
        if (waited != WAIT_TIMEOUT) {
            // The thread ended without doing the job (COM would not start there).
            gaveUp_ = true;
            return ComFailure(CO_E_NOTINITIALIZED);
        }
        if (deadline_.Passed(kNoticeMs)) {
            gaveUp_ = true;
            return ComFailure(RPC_E_TIMEOUT);
        }
    }
}

DWORD WINAPI ExcelThread::Main(void* parameter) {
    static_cast<ExcelThread*>(parameter)->Serve();
    return 0;
}

void ExcelThread::Serve() {
    const ComApartment apartment;
    const DeadlineMessageFilter filter(deadline_);
    // The thread's message queue exists once it has looked at it: only then can jobs be posted.
    MSG message;
    PeekMessageW(&message, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
    SetEvent(ready_.get());
    if (FAILED(apartment.result())) {
        return;
    }
    OnThread onThread{excel_, deadline_};
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (message.message == kRunJob && message.hwnd == nullptr) {
            auto* job = reinterpret_cast<Job*>(message.lParam);
            job->Run(onThread);
            SetEvent(job->done.get());
            continue;
        }
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    excel_ = ComPtr<IDispatch>();
}

} // namespace qx
