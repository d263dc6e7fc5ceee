#include "host/ExcelThread.h"

#include "host/Win32Error.h"

namespace qx {

namespace {

constexpr UINT kRunJob = WM_APP + 1;
// Asks the thread to let go of Excel and end: a message of the program's own, which nothing but
// this program posts to the thread.
constexpr UINT kStop = WM_APP + 2;
// How long past a job's deadline the thread may take to notice it and withdraw the call itself:
// a rejection comes back at once, a cancelled call within the filter's next look. The program
// gives up on a job this long after its deadline, so never later than kLimitMs + kNoticeMs
// (11 s) after the job was sent, whatever the job or Excel does.
constexpr DWORD kNoticeMs = 1000;
// How often the waiting thread looks at the deadline.
constexpr DWORD kLookMs = 50;
// How long the thread may take to start: COM and a message queue, well within one call's limit.
constexpr DWORD kStartWaitMs = CallDeadline::kLimitMs;
// How long the program, about to end, waits for the thread to let go of Excel and end: letting
// go is a call into Excel, bounded as every call is. Past it the program ends without letting
// go, and Excel drops the reference once it finds the program gone.
constexpr DWORD kStopWaitMs = CallDeadline::kLimitMs + kNoticeMs;

} // namespace

ExcelThread::~ExcelThread() {
    if (!thread_) {
        return;
    }
    // A thread given up on may be held in a call that never returns. The program ends without
    // waiting for it: waiting would only keep the one-run guard from a second start.
    if (!gaveUp_ && PostThreadMessageW(threadId_, kStop, 0, 0) &&
        WaitForSingleObject(thread_.get(), kStopWaitMs) == WAIT_OBJECT_0) {
        return;
    }
    // The thread still runs (or the wait itself failed), and may yet return from its call and
    // use its state: that stays with it, unowned, until the process ends. Freeing it here would
    // pull it from under the thread, and would release Excel from the wrong apartment.
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
    switch (WaitForMultipleObjects(2, started, FALSE, kStartWaitMs)) {
    case WAIT_OBJECT_0:
        return Completed();
    case WAIT_OBJECT_0 + 1:
        gaveUp_ = true;
        return ComFailure(CO_E_NOTINITIALIZED);
    case WAIT_TIMEOUT:
        gaveUp_ = true;
        return ComFailure(RPC_E_TIMEOUT);
    default:
        gaveUp_ = true;
        return LastWin32Failure();
    }
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
    // Armed here, once, rather than when the thread gets to the job: the bound then holds also
    // for a thread slow to take the job up. Nothing moves it until the job is done.
    state_->deadline.Start();
    if (!PostThreadMessageW(threadId_, kRunJob, 0, reinterpret_cast<LPARAM>(&job))) {
        state_->deadline.Clear();
        return LastWin32Failure();
    }
    job.posted = true;
    return WaitFor(job.done.get());
}

// Waits for the thread to set `event`, until the job's one deadline has passed by kNoticeMs.
Status ExcelThread::WaitFor(HANDLE event) {
    const HANDLE ends[] = {event, thread_.get()};
    for (;;) {
        const DWORD waited = WaitForMultipleObjects(2, ends, FALSE, kLookMs);
        if (waited == WAIT_OBJECT_0) {
            return Completed();
        }
        if (waited == WAIT_OBJECT_0 + 1) {
            // The thread ended without doing the job: COM would not start there.
            gaveUp_ = true;
            return ComFailure(CO_E_NOTINITIALIZED);
        }
        if (waited != WAIT_TIMEOUT) {
            // The wait itself failed; the thread may still be in the job.
            gaveUp_ = true;
            return LastWin32Failure();
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
    OnThread onThread{state.excel, state.global, state.deadline};
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (message.hwnd == nullptr && message.message == kRunJob) {
            auto* job = reinterpret_cast<Job*>(message.lParam);
            // The deadline, armed as the job was sent, runs for the whole job, not only during
            // each call: releasing one of Excel's objects between calls is a call into Excel too.
            job->Run(onThread);
            state.deadline.Clear();
            SetEvent(job->done.get());
            continue;
        }
        if (message.hwnd == nullptr && message.message == kStop) {
            break;
        }
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    state.deadline.Start();
    state.excel = ComPtr<IDispatch>();
    state.global = ComPtr<IDispatch>();
    state.deadline.Clear();
}

} // namespace qx
