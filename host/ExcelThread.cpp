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
// How long the thread may take to start: COM and a message queue, well within one call's limit.
constexpr DWORD kStartWaitMs = CallDeadline::kLimitMs;
// How long the program, about to end, waits for the thread to let go of the user's Excel and
// end: one call into an Excel that has answered every call so far. Past it the program ends
// without letting go, and Excel drops the reference once it finds the program gone.
constexpr DWORD kShutdownWaitMs = 10000;

} // namespace

ExcelThread::~ExcelThread() {
    if (!thread_) {
        return;
    }
    // A thread given up on may be held in a call that never returns. The program ends without
    // waiting for it: waiting would only keep the one-run guard from a second start after the
    // window has closed. Otherwise it lets go of Excel on its own thread, then ends.
    if (!gaveUp_ && PostThreadMessageW(threadId_, WM_QUIT, 0, 0) &&
        WaitForSingleObject(thread_.get(), kShutdownWaitMs) == WAIT_OBJECT_0) {
        return;
    }
    // The thread still runs, and may yet return from its call and use its state: that stays
    // with it, unowned, until the process ends. Freeing it here would pull it from under the
    // thread, and would release the reference to Excel from the wrong apartment.
    static_cast<void>(state_.release());
}

Status ExcelThread::Start() {
    if (thread_) {
        return Completed();
    }
    state_->ready.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!state_->ready) {
        return LastWin32Failure();
    }
    thread_.reset(CreateThread(nullptr, 0, &ExcelThread::Main, state_.get(), 0, &threadId_));
    if (!thread_) {
        return LastWin32Failure();
    }
    const HANDLE started[] = {state_->ready.get(), thread_.get()};
    if (WaitForMultipleObjects(2, started, FALSE, kStartWaitMs) != WAIT_OBJECT_0) {
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
        if (state_->deadline.Passed(kNoticeMs)) {
            gaveUp_ = true;
            return ComFailure(RPC_E_TIMEOUT);
        }
    }
}

DWORD WINAPI ExcelThread::Main(void* parameter) {
    Serve(*static_cast<ThreadState*>(parameter));
    return 0;
}

void ExcelThread::Serve(ThreadState& state) {
    const ComApartment apartment;
    const DeadlineMessageFilter filter(state.deadline);
    // The thread's message queue exists once it has looked at it: only then can jobs be posted.
    MSG message;
    PeekMessageW(&message, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
    SetEvent(state.ready.get());
    if (FAILED(apartment.result())) {
        return;
    }
    OnThread onThread{state.excel, state.deadline};
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
    state.excel = ComPtr<IDispatch>();
}

} // namespace qx
