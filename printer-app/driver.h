// The driver callback: a printer's capabilities from its profile. Media,
// resolution and formats are worked out once per driver and kept for the
// life of the server, as PAPPL keeps pointers into them.
#pragma once

#include <pappl/pappl.h>

#include <string>

#include "printer-app/profile_ref.h"

namespace printer_app {

// The printer's own format: bytes passed to the port unchanged.
inline constexpr const char* kRawFormat = "application/vnd.pressel-raw";

// Job options of the text format, as IPP attributes (with -default and
// -supported on the printer): header and footer lines ({page}, {job},
// {user}, {date}) and the font (normal, double-wide, compressed).
inline constexpr const char* kHeaderOption = "pressel-header";
inline constexpr const char* kFooterOption = "pressel-footer";
inline constexpr const char* kFontOption = "pressel-font";

// What the job phases need of a printer's driver (its extension data).
struct DriverInfo {
    std::string name;
    ProfileRef profile;
    ProfileFacts facts;
    bool roll = false;      // no pages: images get a page of their own height
    int rollMaxRows = 0;    // the longest page a roll takes, in dot rows
};

// The driver of a printer (null for printers of other drivers).
const DriverInfo* DriverOf(pappl_printer_t* printer);

bool DriverCallback(pappl_system_t* system, const char* driver_name, const char* device_uri, const char* device_id,
                    pappl_pr_driver_data_t* data, ipp_t** attrs, void* cbdata);

}  // namespace printer_app
