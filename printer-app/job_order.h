// Jobs print in the order they came. PAPPL 1.3 starts the newest pending
// job of a printer when one ends, so jobs that queue up behind a long one
// would print last-in-first-out. While a printer prints, the app therefore
// has it hold new jobs (PAPPL's hold-new-jobs, shown in the printer's
// state), and at the end of each job lets exactly the oldest waiting job
// go; the printer takes jobs freely again once none waits. Jobs a user
// held stay as they are. A timer does the same for an idle printer whose
// last job ended before it reached the app's phases.
//
// Releasing held new jobs also releases a job whose document is still
// being received, and PAPPL 1.3 makes such a job pending again when its
// document is in, even while it prints: it would print twice. So the
// printer keeps holding new jobs while any document is on its way.
#pragma once

#include <pappl/pappl.h>

namespace printer_app {

// A job of the printer begins: jobs that come now wait their turn.
void HoldJobsThatCome(pappl_printer_t* printer);

// A job of the printer ends, before PAPPL picks the next one.
void QueueNextJobInOrder(pappl_printer_t* printer, pappl_job_t* ending);

// The system timer that looks after idle printers.
bool ReleaseJobsOfIdlePrinters(pappl_system_t* system, void* data);

}  // namespace printer_app
