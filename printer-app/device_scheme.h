// The "pressel" device scheme (device_uri.h). PAPPL opens a printer's
// device before every job; the port itself is opened by the control in the
// job's worker, so opening the device here only has to succeed.
#pragma once

namespace printer_app {

void AddDeviceScheme();

}  // namespace printer_app
