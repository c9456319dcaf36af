// The printer application's system: PAPPL's server with the drivers, the
// device scheme and the document formats of this app. The server options
// are PAPPL's own (-o name=value) plus a few of this app's:
//   listen-hostname=NAME   where to listen: "localhost" (the default) keeps
//                          the server on loopback; "*" or a host name
//                          shares it on the network
//   auth-service=SERVICE   PAM service for remote administration; "login"
//                          when the server is shared and none is named
//   admin-group=GROUP      who may administer it
//   server-port=N, log-file=F, log-level=L, spool-directory=D
//   state-file=F           where printers and settings persist
//                          ($XDG_STATE_HOME/pressel-printer-app.state, else
//                          /var/lib/pressel-printer-app/... for root, else
//                          ~/.local/state/pressel-printer-app.state)
//   worker-timeout=S       seconds a job may go without progress (300; 0: none)
#pragma once

#include <pappl/pappl.h>

#include <string>

namespace printer_app {

// The drivers as papplMainloop takes them, listed when the program starts.
pappl_pr_driver_t* MainloopDrivers(int* count);

// The system callback of papplMainloop. subcommand is the program's
// sub-command: only "server" listens and loads the saved state.
void SetSubcommand(const std::string& subcommand);
pappl_system_t* SystemCallback(int num_options, cups_option_t* options, void* data);

// The state file the options name, or the default described above.
std::string StateFilePath(const char* option);

// True for a listen host name that keeps the server on loopback.
bool IsLoopbackHost(const std::string& host);

}  // namespace printer_app
