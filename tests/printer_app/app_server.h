// The printer application as the tests meet it: a real server started by
// the test in a scratch directory of its own (HOME, XDG directories,
// registry, state, spool, a free loopback port and a program name of its
// own, so that PAPPL's control socket is its own too), reached with the
// real ipptool and the app's own sub-commands; and printers on
// pseudo-terminals whose master side a peer thread reads, answering the
// printer status protocol when asked to.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace app_test {

struct ProcessResult {
    int status = -1;  // exit status, or -1 when it did not exit normally in time
    std::string output;
};

// A loopback TCP port nobody listens on now.
int FreeLoopbackPort();

// Runs argv with the current environment; stdout and stderr together.
ProcessResult RunProcess(const std::vector<std::string>& argv, int timeoutSeconds = 60);

class AppServer {
public:
    // extraOptions: more "-o name=value" pairs for the server.
    explicit AppServer(std::vector<std::string> extraOptions = {});
    ~AppServer();
    AppServer(const AppServer&) = delete;
    AppServer& operator=(const AppServer&) = delete;

    bool Running() const { return m_pid > 0; }
    const std::filesystem::path& Dir() const { return m_dir; }
    int Port() const { return m_port; }
    pid_t Pid() const { return m_pid; }
    std::string PrinterUri(const std::string& printer) const;
    std::string Log() const;

    // The app's own sub-commands, as a user types them.
    ProcessResult Command(std::vector<std::string> args) const;
    bool AddPrinter(const std::string& name, const std::string& driver, const std::string& device);

    // ipptool -tv with a test file (a path or a file of /usr/share/cups/ipptool).
    ProcessResult Ipptool(const std::string& printer, const std::string& test,
                          const std::map<std::string, std::string>& vars = {}, const std::string& file = {}) const;
    // Print-Job of a file; the job-id, 0 when the request failed.
    int Submit(const std::string& printer, const std::string& file, const std::string& format,
               const std::map<std::string, std::string>& attributes = {}) const;
    // A job's attribute as ipptool shows it ("completed", "document-format-error").
    std::string JobAttribute(const std::string& printer, int jobId, const std::string& name) const;
    // Waits for a job to reach completed, canceled or aborted; its state.
    std::string WaitJobDone(const std::string& printer, int jobId, int seconds = 60) const;
    std::string PrinterAttribute(const std::string& printer, const std::string& name) const;

    // Stops the server as its service manager does; false when it would not stop.
    bool Stop();
    // Starts it again on the same directory and port.
    bool Restart();

    // A profile file in the user's profile directory.
    void AddUserProfile(const std::string& fileName, const std::string& text) const;
    // Maps "COMn:" to a path in the registry all processes of the test share.
    static void MapComPort(const std::string& name, const std::string& path);

private:
    bool Start();

    std::filesystem::path m_dir, m_program;
    std::vector<std::string> m_options;
    int m_port = 0;
    pid_t m_pid = -1;
};

// A pseudo-terminal playing a printer: the slave is the printer's serial
// port, a thread reads the master and keeps every byte. With a condition
// set it answers what it receives with that status frame; the end of a
// job (ESC e) and a status request (ESC {ST?}) it answers with the
// condition or, without one, with "done" ({ST!S:C}).
class PtyPrinter {
public:
    explicit PtyPrinter(int bytesPerSecond = 0);  // 0: reads as fast as it can
    ~PtyPrinter();
    PtyPrinter(const PtyPrinter&) = delete;
    PtyPrinter& operator=(const PtyPrinter&) = delete;

    const std::string& SlavePath() const { return m_slavePath; }
    std::string Received();
    void SetCondition(const std::string& fields);  // "J:J" for a paper jam; "" for none
    // Waits until at least n bytes arrived.
    bool WaitFor(size_t n, int seconds = 30);

private:
    void Run();

    int m_master = -1, m_slave = -1;
    std::string m_slavePath;
    int m_rate;
    std::mutex m_lock;
    std::string m_received, m_condition;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

// Files the tests print; a picture is true where it is black.
using Picture = std::function<bool(int x, int y)>;
std::string Png(int width, int height, int ppi, const Picture& black);
// 1-bit black (PWG) or 8-bit grey (Apple raster), one page.
std::string Raster(int width, int height, int xdpi, int ydpi, const Picture& black, bool apple);
// A 1-bit BMP of the picture, for pressel bitmap to print side by side.
std::string Bmp(int width, int height, const Picture& black);
void WriteFile(const std::filesystem::path& path, const std::string& bytes);
std::string ReadFile(const std::filesystem::path& path);

// What the control sends for a bitmap file printed as one job by the
// pressel tool: the side-by-side expectation of image jobs.
std::string PresselBitmapJob(const std::string& ini, const std::string& printer, const std::filesystem::path& bmp,
                             int lines, int columns, const std::filesystem::path& out);

// The print workers a server has started now (their process ids).
std::vector<pid_t> WorkersOf(pid_t server);

// Equal byte streams, or where they part (offset, sizes, bytes around it).
::testing::AssertionResult SameBytes(const std::string& actual, const std::string& expected);

// The profile directory of the build tree.
std::filesystem::path BundledProfile(const std::string& file);

}  // namespace app_test
