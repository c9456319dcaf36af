#include "printer-app/job_order.h"

#include <unistd.h>

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

// The printer's jobs as the order sees them.
struct Queue {
    std::vector<Waiting> waiting;  // in the order they came
    bool processing = false;
    // Jobs whose document is still coming: PAPPL 1.3 makes a job pending
    // when its document is in, even one that is printing already, so such
    // a job must not be released before then.
    bool uploading = false;
};

std::vector<pappl_job_t*> ActiveJobs(pappl_printer_t* printer) {
    std::vector<pappl_job_t*> active;
    papplPrinterIterateActiveJobs(
        printer, [](pappl_job_t* job, void* data) { static_cast<std::vector<pappl_job_t*>*>(data)->push_back(job); },
        &active, 1, 0);
    return active;
}

// Pending jobs, and held ones whose document is in and that no user held.
Queue QueueOf(pappl_printer_t* printer, pappl_job_t* ending) {
    const std::vector<pappl_job_t*> active = ActiveJobs(printer);
    Queue queue;
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
        bool documentIn = papplJobGetFilename(job) != nullptr;
        if (state == IPP_JSTATE_PROCESSING) queue.processing = true;
        else if (state == IPP_JSTATE_PENDING && documentIn) queue.waiting.push_back({job, id, true});
        else if (state == IPP_JSTATE_HELD && !heldByUser && documentIn) queue.waiting.push_back({job, id, false});
        else if (state <= IPP_JSTATE_HELD && !heldByUser && !documentIn) queue.uploading = true;
    }
    std::sort(queue.waiting.begin(), queue.waiting.end(), [](const Waiting& a, const Waiting& b) { return a.id < b.id; });
    return queue;
}

void HoldForTheApp(pappl_printer_t* printer, pappl_job_t* job) {
    if (!papplJobHold(job, nullptr, "indefinite", 0)) return;
    std::lock_guard hold(g_lock);
    g_held.insert({printer, papplJobGetID(job)});
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
        } else if (i > 0 && w.pending) {
            HoldForTheApp(printer, w.job);
        }
    }
}

// The printer takes new jobs freely again. A job whose upload began in the
// instant before is released by PAPPL with the others: it is held again
// for the app, which lets it go once its document is in.
void TakeJobsFreely(pappl_printer_t* printer) {
    papplPrinterReleaseHeldNewJobs(printer, nullptr);
    for (pappl_job_t* job : ActiveJobs(printer))
        if (papplJobGetState(job) == IPP_JSTATE_PENDING && !papplJobGetFilename(job)) HoldForTheApp(printer, job);
}

// One step of the order; false when it has to wait for an upload.
bool OrderStep(pappl_printer_t* printer, pappl_job_t* ending) {
    Queue queue = QueueOf(printer, ending);
    if (!queue.waiting.empty()) {
        LetOldestGo(printer, queue.waiting);
        return true;
    }
    if (queue.uploading) return false;
    TakeJobsFreely(printer);
    return true;
}

}  // namespace

void HoldJobsThatCome(pappl_printer_t* printer) {
    if (!papplPrinterIsHoldingNewJobs(printer)) papplPrinterHoldNewJobs(printer);
}

void QueueNextJobInOrder(pappl_printer_t* printer, pappl_job_t* ending) {
    // A document on its way is usually in within moments; after a second
    // the timer takes over.
    for (int i = 0; i < 100 && !OrderStep(printer, ending); ++i) usleep(10000);
}

bool ReleaseJobsOfIdlePrinters(pappl_system_t* system, void*) {
    papplSystemIteratePrinters(
        system,
        [](pappl_printer_t* printer, void*) {
            if (!DriverOf(printer) || !papplPrinterIsHoldingNewJobs(printer)) return;
            Queue queue = QueueOf(printer, nullptr);
            if (queue.processing || std::any_of(queue.waiting.begin(), queue.waiting.end(),
                                                [](const Waiting& w) { return w.pending; }))
                return;
            OrderStep(printer, nullptr);
        },
        nullptr);
    return true;
}

}  // namespace printer_app
