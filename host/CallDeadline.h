#pragma once

#include "host/HostServices.h"
#include "host/ScopedWin.h"

#include <objidl.h>

#include <atomic>

namespace qx {

// Excel rejects calls while a dialog is open or a cell is being edited, and a hung Excel does
// not answer at all. Each job sent to Excel (reading its start-up folder, opening the add-in:
// the calls it makes and the releases of what they hand back) has one deadline, armed once as
// the job begins and never moved: its calls are retried for as long as they are rejected, and
// waited for, until it passes, whichever mechanism retries them: Windows asks the calling
// thread's message filter (RetryRejectedCall, MessagePending), and where the filter is not asked
// (Wine), the caller's own loop sees the rejection come back. Armed by the thread that sends the
// job, read by the thread that runs it and by the one that waits for it.
class CallDeadline {
public:
    static constexpr DWORD kLimitMs = kExcelAnswerLimitSeconds * 1000;
    // How soon a rejected call is tried again, by either mechanism.
    static constexpr DWORD kRetryAfterMs = 100;

    void Start() {
        end_ = GetTickCount() + kLimitMs;
        running_ = true;
    }
    void Clear() { running_ = false; }
    bool Running() const { return running_; }
    // Past the deadline by at least `margin`; false while no call runs.
    bool Passed(DWORD margin = 0) const {
        return running_ && static_cast<LONG>(GetTickCount() - (end_ + margin)) >= 0;
    }
    DWORD RemainingMs() const {
        const LONG left = static_cast<LONG>(end_ - GetTickCount());
        return running_ && left > 0 ? static_cast<DWORD>(left) : 0;
    }

private:
    // Tick counts wrap after 49 days; differences stay right across the wrap.
    std::atomic<DWORD> end_{0};
    std::atomic<bool> running_{false};
};

// The calling thread's message filter, from construction until destruction, that keeps
// retrying a rejected call and waiting for a slow one only while the deadline has not passed.
class DeadlineMessageFilter final : public IMessageFilter {
public:
    explicit DeadlineMessageFilter(const CallDeadline& deadline);
    ~DeadlineMessageFilter();
    DeadlineMessageFilter(const DeadlineMessageFilter&) = delete;
    DeadlineMessageFilter& operator=(const DeadlineMessageFilter&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
    // Owned by its creator, not by COM: the references only have to balance.
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }

    DWORD STDMETHODCALLTYPE HandleInComingCall(DWORD callType, HTASK caller, DWORD tickCount,
                                               LPINTERFACEINFO interfaceInfo) override;
    DWORD STDMETHODCALLTYPE RetryRejectedCall(HTASK callee, DWORD tickCount,
                                              DWORD rejectType) override;
    DWORD STDMETHODCALLTYPE MessagePending(HTASK callee, DWORD tickCount,
                                           DWORD pendingType) override;

private:
    const CallDeadline& deadline_;
    ComPtr<IMessageFilter> previous_;
    bool registered_ = false;
};

// Runs `call` (returning an HRESULT) again for as long as it comes back rejected, until the
// job's deadline passes. The deadline is the job's, not the call's: a job of many slow calls
// ends when one would, and what follows the call (its results released, which calls into Excel
// too) keeps to the same deadline.
template <typename Call> HRESULT CallBeforeDeadline(const CallDeadline& deadline, Call call) {
    constexpr DWORD kRetryAfterMs = CallDeadline::kRetryAfterMs;
    HRESULT result = S_OK;
    for (;;) {
        result = call();
        const bool rejected =
            result == RPC_E_CALL_REJECTED || result == RPC_E_SERVERCALL_RETRYLATER;
        if (!rejected || deadline.Passed()) {
            break;
        }
        const DWORD left = deadline.RemainingMs();
        Sleep(left < kRetryAfterMs ? left : kRetryAfterMs);
    }
    return result;
}

} // namespace qx
