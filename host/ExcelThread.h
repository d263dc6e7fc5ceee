#pragma once

#include "host/CallDeadline.h"
#include "host/Outcome.h"
#include "host/ScopedWin.h"

#include <memory>
#include <optional>
#include <utility>

namespace qx {

// Every call into an Excel runs on a thread of that Excel's own: a single-threaded apartment
// with the deadline's message filter, which Windows asks about rejected and slow calls. An Excel
// may also not answer at all: hung, or just started and held by a first-run or sign-in dialog
// nobody sees, and COM does not always let go of such a call (Wine keeps waiting after the
// filter cancels it; creating Excel's object waits for Excel to offer it). So the program waits
// for the thread only while the job in progress keeps to its deadline, and then gives up on that
// Excel for the rest of the run.
class ExcelThread {
public:
    // What work sees on the thread: the Excel it reached there, and the deadline its calls
    // keep to.
    struct OnThread {
        ComPtr<IDispatch>& excel;
        // Excel's global object, for an Excel the program starts: kept as long as Excel is.
        ComPtr<IDispatch>& global;
        const CallDeadline& deadline;
    };

    ExcelThread() = default;
    ~ExcelThread();
    ExcelThread(const ExcelThread&) = delete;
    ExcelThread& operator=(const ExcelThread&) = delete;

    // Runs `work(OnThread&)`, which returns an Outcome<T>, on the thread, and hands back its
    // outcome; or a timeout failure, once the job has gone longer than its deadline allows
    // without a call or a release coming back.
    template <typename T, typename Work> Outcome<T> Run(Work work) {
        auto job = std::make_unique<JobOf<T, Work>>(std::move(work));
        if (const Status sent = Send(*job); !sent) {
            if (job->posted) {
                // Given up on while the thread still holds the job: it may yet finish the call
                // and write the outcome, so the job must outlive this function. It is let go of
                // unowned; the program ends without waiting for the thread (~ExcelThread).
                static_cast<void>(job.release());
            }
            return sent.error();
        }
        return std::move(*job->outcome);
    }

private:
    class Job {
    public:
        virtual ~Job() = default;
        virtual void Run(OnThread& onThread) = 0;
        UniqueHandle done;
        bool posted = false;
    };
    template <typename T, typename Work> class JobOf final : public Job {
    public:
        explicit JobOf(Work work) : work_(std::move(work)) {}
        void Run(OnThread& onThread) override { outcome.emplace(work_(onThread)); }
        std::optional<Outcome<T>> outcome;

    private:
        Work work_;
    };

    // All that the thread itself works with. The program stops waiting for a thread that
    // is held in a call, and such a thread may come back to this at any moment before the
    // program ends: it is then left to the thread (see ~ExcelThread), never freed under it.
    struct ThreadState {
        UniqueHandle ready;
        CallDeadline deadline;
        // Touched only on the thread: released in the apartment that reached them.
        ComPtr<IDispatch> excel;
        ComPtr<IDispatch> global;
    };

    Status Send(Job& job);
    Status Start();
    Status WaitFor(HANDLE event);
    static DWORD WINAPI Main(void* parameter);
    static void Serve(ThreadState& state);

    UniqueHandle thread_;
    DWORD threadId_ = 0;
    bool gaveUp_ = false;
    std::unique_ptr<ThreadState> state_ = std::make_unique<ThreadState>();
};

} // namespace qx
