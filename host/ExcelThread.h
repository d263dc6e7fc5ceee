#pragma once

#include "host/CallDeadline.h"
#include "host/Outcome.h"
#include "host/ScopedWin.h"

#include <memory>
#include <optional>
#include <utility>

namespace qx {

// Calls into the Excel the user has open run on a thread of their own: a single-threaded
// apartment with the deadline's message filter, which Windows asks about rejected and slow
// calls. That Excel may also not answer at all (hung), and COM does not always let go of such a
// call (Wine keeps waiting after the filter cancels it), so the program waits for the thread
// only until the call in progress has outlived its deadline, then gives up on that Excel for
// the rest of the run. The Excel started for the run stays on the program's own thread.
class ExcelThread {
public:
    // What work sees on the thread: the Excel it reached there, and the deadline its calls
    // keep to.
    struct OnThread {
        ComPtr<IDispatch>& excel;
        CallDeadline& deadline;
    };

    ExcelThread() = default;
    ~ExcelThread();
    ExcelThread(const ExcelThread&) = delete;
    ExcelThread& operator=(const ExcelThread&) = delete;

    // Runs `work(OnThread&)`, which returns an Outcome<T>, on the thread, and hands back its
    // outcome; or a timeout failure, once a call inside it has outlived its deadline.
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

    Status Send(Job& job);
    Status Start();
    static DWORD WINAPI Main(void* parameter);
    void Serve();

    UniqueHandle thread_;
    DWORD threadId_ = 0;
    UniqueHandle ready_;
    bool gaveUp_ = false;
    CallDeadline deadline_;
    // Touched only on the thread.
    ComPtr<IDispatch> excel_;
};

} // namespace qx
