// The phases of a job on the server, one small function each: every format
// starts a print worker (worker_link.h) with the job's description, hands
// it the document and turns its verdict into the job's state. Text and raw
// documents go to the worker as the spooled file; PNG and JPEG are decoded
// here and, like PWG and Apple raster, reach the worker as the dot rows of
// each page at the printer's resolution.
#pragma once

#include <pappl/pappl.h>

namespace printer_app {

// Sets the driver's job callbacks.
void SetJobPhases(pappl_pr_driver_data_t* data);

// MIME filters into the printer's own format.
bool TextFilter(pappl_job_t* job, pappl_device_t* device, void* data);
bool RawFilter(pappl_job_t* job, pappl_device_t* device, void* data);
bool ImageFilter(pappl_job_t* job, pappl_device_t* device, void* data);

// Seconds a worker may go without progress before it is stopped (0: no limit).
void SetWorkerHangSeconds(int seconds);

}  // namespace printer_app
