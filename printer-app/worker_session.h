// The worker's side of a job: an automation client of the Pressel control
// on the worker's main thread, with a sink that writes page headers and
// footers and hears the control's reports, and a hidden dialog window whose
// Cancel button is pressed (by a helper thread) when the server cancels
// the job. StartLP is given that window, so the control dispatches its
// messages before every chunk it sends and the job stops at the next
// chunk through the control's own Cancel.
//
// Conditions the printer reports are passed on as they come; one is over
// once output has gone on for a second without the printer reporting it
// again (the helper's ticks are dispatched only between chunks).
#pragma once

#include <atomic>
#include <chrono>
#include <map>
#include <string>
#include <thread>

#include "printer-app/derived_profile.h"
#include "printer-app/worker_protocol.h"
#include "tools/pressel/automation_client.h"
#include "tools/pressel/control_events.h"
#include "win/user.h"

namespace printer_app {

// The text of a page header or footer: {page}, {job}, {user} and {date}
// replaced by their values.
std::string ExpandHeaderText(std::string pattern, long page, const std::map<std::string, std::string>& values);

class WorkerSession final : public pressel_tool::ControlEventSink {
public:
    WorkerSession(int cancelFd, int eventFd, std::map<std::string, std::string> job);
    ~WorkerSession() override;
    WorkerSession(const WorkerSession&) = delete;
    WorkerSession& operator=(const WorkerSession&) = delete;

    // COM, the control and its sink, the window and the helper thread.
    bool Open(std::string* why);
    // StartLP; true when the job runs.
    bool Start(const StartArgs& args, bool headers);
    pressel_tool::PresselClient& Control() { return m_control; }
    bool Printing() { return m_control.StillPrinting(); }
    // Runs the window messages that wait (a cancel, the helper's ticks).
    void Pump();
    // Starts the next copy of a text on a page of its own, whose headers
    // count the pages from 1 again.
    void NextCopy();
    // Finish, then the verdict for the server.
    void Finish();
    // A failure of the worker's own (a document it cannot print).
    void Fail(AbortReason reason, const std::string& message);
    void Report(Msg type, const std::string& payload = {});
    void ReportDone();

    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

private:
    using Clock = std::chrono::steady_clock;

    void OnHeader(LONG lFooter) override;
    void OnNotify(LONG lType, LONG lError) override;
    void OnTick();
    void RunHelper();
    void StopHelper();

    int m_cancelFd, m_eventFd;
    std::map<std::string, std::string> m_job;
    pressel_tool::PresselClient m_control;
    bool m_comReady = false, m_headers = false;
    LONG m_pageBase = 0;  // pages of the copies before this one
    HWND m_window = nullptr;
    std::thread m_helper;
    int m_wake[2] = {-1, -1};  // wakes the helper to stop
    std::atomic<bool> m_stop{false}, m_tickPending{false};

    bool m_endedNormally = false, m_cancelled = false;
    LONG m_failType = 0, m_failError = 0, m_fatalCode = 0;
    AbortReason m_ownReason = AbortReason::Printer;
    std::string m_ownFailure;
    std::map<long, Clock::time_point> m_conditions;  // active codes, when last reported
    Clock::time_point m_lastHeartbeat;
};

}  // namespace printer_app
