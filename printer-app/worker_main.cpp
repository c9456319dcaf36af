// The print worker: one job, from its description on the data pipe to its
// verdict on the event pipe, printed through the control. Its phases, one
// function each: the text document, the raw document, the raster pages.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>

#include "printer-app/derived_profile.h"
#include "printer-app/page_plan.h"
#include "printer-app/worker_main.h"
#include "printer-app/worker_session.h"
#include "tools/pressel/automation_client.h"

namespace printer_app {
namespace {

// Raw bytes are handed to the control in pieces of this size.
constexpr size_t kRawPiece = 4096;

bool ReadDocument(const std::map<std::string, std::string>& job, std::string* bytes) {
    auto it = job.find("document");
    if (it == job.end()) return false;
    std::ifstream in(it->second, std::ios::binary);
    if (!in) return false;
    bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

LONG FontType(const std::string& font) {
    if (font == "double-wide") return 1;
    if (font == "compressed") return 2;
    return 0;
}

// Each line of the text becomes a printed line; a form feed ends the page.
void PrintText(WorkerSession& session, const std::string& text, LONG font) {
    pressel_tool::PresselClient& control = session.Control();
    if (font != 0) control.FontSelect(font, 0, 0);
    std::stringstream in(text);
    for (std::string line; std::getline(in, line);) {
        session.Pump();
        if (!session.Printing()) return;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        control.PrintTextLine(line);
    }
}

// The bytes go through the control's line buffer unchanged (see
// derived_profile.h); the last line end sends what is left in it.
void PrintRaw(WorkerSession& session, const std::string& bytes) {
    pressel_tool::PresselClient& control = session.Control();
    for (size_t at = 0; at < bytes.size() && session.Printing(); at += kRawPiece) {
        session.Pump();
        control.WriteBytes(bytes.data() + at, static_cast<UINT>(std::min(kRawPiece, bytes.size() - at)));
    }
    control.NewLine();
}

// A text's copies start on pages of their own; raw copies follow each other.
void PrintCopies(WorkerSession& session, const std::string& document, bool text, LONG font, int copies) {
    for (int copy = 0; copy < copies && session.Printing(); ++copy) {
        if (!text) {
            PrintRaw(session, document);
            continue;
        }
        if (copy > 0) session.NextCopy();
        PrintText(session, document, font);
    }
}

// One page's picture as Bitmap calls (page_plan.h), then the page's end.
void PrintPage(WorkerSession& session, const PageRaster& page, const ProfileFacts& facts, const std::string& dir) {
    pressel_tool::PresselClient& control = session.Control();
    const GraphicsGeometry& g = facts.geometry;
    const int columns = ColumnsFor(g);
    const std::u16string file = pressel_tool::Wide(dir + "/strip.bmp");
    int rows = InkedRows(page);
    for (const Strip& strip : PlanStrips(rows, g)) {
        session.Pump();
        if (!session.Printing()) return;
        if (!WriteStripBitmap(dir + "/strip.bmp", page, strip.firstRow, strip.lines * g.charHeight,
                              columns * g.charWidth)) {
            session.Fail(AbortReason::Worker, "The page's picture could not be written for the control.");
            return;
        }
        control.Bitmap(1, strip.lines, columns, file);
        LONG error = control.LastError();
        if (error != 0) {
            char text[96];
            std::snprintf(text, sizeof text, "The control refused the page's picture (0x%08X).",
                          static_cast<unsigned>(error));
            session.Fail(AbortReason::Printer, text);
            control.Cancel();
            return;
        }
    }
    // A blank page of a roll feeds nothing; a blank form is still a form.
    if (rows > 0) control.FormFeed();
    else if (facts.printableLines > 0) control.ActualFormFeed();
}

// Pages kept for the copies after the first: the stream comes only once.
void KeepPage(std::ofstream& out, const PageRaster& page) {
    std::string head;
    PutU32(&head, static_cast<uint32_t>(page.bytesPerRow));
    PutU32(&head, static_cast<uint32_t>(page.widthDots));
    PutU32(&head, static_cast<uint32_t>(page.bits.size()));
    out << head << page.bits;
}

bool ReadKeptPage(std::ifstream& in, PageRaster* page) {
    std::string head(12, '\0');
    if (!in.read(head.data(), 12)) return false;
    page->bytesPerRow = static_cast<int>(GetU32(head, 0));
    page->widthDots = static_cast<int>(GetU32(head, 4));
    page->bits.resize(GetU32(head, 8));
    return static_cast<bool>(in.read(page->bits.data(), static_cast<std::streamsize>(page->bits.size())));
}

void PrintPages(WorkerSession& session, const ProfileFacts& facts, const std::string& dir, int copies) {
    const std::string keptFile = dir + "/pages.bin";
    std::ofstream kept;
    if (copies > 1) kept.open(keptFile, std::ios::binary);
    PageRaster page;
    Msg type;
    std::string payload;
    while (ReadMessage(kWorkerDataFd, &type, &payload) && type != Msg::End) {
        if (type == Msg::PageStart) {
            page.bytesPerRow = static_cast<int>(GetU32(payload, 0));
            page.widthDots = static_cast<int>(GetU32(payload, 4));
            page.bits.clear();
        } else if (type == Msg::Rows) {
            page.bits += payload;
        } else if (type == Msg::PageEnd) {
            if (page.bytesPerRow > 0 && session.Printing()) PrintPage(session, page, facts, dir);
            if (page.bytesPerRow > 0 && kept.is_open()) KeepPage(kept, page);
            page.bits.clear();
        }
    }
    if (!kept.is_open()) return;
    kept.close();
    if (!kept) {
        session.Fail(AbortReason::Worker, "No room to keep the pages for the other copies.");
        return;
    }
    for (int copy = 1; copy < copies && session.Printing(); ++copy) {
        std::ifstream in(keptFile, std::ios::binary);
        while (session.Printing() && ReadKeptPage(in, &page)) PrintPage(session, page, facts, dir);
    }
}

int RunJob(WorkerSession& session, const std::map<std::string, std::string>& job) {
    auto value = [&](const char* key) {
        auto it = job.find(key);
        return it == job.end() ? std::string() : it->second;
    };
    const std::string format = value("format"), dir = value("workdir");
    const int copies = std::clamp(std::atoi(value("copies").c_str()), 1, kMaxCopies);
    ProfileRef ref;
    ProfileFacts facts;
    StartArgs args;
    std::string why, document;
    if (!GetProfileFields(job, &ref) || !LoadProfileFacts(ref, &facts)) {
        session.Fail(AbortReason::Worker, "The printer's profile cannot be read.");
    } else if (!PrepareProfile(ref, value("port"), value("output"), format == "raw", dir, &args, &why)) {
        session.Fail(AbortReason::Worker, "The job cannot be printed: " + why + ".");
    } else if (format != "image" && !ReadDocument(job, &document)) {
        session.Fail(AbortReason::Worker, "The spooled document cannot be read.");
    } else if (!session.Open(&why)) {
        session.Fail(AbortReason::Worker, "The Pressel control is not available: " + why + ".");
    } else if (session.Start(args, format == "text")) {
        if (format == "image") PrintPages(session, facts, dir, copies);
        else PrintCopies(session, document, format == "text", FontType(value("font")), copies);
    }
    // A cancel that came while the worker waited for data is heard now.
    session.Pump();
    session.Finish();
    session.ReportDone();
    return 0;
}

}  // namespace

int RunPrintWorker() {
    Msg type;
    std::string payload;
    if (!ReadMessage(kWorkerDataFd, &type, &payload) || type != Msg::Job) return 2;
    WorkerSession session(kWorkerCancelFd, kWorkerEventFd, DecodeFields(payload));
    return RunJob(session, DecodeFields(payload));
}

}  // namespace printer_app
