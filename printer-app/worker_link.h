// The server's side of one print worker: the worker program, beside the
// server's, started for a single job, so that the control's unlocked process-wide
// state (instance table, port library, KTSB link) is never shared between
// jobs, and a job that crashes or hangs takes only itself down.
//
// The link runs on the job's thread. While it waits for the worker (to take
// data, or to finish) it hears the worker's reports, passes a Cancel-Job on
// to it, and acts as watchdog: a worker that shows no progress for the hang
// timeout, or that has not stopped a few seconds after being cancelled, is
// killed and its job aborted.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <string_view>

#include "printer-app/worker_protocol.h"

namespace printer_app {

struct WorkerEvents {
    std::function<void()> started;                    // the job began printing
    std::function<void(long code, bool active)> condition;
    std::function<void()> pageDone;
    std::function<bool()> cancelled;                  // polled: Cancel-Job came
};

struct WorkerResult {
    Outcome outcome = Outcome::Aborted;
    AbortReason reason = AbortReason::Worker;
    std::string message;
};

class WorkerLink {
public:
    // hangSeconds 0: no hang timeout.
    WorkerLink(WorkerEvents events, int hangSeconds);
    ~WorkerLink();
    WorkerLink(const WorkerLink&) = delete;
    WorkerLink& operator=(const WorkerLink&) = delete;

    // Starts the worker and sends it the job description.
    bool Start(const std::map<std::string, std::string>& job, std::string* why);

    // Sends a message of the document; false when the worker is gone or
    // the job was cancelled (the caller stops sending then).
    bool Send(Msg type, std::string_view payload);

    // Ends the document and waits for the worker's verdict.
    WorkerResult Finish();

private:
    using Clock = std::chrono::steady_clock;

    // Waits up to ms for the worker: hears its reports and runs the
    // watchdog. False once the link is over (worker gone or killed).
    bool Pump(int ms, bool wantWrite);
    void HandleEvent(Msg type, const std::string& payload);
    void Kill(const std::string& why);
    void Reap(bool wait);

    WorkerEvents m_events;
    std::chrono::seconds m_hang;
    pid_t m_pid = -1;
    int m_dataFd = -1, m_cancelFd = -1, m_eventFd = -1;
    std::string m_out, m_in;
    Clock::time_point m_lastLife, m_cancelAt;
    bool m_cancelSent = false, m_done = false, m_gone = false;
    int m_status = 0;
    WorkerResult m_result;
    std::string m_killedWhy;
};

}  // namespace printer_app
