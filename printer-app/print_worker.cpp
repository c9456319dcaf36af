// pressel-print-worker: the print worker of one job of pressel-printer-app,
// which starts it with the job's pipes as its descriptors 3 to 5. It is a
// program of its own, without PAPPL, so that it starts quickly.
#include <fcntl.h>

#include <cstdio>

#include "printer-app/worker_main.h"
#include "printer-app/worker_protocol.h"

int main(int argc, char**) {
    if (argc != 1 || fcntl(printer_app::kWorkerDataFd, F_GETFD) < 0) {
        std::fprintf(stderr, "%s: started by pressel-printer-app for each job; not a command of its own\n",
                     printer_app::kWorkerProgram);
        return 2;
    }
    return printer_app::RunPrintWorker();
}
