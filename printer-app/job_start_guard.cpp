// One job thread at a time per printer, and each job started once.
//
// PAPPL 1.3 marks a printer busy only when the thread it started for a job
// has begun: two checks for new jobs in the same instant (two documents
// coming in together) start the same job twice, which then prints twice and
// is finished twice, or start a second job beside the first, and the two
// fight over the port. Defined in the program, this entry comes before
// PAPPL's own for the threads PAPPL starts: a thread waits while another job
// thread of its printer runs, and leaves at once if its job is no longer
// pending when its turn comes.
#include <dlfcn.h>
#include <pappl/pappl.h>

#include <condition_variable>
#include <mutex>
#include <set>

namespace {

std::mutex g_lock;
std::condition_variable g_turn;
std::set<pappl_printer_t*> g_running;  // printers with a job thread at work

}  // namespace

extern "C" __attribute__((visibility("default"))) void* _papplJobProcess(pappl_job_t* job) {
    using Process = void* (*)(pappl_job_t*);
    static const Process real = reinterpret_cast<Process>(dlsym(RTLD_NEXT, "_papplJobProcess"));
    if (!real) return nullptr;
    pappl_printer_t* printer = papplJobGetPrinter(job);
    {
        std::unique_lock hold(g_lock);
        g_turn.wait(hold, [printer] { return !g_running.count(printer); });
        if (papplJobGetState(job) != IPP_JSTATE_PENDING) return nullptr;
        g_running.insert(printer);
    }
    void* result = real(job);
    {
        std::lock_guard hold(g_lock);
        g_running.erase(printer);
    }
    g_turn.notify_all();
    return result;
}
