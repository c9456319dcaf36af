#include "printer-app/worker_session.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cctype>
#include <cstring>

#include "tools/pressel/notify_text.h"
#include "win/base.h"

namespace printer_app {
namespace {

constexpr const char16_t* kWindowClass = u"PresselPrinterAppJob";
constexpr UINT kTickMessage = WM_APP + 1;
constexpr int kTickMs = 250;
// How long a condition must go unreported, while output goes on, to be over.
constexpr auto kConditionHold = std::chrono::seconds(1);
constexpr auto kHeartbeatEvery = std::chrono::seconds(1);

WorkerSession* g_session = nullptr;

// The control's fatal conditions: the status protocol's and the link's.
bool IsFatalCondition(LONG code) {
    switch (code) {
    case 222: case 228: case 229: case 300: case 301:
    case 120: case 121: case 122: case 200: case 201: case 202: case 203: case 204: case 210: case 221:
        return true;
    default:
        return false;
    }
}

std::string Sentence(std::string text) {
    if (!text.empty()) text[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
    return text + ".";
}

}  // namespace

std::string ExpandHeaderText(std::string pattern, long page, const std::map<std::string, std::string>& values) {
    auto value = [&](const char* key) {
        auto it = values.find(key);
        return it == values.end() ? std::string() : it->second;
    };
    const std::pair<const char*, std::string> fields[] = {
        {"{page}", std::to_string(page)}, {"{job}", value("job-id")}, {"{user}", value("user")}, {"{date}", value("date")}};
    std::string out;
    for (size_t at = 0; at < pattern.size();) {
        bool replaced = false;
        for (const auto& [name, text] : fields) {
            if (pattern.compare(at, std::strlen(name), name) == 0) {
                out += text;
                at += std::strlen(name);
                replaced = true;
                break;
            }
        }
        if (!replaced) out.push_back(pattern[at++]);
    }
    return out;
}

WorkerSession::WorkerSession(int cancelFd, int eventFd, std::map<std::string, std::string> job)
    : m_cancelFd(cancelFd), m_eventFd(eventFd), m_job(std::move(job)), m_lastHeartbeat(Clock::now()) {
    g_session = this;
}

WorkerSession::~WorkerSession() {
    StopHelper();
    for (int fd : m_wake)
        if (fd >= 0) close(fd);
    if (m_window) DestroyWindow(m_window);
    g_session = nullptr;
}

bool WorkerSession::Open(std::string* why) {
    if (FAILED(CoInitialize(nullptr))) return *why = "COM could not be initialised", false;
    m_comReady = true;
    if (!m_control.Create("printer-app", true, why)) return false;
    if (!m_control.Advise(this)) return *why = "cannot connect to the control's events", false;
    WNDCLASSW wc = {};
    wc.lpfnWndProc = WindowProc;
    wc.lpszClassName = kWindowClass;
    RegisterClassW(&wc);
    m_window = CreateWindowExW(0, kWindowClass, u"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    if (!m_window) return *why = "the job's window could not be made", false;
    if (pipe2(m_wake, O_CLOEXEC) != 0) return *why = "the job's helper could not be made", false;
    m_helper = std::thread([this] { RunHelper(); });
    return true;
}

bool WorkerSession::Start(const StartArgs& args, bool headers) {
    m_headers = headers;
    LONG window = static_cast<LONG>(reinterpret_cast<ULONG_PTR>(m_window));
    LONG started = m_control.StartLP(args.regPath, args.printer, u"", window, args.iniName);
    if (started != 0 || !Printing()) return false;
    Report(Msg::Started);
    return true;
}

void WorkerSession::Pump() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (!IsDialogMessageW(m_window, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
}

void WorkerSession::NextCopy() {
    m_control.FormFeed();
    m_pageBase = m_control.PageNo() - 1;
}

void WorkerSession::Finish() {
    m_control.Finish();
    StopHelper();
}

// The helper stops at once, not at its next tick: the job's end waits for it.
void WorkerSession::StopHelper() {
    m_stop = true;
    if (!m_helper.joinable()) return;
    const char byte = 0;
    // Should the write fail, the helper still ends within a tick.
    [[maybe_unused]] ssize_t written = write(m_wake[1], &byte, 1);
    m_helper.join();
}

void WorkerSession::Fail(AbortReason reason, const std::string& message) {
    if (!m_ownFailure.empty()) return;
    m_ownReason = reason;
    m_ownFailure = message;
}

void WorkerSession::Report(Msg type, const std::string& payload) {
    // A server that is gone cannot be told; the job ends regardless.
    WriteMessage(m_eventFd, type, payload);
}

void WorkerSession::ReportDone() {
    Outcome outcome = Outcome::Aborted;
    AbortReason reason = AbortReason::Printer;
    std::string message;
    if (!m_ownFailure.empty()) {
        reason = m_ownReason;
        message = m_ownFailure;
    } else if (m_cancelled) {
        outcome = Outcome::Cancelled;
    } else if (m_endedNormally && m_failType == 0) {
        outcome = Outcome::Completed;
    } else if (m_fatalCode != 0) {
        const char* what = pressel_tool::ConditionText(m_fatalCode);
        message = "The printer reports " + (what ? std::string(what) : "condition " + std::to_string(m_fatalCode)) +
                  "; the job stopped.";
    } else if (m_failType != 0) {
        message = Sentence(pressel_tool::FailureText(m_failType, m_failError));
    } else {
        message = "The job did not complete.";
    }
    std::string payload(1, static_cast<char>(outcome));
    PutU32(&payload, static_cast<uint32_t>(reason));
    payload += message;
    Report(Msg::Done, payload);
}

void WorkerSession::OnHeader(LONG lFooter) {
    if (!m_headers) return;
    auto it = m_job.find(lFooter ? "footer" : "header");
    if (it == m_job.end() || it->second.empty()) return;
    m_control.Write(pressel_tool::Wide(ExpandHeaderText(it->second, m_control.PageNo() - m_pageBase, m_job)));
    m_control.NewLine();
}

void WorkerSession::OnNotify(LONG lType, LONG lError) {
    if (lType == 2 && lError == 0) {
        m_endedNormally = true;
    } else if (lType == 1 && lError == 10) {
        m_cancelled = true;
    } else if (lType == 1080) {
        if (IsFatalCondition(lError) && m_fatalCode == 0) m_fatalCode = lError;
        m_conditions[lError] = Clock::now();
        std::string payload;
        PutU32(&payload, static_cast<uint32_t>(lError));
        Report(Msg::Condition, payload);
    } else if (m_failType == 0) {
        m_failType = lType;
        m_failError = lError;
    }
}

void WorkerSession::OnTick() {
    m_tickPending = false;
    auto now = Clock::now();
    if (now - m_lastHeartbeat >= kHeartbeatEvery) {
        m_lastHeartbeat = now;
        Report(Msg::Heartbeat);
    }
    for (auto it = m_conditions.begin(); it != m_conditions.end();) {
        if (now - it->second < kConditionHold) {
            ++it;
            continue;
        }
        std::string payload;
        PutU32(&payload, static_cast<uint32_t>(it->first));
        Report(Msg::ConditionOver, payload);
        it = m_conditions.erase(it);
    }
}

void WorkerSession::RunHelper() {
    bool cancelSent = false;
    while (!m_stop) {
        pollfd pfds[] = {{m_cancelFd, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
        int n = poll(pfds, 2, kTickMs);
        if (m_stop) break;
        if (n > 0 && !cancelSent) {
            // A byte, or the server gone: either way the job stops.
            cancelSent = true;
            PostMessageW(m_window, WM_COMMAND, IDCANCEL, 0);
        }
        if (n > 0 && cancelSent) usleep(kTickMs * 1000);
        if (!m_tickPending.exchange(true)) PostMessageW(m_window, kTickMessage, 0, 0);
    }
}

LRESULT CALLBACK WorkerSession::WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (g_session && msg == WM_COMMAND && (wParam & 0xFFFF) == IDCANCEL) {
        g_session->m_control.Cancel();
        return 0;
    }
    if (g_session && msg == kTickMessage) {
        g_session->OnTick();
        return 0;
    }
    return DefWindowProcW(hwnd, msg, wParam, lParam);
}

}  // namespace printer_app
