#include "printer-app/job_order.h"

#include <algorithm>
#include <iterator>
#include <mutex>
#include <set>
#include <utility>
#include <vector>

#include "printer-app/driver.h"

namespace printer_app {
namespace {

std::mutex g_lock;
// Pending jobs the app held itself because an older one came first.
std::set<std::pair<pappl_printer_t*, int>> g_held;

struct Waiting {
    pappl_job_t* job;
    int id;
    bool pending;
};

// The jobs waiting on the printer in the order they came: pending ones,
// and held ones whose document is in and that no user held.
std::vector<Waiting> WaitingJobs(pappl_printer_t* printer, pappl_job_t* ending, bool* processing) {
    std::vector<pappl_job_t*> active;
    papplPrinterIterateActiveJobs(
        printer, [](pappl_job_t* job, void* data) { static_cast<std::vector<pappl_job_t*>*>(data)->push_back(job); },
        &active, 1, 0);
    std::vector<Waiting> waiting;
    *processing = false;
    std::lock_guard hold(g_lock);
    // Jobs the app held that have gone since (cancelled) are forgotten.
    for (auto it = g_held.lower_bound({printer, 0}); it != g_held.end() && it->first == printer;) {
        int id = it->second;
        bool live = std::any_of(active.begin(), active.end(), [id](pappl_job_t* j) { return papplJobGetID(j) == id; });
        it = live ? std::next(it) : g_held.erase(it);
    }
    for (pappl_job_t* job : active) {
        if (job == ending) continue;
        int id = papplJobGetID(job);
        ipp_jstate_t state = papplJobGetState(job);
        bool heldByUser = (papplJobGetReasons(job) & PAPPL_JREASON_JOB_HOLD_UNTIL_SPECIFIED) && !g_held.count({printer, id});
        if (state == IPP_JSTATE_PROCESSING) *processing = true;
        else if (state == IPP_JSTATE_PENDING) waiting.push_back({job, id, true});
        else if (state == IPP_JSTATE_HELD && !heldByUser && papplJobGetFilename(job)) waiting.push_back({job, id, false});
    }
    std::sort(waiting.begin(), waiting.end(), [](const Waiting& a, const Waiting& b) { return a.id < b.id; });
    return waiting;
}

// Leaves the oldest waiting job pending and every other one held.
void LetOldestGo(pappl_printer_t* printer, const std::vector<Waiting>& waiting) {
    for (size_t i = 0; i < waiting.size(); ++i) {
        const Waiting& w = waiting[i];
        if (i == 0 && !w.pending) {
            {
                std::lock_guard hold(g_lock);
                g_held.erase({printer, w.id});
            }
            papplJobRelease(w.job, nullptr);
        } else if (i > 0 && w.pending && papplJobHold(w.job, nullptr, "indefinite", 0)) {
            std::lock_guard hold(g_lock);
            g_held.insert({printer, w.id});
        }
    }
}

}  // namespace

void HoldJobsThatCome(pappl_printer_t* printer) {
    if (!papplPrinterIsHoldingNewJobs(printer)) papplPrinterHoldNewJobs(printer);
}

void QueueNextJobInOrder(pappl_printer_t* printer, pappl_job_t* ending) {
    bool processing = false;
    std::vector<Waiting> waiting = WaitingJobs(printer, ending, &processing);
    if (waiting.empty()) papplPrinterReleaseHeldNewJobs(printer, nullptr);
    else LetOldestGo(printer, waiting);
}

bool ReleaseJobsOfIdlePrinters(pappl_system_t* system, void*) {
    papplSystemIteratePrinters(
        system,
        [](pappl_printer_t* printer, void*) {
            if (!DriverOf(printer) || !papplPrinterIsHoldingNewJobs(printer)) return;
            bool processing = false;
            std::vector<Waiting> waiting = WaitingJobs(printer, nullptr, &processing);
            if (processing) return;
            if (waiting.empty()) papplPrinterReleaseHeldNewJobs(printer, nullptr);
            else LetOldestGo(printer, waiting);
        },
        nullptr);
    return true;
}

}  // namespace printer_app
