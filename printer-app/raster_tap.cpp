#include "printer-app/raster_tap.h"

#include <dlfcn.h>

namespace printer_app {
namespace {

// PAPPL reads a page's header and starts the page on the same thread.
thread_local std::optional<cups_page_header2_t> t_lastHeader;

}  // namespace

std::optional<cups_page_header2_t> TakeClientPageHeader() {
    std::optional<cups_page_header2_t> header;
    header.swap(t_lastHeader);
    return header;
}

}  // namespace printer_app

// Defined in the program, this reader comes before libcups's for every
// library, PAPPL among them; it calls libcups's own and keeps what it read.
extern "C" __attribute__((visibility("default"))) unsigned cupsRasterReadHeader2(cups_raster_t* r,
                                                                                   cups_page_header2_t* h) {
    using Reader = unsigned (*)(cups_raster_t*, cups_page_header2_t*);
    static const Reader real = reinterpret_cast<Reader>(dlsym(RTLD_NEXT, "cupsRasterReadHeader2"));
    if (!real) return 0;
    unsigned ok = real(r, h);
    if (ok) printer_app::t_lastHeader = *h;
    return ok;
}
