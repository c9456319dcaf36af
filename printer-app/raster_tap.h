// The header of the raster page a client sent, as PAPPL read it.
//
// PAPPL 1.3 reads PWG and Apple raster streams itself and shows the driver
// only the page header it made for the printer. When it dithers a client's
// 8-bit rows to the printer's 1 bit, it writes as many dots as the client's
// row has into a line as long as the printer's row: a page wider than the
// printer's (CUPS sends a letter page to an 80 mm roll) runs past the end of
// that line and corrupts the server's heap. The tap watches PAPPL's calls to
// libcups's header reader, so that the page's start can check the client's
// page against the printer and make room for its row.
#pragma once

#include <cups/raster.h>

#include <optional>

namespace printer_app {

// The header this thread read last, once; nothing when none was read since.
std::optional<cups_page_header2_t> TakeClientPageHeader();

}  // namespace printer_app
