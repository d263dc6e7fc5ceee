#include "host/CallDeadline.h"

namespace qx {

namespace {

// What RetryRejectedCall answers to give up.
constexpr DWORD kCancel = static_cast<DWORD>(-1);

} // namespace

DeadlineMessageFilter::DeadlineMessageFilter(const CallDeadline& deadline) : deadline_(deadline) {
    registered_ = SUCCEEDED(CoRegisterMessageFilter(this, previous_.put()));
}

DeadlineMessageFilter::~DeadlineMessageFilter() {
    if (registered_) {
        ComPtr<IMessageFilter> ours;
        CoRegisterMessageFilter(previous_.get(), ours.put());
    }
}

HRESULT STDMETHODCALLTYPE DeadlineMessageFilter::QueryInterface(REFIID iid, void** object) {
    if (!object) {
        return E_POINTER;
    }
    if (iid == __uuidof(IUnknown) || iid == __uuidof(IMessageFilter)) {
        *object = static_cast<IMessageFilter*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

// The program serves no calls of its own; whatever comes in is let through as without a filter.
DWORD STDMETHODCALLTYPE DeadlineMessageFilter::HandleInComingCall(DWORD, HTASK, DWORD,
                                                                  LPINTERFACEINFO) {
    return SERVERCALL_ISHANDLED;
}

// Outside a job with a deadline, a rejection fails at once, as it does without a filter.
DWORD STDMETHODCALLTYPE DeadlineMessageFilter::RetryRejectedCall(HTASK, DWORD, DWORD) {
    return !deadline_.Running() || deadline_.Passed() ? kCancel : CallDeadline::kRetryAfterMs;
}

DWORD STDMETHODCALLTYPE DeadlineMessageFilter::MessagePending(HTASK, DWORD, DWORD) {
    return deadline_.Passed() ? PENDINGMSG_CANCELCALL : PENDINGMSG_WAITDEFPROCESS;
}

} // namespace qx
