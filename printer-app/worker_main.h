// The print worker's whole run: one job, from its description on the data
// pipe to its verdict on the event pipe (worker_protocol.h). The exit
// status is 0 once the verdict went out, 2 when no job came.
#pragma once

namespace printer_app {

int RunPrintWorker();

}  // namespace printer_app
