// Printer conditions that the control reports (NotifyMessage 1080 and a
// code) as IPP printer-state-reasons. The table:
//
//   code                         condition            printer-state-reasons
//   222                          paper jam            media-jam
//   223                          paper running low    media-low
//   229                          cover open           cover-open
//   224                          battery low          other
//   228                          print head too hot   other
//   300, 301                     printer error        other
//   120-122, 200-204, 210, 221   printer error (link) other
//
// Other codes (the link's informational ones) set no reason. A reason
// holds while any of its codes is active; the reasons this table can set
// are the only ones the app changes.
#pragma once

#include <pappl/pappl.h>

#include <set>

namespace printer_app {

inline constexpr pappl_preason_t kOwnedReasons =
    PAPPL_PREASON_MEDIA_JAM | PAPPL_PREASON_MEDIA_LOW | PAPPL_PREASON_COVER_OPEN | PAPPL_PREASON_OTHER;

// The reason of one condition code (PAPPL_PREASON_NONE for codes without one).
pappl_preason_t ReasonForCondition(long code);

// The reasons of a set of active codes.
pappl_preason_t ReasonsForConditions(const std::set<long>& codes);

// Marks a condition of a printer as active or over and brings the
// printer's reasons up to date. Safe from any thread.
void SetPrinterCondition(pappl_printer_t* printer, long code, bool active);

// The codes active on a printer now.
std::set<long> PrinterConditions(pappl_printer_t* printer);

// Forgets a deleted printer's conditions.
void ForgetPrinterConditions(pappl_printer_t* printer);

}  // namespace printer_app
