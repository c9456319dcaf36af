#include "printer-app/job_phases.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <memory>
#include <set>
#include <string>

#include "printer-app/device_uri.h"
#include "printer-app/driver.h"
#include "printer-app/image_decode.h"
#include "printer-app/job_order.h"
#include "printer-app/raster_tap.h"
#include "printer-app/state_reasons.h"
#include "printer-app/worker_link.h"

namespace printer_app {
namespace {

std::atomic<int> g_hangSeconds{300};

// Rows of a page are sent in pieces of about this size.
constexpr size_t kRowBatch = 64 * 1024;

// Widest raster page taken: 9 m at 180 dpi, far past any printer's.
constexpr unsigned kMaxClientDots = 65536;

// A job on the server: its worker and what is on the way to it.
struct PresselJob {
    pappl_job_t* job = nullptr;
    pappl_printer_t* printer = nullptr;
    const DriverInfo* driver = nullptr;
    std::set<long> before;    // the printer's conditions when the job began
    std::set<long> reported;  // conditions reported during this job
    std::unique_ptr<WorkerLink> link;
    std::filesystem::path workdir;
    std::string rows;  // rows not sent yet
    bool linkOk = false;
    // Apple raster comes at the printer's density across only: its rows are
    // mapped onto the printer's rows (rowsOut of every rowsIn).
    int rowsIn = 1, rowsOut = 1;
    int64_t sourceRow = 0;
    unsigned rowBytes = 0;  // of a printer row; a client's may be longer

    ~PresselJob() {
        link.reset();
        std::error_code ec;
        if (!workdir.empty()) std::filesystem::remove_all(workdir, ec);
    }
};

std::string AttributeText(ipp_attribute_t* attr) {
    if (!attr) return {};
    const char* text = ippGetString(attr, 0, nullptr);
    return text ? text : "";
}

// A job's text option: its own attribute, else the printer's default.
std::string JobOption(pappl_job_t* job, pappl_printer_t* printer, const char* name) {
    if (ipp_attribute_t* attr = papplJobGetAttribute(job, name)) return AttributeText(attr);
    ipp_t* attrs = papplPrinterGetDriverAttributes(printer);
    std::string value = AttributeText(ippFindAttribute(attrs, (std::string(name) + "-default").c_str(), IPP_TAG_ZERO));
    ippDelete(attrs);
    return value;
}

std::string Today() {
    char text[32];
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    std::strftime(text, sizeof text, "%Y-%m-%d", &local);
    return text;
}

// The job's description for the worker.
std::map<std::string, std::string> Describe(const PresselJob& pj, const char* format) {
    std::map<std::string, std::string> fields;
    PutProfileFields(pj.driver->profile, &fields);
    DeviceTarget device;
    if (ParseDeviceUri(papplPrinterGetDeviceURI(pj.printer), &device) && device.kind != DeviceTarget::Kind::ProfilePort)
        fields[device.kind == DeviceTarget::Kind::File ? "output" : "port"] = device.value;
    fields["format"] = format;
    fields["workdir"] = pj.workdir.string();
    fields["job-id"] = std::to_string(papplJobGetID(pj.job));
    const char* name = papplJobGetName(pj.job);
    const char* user = papplJobGetUsername(pj.job);
    fields["job-name"] = name ? name : "";
    fields["user"] = user ? user : "";
    fields["date"] = Today();
    fields["header"] = JobOption(pj.job, pj.printer, kHeaderOption);
    fields["footer"] = JobOption(pj.job, pj.printer, kFooterOption);
    fields["font"] = JobOption(pj.job, pj.printer, kFontOption);
    // PAPPL repeats the pages of a PNG or JPEG for their copies itself; the
    // worker makes the copies of text, raw and raster documents.
    const char* docFormat = papplJobGetFormat(pj.job);
    bool papplCopies = docFormat && (!std::strcmp(docFormat, "image/png") || !std::strcmp(docFormat, "image/jpeg"));
    ipp_attribute_t* copies = papplJobGetAttribute(pj.job, "copies");
    int count = copies && !papplCopies ? ippGetInteger(copies, 0) : 1;
    fields["copies"] = std::to_string(std::clamp(count, 1, kMaxCopies));
    if (const char* file = papplJobGetFilename(pj.job)) fields["document"] = file;
    return fields;
}

void SetAbort(pappl_job_t* job, AbortReason reason, const std::string& message) {
    pappl_jreason_t why = reason == AbortReason::Document ? PAPPL_JREASON_DOCUMENT_FORMAT_ERROR
                                                          : PAPPL_JREASON_ABORTED_BY_SYSTEM;
    papplJobSetReasons(job, why | PAPPL_JREASON_JOB_COMPLETED_WITH_ERRORS, PAPPL_JREASON_NONE);
    papplJobSetMessage(job, "%s", message.c_str());
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "%s", message.c_str());
}

// Starts the worker of a job; null (with the job's state set) when it cannot.
PresselJob* StartWorker(pappl_job_t* job, const char* format) {
    auto pj = std::make_unique<PresselJob>();
    pj->job = job;
    pj->printer = papplJobGetPrinter(job);
    pj->driver = DriverOf(pj->printer);
    if (!pj->driver) {
        SetAbort(job, AbortReason::Worker, "The printer has no Pressel driver.");
        return nullptr;
    }
    std::string pattern = (std::filesystem::temp_directory_path() / "pressel-job-XXXXXX").string();
    if (!mkdtemp(pattern.data())) {
        SetAbort(job, AbortReason::Worker, "No room for the job's files.");
        return nullptr;
    }
    pj->workdir = pattern;
    pj->before = PrinterConditions(pj->printer);
    HoldJobsThatCome(pj->printer);

    PresselJob* raw = pj.get();
    WorkerEvents events;
    events.started = [raw] {
        // Output went out: what the printer reported before is over unless
        // it says so again.
        for (long code : raw->before)
            if (!raw->reported.count(code)) SetPrinterCondition(raw->printer, code, false);
    };
    events.condition = [raw](long code, bool active) {
        if (active) raw->reported.insert(code);
        SetPrinterCondition(raw->printer, code, active);
    };
    events.cancelled = [job] { return papplJobIsCanceled(job); };
    pj->link = std::make_unique<WorkerLink>(std::move(events), g_hangSeconds.load());

    std::string why;
    if (!pj->link->Start(Describe(*pj, format), &why)) {
        // The worker's verdict, if it got that far, says more.
        WorkerResult result = pj->link->Finish();
        SetAbort(job, AbortReason::Worker, result.message.empty() ? why : result.message);
        return nullptr;
    }
    pj->linkOk = true;
    papplJobSetData(job, pj.get());
    return pj.release();
}

// Ends a job: the worker's verdict becomes the job's state. True when the
// job completed (or was cancelled as asked).
bool EndJob(PresselJob* pj) {
    std::unique_ptr<PresselJob> owned(pj);
    papplJobSetData(pj->job, nullptr);
    if (!pj->rows.empty() && pj->linkOk) pj->link->Send(Msg::Rows, pj->rows);
    WorkerResult result = pj->link->Finish();
    QueueNextJobInOrder(pj->printer, pj->job);
    switch (result.outcome) {
    case Outcome::Completed: return true;
    case Outcome::Cancelled:
        if (papplJobIsCanceled(pj->job)) return true;
        papplJobSetReasons(pj->job, PAPPL_JREASON_JOB_CANCELED_AT_DEVICE, PAPPL_JREASON_NONE);
        papplJobSetMessage(pj->job, "The job was stopped at the printer.");
        return false;
    case Outcome::Aborted: break;
    }
    SetAbort(pj->job, result.reason, result.message);
    return false;
}

bool PrintSpooledFile(pappl_job_t* job, const char* format) {
    PresselJob* pj = StartWorker(job, format);
    return pj && EndJob(pj);
}

PresselJob* JobOf(pappl_job_t* job) { return static_cast<PresselJob*>(papplJobGetData(job)); }

bool RStartJob(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t*) {
    const DriverInfo* driver = DriverOf(papplJobGetPrinter(job));
    if (driver && !driver->facts.graphics) {
        SetAbort(job, AbortReason::Document,
                 "The printer's profile has no usable graphics geometry (GraphNumPins, GraphXDots, GraphCharHeight, "
                 "GraphCharWidth), so it prints text and raw documents only.");
        return false;
    }
    return StartWorker(job, "image") != nullptr;
}

// Checks the page a client sent against the printer and makes PAPPL's line
// hold the client's row; false, with the job's reason, for a page that
// cannot print.
bool TakeClientPage(pappl_job_t* job, const PresselJob& pj, bool urf, pappl_pr_options_t* options) {
    auto client = TakeClientPageHeader();
    if (!client) return true;
    // Apple raster has one density, the printer's across (urf-supported).
    const unsigned xres = static_cast<unsigned>(pj.driver->facts.xDpi);
    const unsigned yres = static_cast<unsigned>(urf ? pj.driver->facts.xDpi : pj.driver->facts.yDpi);
    if (client->HWResolution[0] != xres || client->HWResolution[1] != yres) {
        SetAbort(job, AbortReason::Document,
                 "The raster page is at " + std::to_string(client->HWResolution[0]) + "x" +
                     std::to_string(client->HWResolution[1]) + " dpi; the printer takes " + std::to_string(xres) + "x" +
                     std::to_string(yres) + " dpi.");
        return false;
    }
    if (client->cupsWidth > kMaxClientDots) {
        SetAbort(job, AbortReason::Document,
                 "The raster page is " + std::to_string(client->cupsWidth) + " dots wide; pages up to " +
                     std::to_string(kMaxClientDots) + " are taken.");
        return false;
    }
    // PAPPL dithers the client's row into a line of the printer's length:
    // make it hold the whole row. Only the printer's width is printed.
    if (client->cupsBitsPerPixel == 8 && options->header.cupsBitsPerPixel == 1)
        options->header.cupsBytesPerLine = std::max(pj.rowBytes, (client->cupsWidth + 7) / 8);
    return true;
}

bool RStartPage(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t*, unsigned) {
    PresselJob* pj = JobOf(job);
    if (!pj) return false;
    const int xres = pj->driver->facts.xDpi, yres = pj->driver->facts.yDpi;
    const char* format = papplJobGetFormat(job);
    if (format && !std::strcmp(format, "image/urf") && xres != yres) {
        // URF has one density for both directions (urf-supported gives the
        // printer's across): let PAPPL hand over all of the page's rows.
        pj->rowsIn = xres;
        pj->rowsOut = yres;
        options->header.cupsHeight =
            static_cast<unsigned>((int64_t{options->header.cupsHeight} * xres + yres - 1) / yres);
    }
    pj->sourceRow = 0;
    pj->rowBytes = options->header.cupsBytesPerLine;
    if (!TakeClientPage(job, *pj, format && !std::strcmp(format, "image/urf"), options)) return false;
    std::string payload;
    PutU32(&payload, pj->rowBytes);
    PutU32(&payload, options->header.cupsWidth);
    return pj->link->Send(Msg::PageStart, payload) || papplJobIsCanceled(job);
}

bool RWriteLine(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t*, unsigned, const unsigned char* line) {
    PresselJob* pj = JobOf(job);
    if (!pj || !pj->linkOk) return false;
    // The nearest printer rows of this source row: as many as its span covers.
    int64_t first = (pj->sourceRow * pj->rowsOut + pj->rowsIn - 1) / pj->rowsIn;
    int64_t end = ((pj->sourceRow + 1) * pj->rowsOut + pj->rowsIn - 1) / pj->rowsIn;
    ++pj->sourceRow;
    for (int64_t r = first; r < end; ++r) pj->rows.append(reinterpret_cast<const char*>(line), pj->rowBytes);
    if (pj->rows.size() < kRowBatch) return true;
    pj->linkOk = pj->link->Send(Msg::Rows, pj->rows);
    pj->rows.clear();
    return pj->linkOk;
}

bool REndPage(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t*, unsigned) {
    PresselJob* pj = JobOf(job);
    if (!pj) return false;
    if (pj->linkOk && !pj->rows.empty()) pj->linkOk = pj->link->Send(Msg::Rows, pj->rows);
    pj->rows.clear();
    if (pj->linkOk) pj->linkOk = pj->link->Send(Msg::PageEnd, {});
    return pj->linkOk || papplJobIsCanceled(job);
}

bool REndJob(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t*) {
    PresselJob* pj = JobOf(job);
    return pj && EndJob(pj);
}

bool PrintFile(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t*) { return PrintSpooledFile(job, "raw"); }

void PrinterDeleted(pappl_printer_t* printer, pappl_pr_driver_data_t*) { ForgetPrinterConditions(printer); }

// A roll has no page length of its own: an image gets a page exactly as
// tall as it prints, so that nothing is fed before or after it. The
// height follows PAPPL's own scaling rules for the job's print-scaling.
void FitRollPage(pappl_pr_options_t* options, const GreyImage& image, int maxRows) {
    const int xres = options->printer_resolution[0], yres = options->printer_resolution[1];
    const int64_t pageWidth = options->header.cupsWidth;
    int64_t rows;
    bool natural = options->print_scaling == PAPPL_SCALING_NONE ||
                   ((options->print_scaling == PAPPL_SCALING_AUTO || options->print_scaling == PAPPL_SCALING_AUTO_FIT) &&
                    image.ppi > 0 && int64_t{image.width} * xres / image.ppi <= pageWidth);
    if (natural) {
        int ppi = image.ppi > 0 ? image.ppi : 200;  // PAPPL's own default for unscaled images
        rows = int64_t{image.height} * yres / ppi;
    } else {
        // Fitted to the roll's width, the aspect ratio kept in inches.
        rows = pageWidth * image.height * yres / (int64_t{image.width} * xres);
    }
    rows = std::clamp<int64_t>(rows, 1, maxRows);
    options->header.cupsHeight = static_cast<unsigned>(rows);
    options->header.PageSize[1] = static_cast<unsigned>(rows * 72 / yres);
    options->media.size_length = static_cast<int>(rows * 2540 / yres);
    options->media.top_margin = options->media.bottom_margin = 0;
}

}  // namespace

void SetWorkerHangSeconds(int seconds) { g_hangSeconds = std::max(seconds, 0); }

void SetJobPhases(pappl_pr_driver_data_t* data) {
    data->printfile_cb = PrintFile;
    data->rstartjob_cb = RStartJob;
    data->rstartpage_cb = RStartPage;
    data->rwriteline_cb = RWriteLine;
    data->rendpage_cb = REndPage;
    data->rendjob_cb = REndJob;
    data->delete_cb = PrinterDeleted;
}

bool TextFilter(pappl_job_t* job, pappl_device_t*, void*) { return PrintSpooledFile(job, "text"); }

bool RawFilter(pappl_job_t* job, pappl_device_t*, void*) { return PrintSpooledFile(job, "raw"); }

bool ImageFilter(pappl_job_t* job, pappl_device_t* device, void*) {
    pappl_printer_t* printer = papplJobGetPrinter(job);
    const DriverInfo* driver = DriverOf(printer);
    int maxWidth = 0, maxHeight = 0;
    size_t maxBytes = papplSystemGetMaxImageSize(papplPrinterGetSystem(printer), &maxWidth, &maxHeight);
    GreyImage image;
    std::string why;
    const char* file = papplJobGetFilename(job);
    if (!DecodeImageFile(file ? file : "", papplJobGetFormat(job), maxBytes, std::max(maxWidth, maxHeight), &image,
                         &why)) {
        SetAbort(job, AbortReason::Document, "The document cannot be printed: " + why + ".");
        return false;
    }
    pappl_pr_options_t* options = papplJobCreatePrintOptions(job, 1, false);
    if (!options) return false;
    if (driver && driver->roll) FitRollPage(options, image, driver->rollMaxRows);
    bool ok = papplJobFilterImage(job, device, options, image.pixels.data(), image.width, image.height, 1, image.ppi,
                                  false);
    papplJobDeletePrintOptions(options);
    // A page that failed to start ends the filter without the job's end.
    if (PresselJob* pj = JobOf(job)) ok = EndJob(pj) && ok;
    return ok;
}

}  // namespace printer_app
