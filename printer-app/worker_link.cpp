#include "printer-app/worker_link.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

extern char** environ;

namespace printer_app {
namespace {

// How long a cancelled worker may take to stop, and an ending one to exit.
constexpr auto kCancelGrace = std::chrono::seconds(5);
constexpr auto kExitGrace = std::chrono::seconds(5);
constexpr int kPollMs = 100;

void CloseFd(int* fd) {
    if (*fd >= 0) close(*fd);
    *fd = -1;
}

// The worker program in the server program's directory.
std::string WorkerPath() {
    char path[4096];
    ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return kWorkerProgram;
    std::string self(path, static_cast<size_t>(n));
    return self.substr(0, self.rfind('/') + 1) + kWorkerProgram;
}

}  // namespace

WorkerLink::WorkerLink(WorkerEvents events, int hangSeconds)
    : m_events(std::move(events)), m_hang(hangSeconds), m_lastLife(Clock::now()) {}

WorkerLink::~WorkerLink() {
    if (m_pid > 0 && !m_gone) {
        kill(m_pid, SIGKILL);
        Reap(true);
    }
    CloseFd(&m_dataFd);
    CloseFd(&m_cancelFd);
    CloseFd(&m_eventFd);
}

bool WorkerLink::Start(const std::map<std::string, std::string>& job, std::string* why) {
    int data[2], cancel[2], event[2];
    if (pipe2(data, O_CLOEXEC) != 0) return *why = std::strerror(errno), false;
    if (pipe2(cancel, O_CLOEXEC) != 0) {
        close(data[0]), close(data[1]);
        return *why = std::strerror(errno), false;
    }
    if (pipe2(event, O_CLOEXEC) != 0) {
        close(data[0]), close(data[1]), close(cancel[0]), close(cancel[1]);
        return *why = std::strerror(errno), false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, data[0], kWorkerDataFd);
    posix_spawn_file_actions_adddup2(&actions, cancel[0], kWorkerCancelFd);
    posix_spawn_file_actions_adddup2(&actions, event[1], kWorkerEventFd);
    // Nothing else of the server (listeners, other jobs' pipes) goes along.
    posix_spawn_file_actions_addclosefrom_np(&actions, kWorkerEventFd + 1);
    std::string program = WorkerPath();
    char* argv[] = {program.data(), nullptr};
    int rc = posix_spawn(&m_pid, program.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(data[0]);
    close(cancel[0]);
    close(event[1]);
    m_dataFd = data[1];
    m_cancelFd = cancel[1];
    m_eventFd = event[0];
    if (rc != 0) {
        m_pid = -1;
        m_gone = true;
        *why = std::string("the print worker could not be started: ") + std::strerror(rc);
        return false;
    }
    fcntl(m_dataFd, F_SETFL, O_NONBLOCK);
    fcntl(m_eventFd, F_SETFL, O_NONBLOCK);
    m_lastLife = Clock::now();
    return Send(Msg::Job, EncodeFields(job));
}

bool WorkerLink::Send(Msg type, std::string_view payload) {
    if (m_gone || m_cancelSent || m_dataFd < 0) return false;
    // The hang timeout counts while the server waits for the worker, not
    // while the worker waits for the server.
    m_lastLife = Clock::now();
    m_out.push_back(static_cast<char>(type));
    PutU32(&m_out, static_cast<uint32_t>(payload.size()));
    m_out.append(payload);
    while (!m_out.empty()) {
        ssize_t n = write(m_dataFd, m_out.data(), m_out.size());
        if (n > 0) {
            m_out.erase(0, static_cast<size_t>(n));
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            // The worker closed its end: it has stopped; Finish tells why.
            m_out.clear();
            CloseFd(&m_dataFd);
            return false;
        }
        if (!Pump(kPollMs, true) || m_cancelSent) return false;
    }
    return Pump(0, false) && !m_cancelSent;
}

WorkerResult WorkerLink::Finish() {
    if (!m_gone && !m_cancelSent && m_dataFd >= 0) Send(Msg::End, {});
    CloseFd(&m_dataFd);
    m_lastLife = Clock::now();
    auto doneAt = Clock::time_point::max();
    while (!m_gone) {
        if (!Pump(kPollMs, false)) break;
        if (m_done && doneAt == Clock::time_point::max()) doneAt = Clock::now();
        if (m_done && Clock::now() - doneAt > kExitGrace) {
            kill(m_pid, SIGKILL);
            Reap(true);
        }
    }
    if (m_done) return m_result;
    WorkerResult result;
    if (!m_killedWhy.empty()) {
        result.message = m_killedWhy;
    } else if (WIFSIGNALED(m_status)) {
        result.message = "The print worker stopped unexpectedly (signal " + std::to_string(WTERMSIG(m_status)) + ").";
    } else {
        result.message = "The print worker ended without finishing the job.";
    }
    return result;
}

bool WorkerLink::Pump(int ms, bool wantWrite) {
    if (m_gone) return false;
    pollfd fds[2] = {{m_eventFd, POLLIN, 0}, {m_dataFd, static_cast<short>(wantWrite ? POLLOUT : 0), 0}};
    int n = poll(fds, wantWrite && m_dataFd >= 0 ? 2 : 1, ms);
    if (n > 0 && (fds[0].revents & (POLLIN | POLLHUP | POLLERR))) {
        char buffer[4096];
        for (;;) {
            ssize_t got = read(m_eventFd, buffer, sizeof buffer);
            if (got > 0) {
                m_in.append(buffer, static_cast<size_t>(got));
                continue;
            }
            if (got == 0) {
                // The worker closed its reports: it is ending.
                Reap(true);
            }
            break;
        }
        while (m_in.size() >= 5) {
            uint32_t length = GetU32(m_in, 1);
            if (m_in.size() < 5 + size_t{length}) break;
            Msg type = static_cast<Msg>(m_in[0]);
            std::string payload = m_in.substr(5, length);
            m_in.erase(0, 5 + size_t{length});
            HandleEvent(type, payload);
        }
    }
    if (m_gone) return false;

    auto now = Clock::now();
    if (!m_cancelSent && m_events.cancelled && m_events.cancelled()) {
        char byte = 'x';
        if (write(m_cancelFd, &byte, 1) != 1) { /* the worker is ending anyway */ }
        m_cancelSent = true;
        m_cancelAt = now;
    }
    if (m_cancelSent && now - m_cancelAt > kCancelGrace) {
        Kill("The print worker did not stop when the job was cancelled.");
    } else if (m_hang.count() > 0 && now - m_lastLife > m_hang) {
        Kill("The printer stopped responding: the job made no progress for " + std::to_string(m_hang.count()) +
             " seconds.");
    }
    return !m_gone;
}

void WorkerLink::HandleEvent(Msg type, const std::string& payload) {
    m_lastLife = Clock::now();
    switch (type) {
    case Msg::Started:
        if (m_events.started) m_events.started();
        break;
    case Msg::Condition:
    case Msg::ConditionOver:
        if (m_events.condition) m_events.condition(static_cast<long>(GetU32(payload, 0)), type == Msg::Condition);
        break;
    case Msg::PageDone:
        if (m_events.pageDone) m_events.pageDone();
        break;
    case Msg::Done:
        m_done = true;
        m_result.outcome = payload.empty() ? Outcome::Aborted : static_cast<Outcome>(payload[0]);
        m_result.reason = static_cast<AbortReason>(GetU32(payload, 1));
        m_result.message = payload.size() > 5 ? payload.substr(5) : std::string();
        break;
    default:
        break;
    }
}

void WorkerLink::Kill(const std::string& why) {
    m_killedWhy = why;
    if (m_pid > 0) kill(m_pid, SIGKILL);
    Reap(true);
}

void WorkerLink::Reap(bool wait) {
    if (m_pid <= 0 || m_gone) return;
    int status = 0;
    pid_t r;
    do {
        r = waitpid(m_pid, &status, wait ? 0 : WNOHANG);
    } while (r < 0 && errno == EINTR);
    if (r == m_pid) {
        m_status = status;
        m_gone = true;
    }
}

}  // namespace printer_app
