// A printer speaking the KTSB wire protocol on the master side of a
// pseudo-terminal, in a thread of its own: it acknowledges frames, keeps
// the data it accepted, and can be told to misbehave in the ways a real
// line and printer do.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace ktsb_test {

class KtsbPeer {
public:
    // What the printer does; change it at any time.
    struct Behaviour {
        bool acceptBind = true;       // false: every bind is refused (NAK, code bindRefusalCode)
        uint8_t bindRefusalCode = 0;  // 0: the driver reports its own "no handshake" code
        int faultAfter = 0;           // data frames accepted before the two faults below start
        int nakDataFrames = 0;        // NAK (code 0, as for a damaged frame) the next N data frames
        int garbleReplies = 0;        // answer the next N data frames with a damaged ACK (the data is kept)
        uint8_t refuseCode = 0;       // nonzero: every data frame is refused with this code
        uint8_t ackCode = 0;          // code carried by every ACK
        uint8_t flags = 0;            // condition flags in every reply
        int busyQueries = 0;          // answer the next N queries busy, then idle
        bool silent = false;          // answer nothing at all
    };

    struct Counts {
        int bind = 0, data = 0, query = 0, cancel = 0, damaged = 0;
    };

    // Takes over the pty master (closes it when destroyed).
    explicit KtsbPeer(int masterFd);
    ~KtsbPeer();
    KtsbPeer(const KtsbPeer&) = delete;
    KtsbPeer& operator=(const KtsbPeer&) = delete;

    void Set(const Behaviour& behaviour);
    Behaviour Get();
    // Bytes the printer accepted, each once, in order.
    std::string Delivered();
    Counts Seen();
    // Frame types in arrival order ('B', 'D', 'Q', 'C').
    std::string Log();

private:
    void Run();
    void Handle(uint8_t seq, uint8_t type, const std::vector<uint8_t>& payload);
    void Send(const std::vector<uint8_t>& bytes);

    int fd_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    Behaviour behaviour_;
    Counts counts_;
    std::string delivered_;
    std::string log_;
    int lastDataSeq_ = -1;
    uint8_t busy_ = 0;
    std::thread thread_;
};

// A pseudo-terminal whose slave stands for the printer's serial port: the
// slave stays open here too, so that the line never hangs up between jobs.
struct PtyLine {
    int master = -1;
    int slave = -1;
    std::string slaveName;
    bool Open();  // raw mode on both sides
    ~PtyLine();
};

// Points "COMn:" at path in the registry (HKLM\System\DosDevices).
bool MapComPort(const char16_t* valueName, const std::string& path);

// A fresh registry file in a scratch directory, for this process.
std::string UseScratchRegistry(const char* tag);

}  // namespace ktsb_test
