#include "app_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cups/raster.h>
#include <png.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>

#include "win/registry.h"

extern char** environ;

namespace app_test {
namespace fs = std::filesystem;

namespace {

}  // namespace

int FreeLoopbackPort() {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    close(fd);
    return ntohs(addr.sin_port);
}

namespace {

bool Connects(int port) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool ok = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    close(fd);
    return ok;
}

pid_t Spawn(const std::vector<std::string>& argv, int outFd) {
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (outFd >= 0) {
        posix_spawn_file_actions_adddup2(&actions, outFd, 1);
        posix_spawn_file_actions_adddup2(&actions, outFd, 2);
    }
    pid_t pid = -1;
    if (posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

// "name (type) = value" lines of ipptool -tv.
std::string IppValue(const std::string& output, const std::string& name) {
    std::istringstream in(output);
    for (std::string line; std::getline(in, line);) {
        size_t at = line.find_first_not_of(' ');
        if (at == std::string::npos || line.compare(at, name.size() + 2, name + " (") != 0) continue;
        size_t eq = line.find(" = ", at);
        if (eq != std::string::npos) return line.substr(eq + 3);
    }
    return {};
}

std::string Quote(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') out.push_back('\\');
        out.push_back(c);
    }
    return out + "\"";
}

}  // namespace

ProcessResult RunProcess(const std::vector<std::string>& argv, int timeoutSeconds) {
    int fds[2];
    ProcessResult result;
    if (pipe2(fds, O_CLOEXEC) != 0) return result;
    pid_t pid = Spawn(argv, fds[1]);
    close(fds[1]);
    if (pid < 0) {
        close(fds[0]);
        return result;
    }
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
    for (;;) {
        int ms = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count());
        pollfd pfd{fds[0], POLLIN, 0};
        if (ms <= 0 || poll(&pfd, 1, ms) <= 0) {
            kill(pid, SIGKILL);
            break;
        }
        char buffer[4096];
        ssize_t n = read(fds[0], buffer, sizeof buffer);
        if (n <= 0) break;
        result.output.append(buffer, static_cast<size_t>(n));
    }
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

AppServer::AppServer(std::vector<std::string> extraOptions) : m_options(std::move(extraOptions)) {
    // The directory of the first server in this process: later ones (and
    // the files tests make) must not land in an earlier one's.
    static const fs::path base = fs::temp_directory_path();
    std::string pattern = (base / "ppa-test-XXXXXX").string();
    if (!mkdtemp(pattern.data())) return;
    m_dir = pattern;
    for (const char* sub : {"run", "state", "data", "config", "spool", "tmp", "bin"}) fs::create_directories(m_dir / sub);
    setenv("HOME", m_dir.c_str(), 1);
    setenv("XDG_RUNTIME_DIR", (m_dir / "run").c_str(), 1);
    setenv("XDG_STATE_HOME", (m_dir / "state").c_str(), 1);
    setenv("XDG_DATA_HOME", (m_dir / "data").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (m_dir / "config").c_str(), 1);
    setenv("TMPDIR", (m_dir / "tmp").c_str(), 1);
    setenv("PRESSEL_REGISTRY", (m_dir / "registry.reg").c_str(), 1);
    // PAPPL names its control socket after the program: a name of our own.
    static int servers = 0;
    m_program = m_dir / "bin" / ("ppa-" + std::to_string(getpid()) + "-" + std::to_string(++servers));
    fs::create_symlink(fs::path(PRESSEL_BIN_DIR) / "pressel-printer-app", m_program);
    m_port = FreeLoopbackPort();
    Start();
}

AppServer::~AppServer() {
    Stop();
    std::error_code ec;
    if (!m_dir.empty()) fs::remove_all(m_dir, ec);
}

bool AppServer::Start() {
    // A socket left by an earlier run of the same name would look ready.
    const std::string name = m_program.filename().string() + ".sock";
    const fs::path sockets[] = {fs::path("/run") / name, m_dir / "run" / name};
    std::error_code ec;
    for (const fs::path& socket : sockets) fs::remove(socket, ec);
    std::vector<std::string> argv = {m_program.string(), "server", "-o", "server-port=" + std::to_string(m_port),
                                     "-o", "log-file=" + (m_dir / "log").string(), "-o", "log-level=info",
                                     "-o", "spool-directory=" + (m_dir / "spool").string()};
    for (const std::string& o : m_options) argv.insert(argv.end(), {"-o", o});
    int out = open((m_dir / "server.out").c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    // The server goes with the test, even when the test dies. Between fork
    // and exec only calls that are safe in a copy of a threaded process.
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    m_pid = fork();
    if (m_pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        dup2(out, 1);
        dup2(out, 2);
        execv(args[0], args.data());
        _exit(127);
    }
    close(out);
    // Ready once it takes IPP and its control socket is there: a sub-command
    // that finds no socket would start a server of its own.
    for (int i = 0; i < 200 && m_pid > 0; ++i) {
        if (Connects(m_port) && (fs::exists(sockets[0]) || fs::exists(sockets[1]))) return true;
        if (waitpid(m_pid, nullptr, WNOHANG) == m_pid) m_pid = -1;
        usleep(50000);
    }
    return false;
}

bool AppServer::Stop() {
    if (m_pid <= 0) return true;
    // As the service manager stops it; the shutdown sub-command waits for
    // PAPPL's next round, up to half a minute.
    kill(m_pid, SIGTERM);
    bool stopped = false;
    for (int i = 0; i < 200 && !stopped; ++i) {
        stopped = waitpid(m_pid, nullptr, WNOHANG) == m_pid;
        if (!stopped) usleep(50000);
    }
    if (!stopped) {
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
    }
    m_pid = -1;
    return stopped;
}

bool AppServer::Restart() {
    return Stop() && Start();
}

std::string AppServer::PrinterUri(const std::string& printer) const {
    return "ipp://localhost:" + std::to_string(m_port) + "/ipp/print/" + printer;
}

std::string AppServer::Log() const { return ReadFile(m_dir / "log") + ReadFile(m_dir / "server.out"); }

ProcessResult AppServer::Command(std::vector<std::string> args) const {
    args.insert(args.begin(), m_program.string());
    return RunProcess(args);
}

bool AppServer::AddPrinter(const std::string& name, const std::string& driver, const std::string& device) {
    std::vector<std::string> args = {"add", "-d", name, "-m", driver};
    if (!device.empty()) args.insert(args.end(), {"-v", device});
    return Command(args).status == 0;
}

ProcessResult AppServer::Ipptool(const std::string& printer, const std::string& test,
                                 const std::map<std::string, std::string>& vars, const std::string& file) const {
    std::vector<std::string> argv = {"/usr/bin/ipptool", "-tv", "-T", "30"};
    for (const auto& [k, v] : vars) argv.insert(argv.end(), {"-d", k + "=" + v});
    if (!file.empty()) argv.insert(argv.end(), {"-f", file});
    std::string path = test.find('/') == std::string::npos ? "/usr/share/cups/ipptool/" + test : test;
    argv.insert(argv.end(), {PrinterUri(printer), path});
    return RunProcess(argv);
}

int AppServer::Submit(const std::string& printer, const std::string& file, const std::string& format,
                      const std::map<std::string, std::string>& attributes) const {
    static std::atomic<int> counter{0};
    fs::path test = m_dir / ("submit-" + std::to_string(getpid()) + "-" + std::to_string(counter++) + ".test");
    std::string text = "{\n NAME \"Print-Job\"\n OPERATION Print-Job\n GROUP operation-attributes-tag\n"
                       " ATTR charset attributes-charset utf-8\n ATTR naturalLanguage attributes-natural-language en\n"
                       " ATTR uri printer-uri $uri\n ATTR name requesting-user-name tester\n"
                       " ATTR mimeMediaType document-format " + format + "\n"
                       " ATTR name job-name " + Quote(fs::path(file).filename().string()) + "\n";
    if (!attributes.empty()) text += " GROUP job-attributes-tag\n";
    // Keys are "type name": "text pressel-header", "keyword print-scaling".
    for (const auto& [key, value] : attributes) text += " ATTR " + key + " " + Quote(value) + "\n";
    text += " FILE " + Quote(file) + "\n STATUS successful-ok\n EXPECT job-id\n}\n";
    WriteFile(test, text);
    ProcessResult r = Ipptool(printer, test.string());
    fs::remove(test);
    std::string id = IppValue(r.output, "job-id");
    return id.empty() ? 0 : std::atoi(id.c_str());
}

std::string AppServer::JobAttribute(const std::string& printer, int jobId, const std::string& name) const {
    fs::path test = m_dir / ("job-" + std::to_string(getpid()) + ".test");
    WriteFile(test, "{\n OPERATION Get-Job-Attributes\n GROUP operation-attributes-tag\n"
                    " ATTR charset attributes-charset utf-8\n ATTR naturalLanguage attributes-natural-language en\n"
                    " ATTR uri printer-uri $uri\n ATTR integer job-id " + std::to_string(jobId) + "\n"
                    " ATTR name requesting-user-name tester\n STATUS successful-ok\n}\n");
    return IppValue(Ipptool(printer, test.string()).output, name);
}

std::string AppServer::WaitJobDone(const std::string& printer, int jobId, int seconds) const {
    std::string state;
    for (int i = 0; i < seconds * 10; ++i) {
        state = JobAttribute(printer, jobId, "job-state");
        if (state == "completed" || state == "canceled" || state == "aborted") return state;
        usleep(100000);
    }
    return state;
}

std::string AppServer::PrinterAttribute(const std::string& printer, const std::string& name) const {
    fs::path test = m_dir / ("printer-" + std::to_string(getpid()) + ".test");
    WriteFile(test, "{\n OPERATION Get-Printer-Attributes\n GROUP operation-attributes-tag\n"
                    " ATTR charset attributes-charset utf-8\n ATTR naturalLanguage attributes-natural-language en\n"
                    " ATTR uri printer-uri $uri\n ATTR keyword requested-attributes " + name + "\n"
                    " STATUS successful-ok\n}\n");
    return IppValue(Ipptool(printer, test.string()).output, name);
}

void AppServer::AddUserProfile(const std::string& fileName, const std::string& text) const {
    fs::path dir = m_dir / "data" / "pressel" / "profiles";
    fs::create_directories(dir);
    WriteFile(dir / fileName, text);
}

void AppServer::MapComPort(const std::string& name, const std::string& path) {
    HKEY key = nullptr;
    RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"System\\DosDevices", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    std::u16string value(name.begin(), name.end()), data(path.begin(), path.end());
    RegSetValueExW(key, value.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                   static_cast<DWORD>((data.size() + 1) * sizeof(char16_t)));
    RegCloseKey(key);
}

PtyPrinter::PtyPrinter(int bytesPerSecond) : m_rate(bytesPerSecond) {
    char name[128] = {};
    if (openpty(&m_master, &m_slave, name, nullptr, nullptr) != 0) return;
    termios raw{};
    tcgetattr(m_master, &raw);
    cfmakeraw(&raw);
    tcsetattr(m_master, TCSANOW, &raw);
    m_slavePath = name;
    m_thread = std::thread([this] { Run(); });
}

PtyPrinter::~PtyPrinter() {
    m_stop = true;
    if (m_thread.joinable()) m_thread.join();
    if (m_master >= 0) close(m_master);
    if (m_slave >= 0) close(m_slave);
}

std::string PtyPrinter::Received() {
    std::lock_guard hold(m_lock);
    return m_received;
}

void PtyPrinter::SetCondition(const std::string& fields) {
    std::lock_guard hold(m_lock);
    m_condition = fields;
    // Replies nobody read are dropped, as a real port drops what came
    // while no job had it open: the next job must not read an old jam.
    tcflush(m_slave, TCIFLUSH);
}

bool PtyPrinter::WaitFor(size_t n, int seconds) {
    for (int i = 0; i < seconds * 100; ++i) {
        if (Received().size() >= n) return true;
        usleep(10000);
    }
    return false;
}

void PtyPrinter::Run() {
    size_t scanned = 0;
    while (!m_stop) {
        pollfd pfd{m_master, POLLIN, 0};
        if (poll(&pfd, 1, 10) <= 0) continue;
        char buffer[4096];
        size_t want = m_rate > 0 ? std::max<size_t>(1, static_cast<size_t>(m_rate) / 100) : sizeof buffer;
        ssize_t n = read(m_master, buffer, std::min(want, sizeof buffer));
        if (n <= 0) continue;
        {
            // Under the lock: a reply made with the old condition is in the
            // port before SetCondition drops it.
            std::lock_guard hold(m_lock);
            m_received.append(buffer, static_cast<size_t>(n));
            std::string answer = "{ST!" + (m_condition.empty() ? std::string("S:C") : m_condition) + "}";
            std::string reply;
            if (!m_condition.empty()) reply = answer;
            // The end of the job and status requests get an answer.
            for (size_t at = scanned; at + 1 < m_received.size(); ++at) {
                if (m_received[at] == '\x1b' && (m_received[at + 1] == 'e' || m_received[at + 1] == '{')) reply = answer;
            }
            scanned = m_received.size() > 0 ? m_received.size() - 1 : 0;
            if (!reply.empty() && write(m_master, reply.data(), reply.size()) < 0) { /* the port has gone */ }
        }
        if (m_rate > 0) usleep(10000);
    }
}

std::string Png(int width, int height, int ppi, const Picture& black) {
    std::string out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_set_write_fn(png, &out, [](png_structp p, png_bytep data, png_size_t n) {
        static_cast<std::string*>(png_get_io_ptr(p))->append(reinterpret_cast<char*>(data), n);
    }, nullptr);
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8, PNG_COLOR_TYPE_GRAY,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (ppi > 0) {
        auto ppm = static_cast<png_uint_32>(ppi / 0.0254 + 0.5);
        png_set_pHYs(png, info, ppm, ppm, PNG_RESOLUTION_METER);
    }
    png_write_info(png, info);
    std::vector<png_byte> row(static_cast<size_t>(width));
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) row[static_cast<size_t>(x)] = black(x, y) ? 0 : 255;
        png_write_row(png, row.data());
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return out;
}

std::string Raster(int width, int height, int xdpi, int ydpi, const Picture& black, bool apple) {
    std::string path = (fs::path(std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp") / ("raster-" + std::to_string(getpid()))).string();
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    cups_raster_t* ras = cupsRasterOpen(fd, apple ? CUPS_RASTER_WRITE_APPLE : CUPS_RASTER_WRITE_PWG);
    cups_page_header2_t header;
    pwg_media_t* media = pwgMediaForSize(width * 2540 / xdpi, height * 2540 / ydpi);
    cupsRasterInitPWGHeader(&header, media, apple ? "sgray_8" : "black_1", xdpi, ydpi, "one-sided", "normal");
    header.cupsWidth = static_cast<unsigned>(width);
    header.cupsHeight = static_cast<unsigned>(height);
    header.cupsBytesPerLine = apple ? static_cast<unsigned>(width) : static_cast<unsigned>((width + 7) / 8);
    cupsRasterWriteHeader2(ras, &header);
    std::string line(header.cupsBytesPerLine, '\0');
    for (int y = 0; y < height; ++y) {
        std::fill(line.begin(), line.end(), apple ? '\xFF' : '\0');
        for (int x = 0; x < width; ++x) {
            if (!black(x, y)) continue;
            if (apple) line[static_cast<size_t>(x)] = 0;
            else line[static_cast<size_t>(x / 8)] |= static_cast<char>(0x80 >> (x % 8));
        }
        cupsRasterWritePixels(ras, reinterpret_cast<unsigned char*>(line.data()), header.cupsBytesPerLine);
    }
    cupsRasterClose(ras);
    close(fd);
    std::string bytes = ReadFile(path);
    fs::remove(path);
    return bytes;
}

std::string Bmp(int width, int height, const Picture& black) {
    auto put = [](std::string& f, uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) f.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
    };
    const uint32_t stride = ((static_cast<uint32_t>(width) + 31) / 32) * 4;
    std::string f = "BM";
    put(f, 62 + stride * static_cast<uint32_t>(height), 4), put(f, 0, 4), put(f, 62, 4);
    put(f, 40, 4), put(f, static_cast<uint32_t>(width), 4), put(f, static_cast<uint32_t>(height), 4);
    put(f, 1, 2), put(f, 1, 2), put(f, 0, 4), put(f, stride * static_cast<uint32_t>(height), 4);
    put(f, 0, 4), put(f, 0, 4), put(f, 2, 4), put(f, 2, 4), put(f, 0x00FFFFFF, 4), put(f, 0, 4);
    for (int y = height - 1; y >= 0; --y) {
        std::string row(stride, '\0');
        for (int x = 0; x < width; ++x)
            if (black(x, y)) row[static_cast<size_t>(x / 8)] |= static_cast<char>(0x80 >> (x % 8));
        f += row;
    }
    return f;
}

void WriteFile(const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string PresselBitmapJob(const std::string& ini, const std::string& printer, const fs::path& bmp, int lines,
                             int columns, const fs::path& out) {
    RunProcess({std::string(PRESSEL_BIN_DIR) + "/pressel", "bitmap", "--ini", ini, printer, "--output", out.string(),
                "--height", std::to_string(lines), "--width", std::to_string(columns), "--quiet", bmp.string()});
    return ReadFile(out);
}

namespace {

// A file of /proc, read with plain read(2): a process that has just ended
// makes a stream throw.
std::string ReadProcFile(const std::string& path) {
    std::string text;
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return text;
    char buffer[4096];
    for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;) text.append(buffer, static_cast<size_t>(n));
    close(fd);
    return text;
}

}  // namespace

std::vector<pid_t> WorkersOf(pid_t server) {
    std::vector<pid_t> found;
    std::error_code ec;
    for (fs::directory_iterator it("/proc", ec), end; !ec && it != end; it.increment(ec)) {
        std::string name = it->path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        std::string stat = ReadProcFile("/proc/" + name + "/stat");
        size_t close = stat.rfind(')');
        if (close == std::string::npos || std::atoi(stat.c_str() + close + 4) != server) continue;
        if (ReadProcFile("/proc/" + name + "/cmdline").find("pressel-print-worker") != std::string::npos)
            found.push_back(static_cast<pid_t>(std::atoi(name.c_str())));
    }
    return found;
}

::testing::AssertionResult SameBytes(const std::string& actual, const std::string& expected) {
    if (actual == expected) return ::testing::AssertionSuccess();
    size_t at = 0;
    while (at < actual.size() && at < expected.size() && actual[at] == expected[at]) ++at;
    auto hex = [&](const std::string& s) {
        std::string out;
        char text[4];
        for (size_t i = at > 8 ? at - 8 : 0; i < std::min(s.size(), at + 24); ++i) {
            std::snprintf(text, sizeof text, "%02X ", static_cast<unsigned char>(s[i]));
            out += text;
        }
        return out;
    };
    return ::testing::AssertionFailure() << "streams part at byte " << at << " (sizes " << actual.size() << " and "
                                         << expected.size() << ")\n  actual:   " << hex(actual)
                                         << "\n  expected: " << hex(expected);
}

fs::path BundledProfile(const std::string& file) {
    return fs::path(PRESSEL_BIN_DIR).parent_path() / "share" / "pressel" / "profiles" / file;
}

}  // namespace app_test
