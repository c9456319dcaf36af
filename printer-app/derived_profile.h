// How a worker's StartLP reaches the job's printer. A job that prints on
// the profile's own port uses the profile itself. Otherwise the worker
// writes a copy of the printer's section into the job's directory, with
// its port replaced: by a port description ([PrinterPorts]), or by a file
// or device (PortName). For raw documents the copy also makes the control
// pass bytes through unchanged: Unicode on (so that the line buffer is not
// converted to the ANSI code page), every sequence empty, no start-up or
// shut-down characters and no pages; the port, its settings and status
// protocol, the delays and the chunking stay the profile's.
#pragma once

#include <string>

#include "printer-app/profile_ref.h"

namespace printer_app {

struct StartArgs {
    std::u16string regPath;  // StartLP's bsIniFile
    std::u16string printer;  // bsPrinterName
    std::u16string iniName;  // bsIniName
};

// The section name of a written copy.
inline constexpr const char* kCopySection = "Job";

// port and output are the device's replacement (at most one non-empty).
// False with the reason when the copy cannot be written.
bool PrepareProfile(const ProfileRef& ref, const std::string& port, const std::string& output, bool raw,
                    const std::string& dir, StartArgs* args, std::string* why);

// A sequence's notation in plain decimal codes ("27,64"), the shortest
// that every reader parses the same; what a copy holds when the original
// text does not fit an INI value.
std::u16string DecimalSequence(const std::u16string& text);

}  // namespace printer_app
