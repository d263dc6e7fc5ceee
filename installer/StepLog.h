#pragma once

#include "host/HostServices.h"
#include "installer/Text.h"

#include <utility>

namespace qx {

// The log an administrator asked for, as the run writes it: one line per step, with how the
// step ended ("done", or "failed, error N: …"). Each line is joined once, here, from its pieces.
class StepLog {
public:
    explicit StepLog(HostServices& host) : host_(host) {}

    void Log(Pieces line);
    // Logs the step and how it ended, and hands the outcome on.
    template <typename T> Outcome<T> Logged(Pieces step, Outcome<T> outcome) {
        Ended(step, outcome ? nullptr : &outcome.error());
        return outcome;
    }
    // For a step whose "not found" is a fine end (a removal, a close), logged as `absent`.
    Status LoggedAllowingAbsent(Pieces step, Status outcome, const char* absent = "not there");
    // For what an install keeps: an absence is logged only when `logAbsent`.
    template <typename T> Outcome<T> Kept(Pieces step, Outcome<T> outcome, bool logAbsent) {
        if (!logAbsent && !outcome && outcome.error().notFound) {
            return outcome;
        }
        return Logged(step, std::move(outcome));
    }

private:
    // Out of the templates: the shipped build's compiler (mingw-w64 gcc 12, link-time
    // optimisation at -Os) stopped with an internal compiler error when the line was built in one.
    void Ended(Pieces step, const HostError* failure);

    HostServices& host_;
};

} // namespace qx
