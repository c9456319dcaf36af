// The emulated IrDA neighbourhood: devices in range are Unix-domain
// listeners in one directory (layout in win/af_irda.h), so that discovery,
// IrLPT mode and service names work on kernels without an IrDA stack.
#include <dirent.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "core/errno_map.h"
#include "core/trace.h"
#include "winsock/irda.h"

namespace platform::irda {
namespace {

constexpr int kWsaEisconn = 10056;
constexpr int kWsaEtimedout = 10060;
constexpr int kWsaEconnrefused = 10061;
constexpr int kWsaEnametoolong = 10063;

bool IsSocket(int dirFd, const dirent* entry) {
    if (entry->d_type == DT_SOCK) return true;
    if (entry->d_type != DT_UNKNOWN) return false;
    struct stat st{};
    return fstatat(dirFd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISSOCK(st.st_mode);
}

// Every service socket in the directory; none when it does not exist.
std::vector<EntryName> ListEntries(const std::string& dir) {
    std::vector<EntryName> entries;
    DIR* d = opendir(dir.c_str());
    if (!d) return entries;
    while (const dirent* entry = readdir(d)) {
        if (!IsSocket(dirfd(d), entry)) continue;
        if (auto parsed = ParseEntryName(entry->d_name)) {
            parsed->file = entry->d_name;
            entries.push_back(std::move(*parsed));
        }
    }
    closedir(d);
    return entries;
}

int ConnectUnix(int fd, const std::string& dir, const std::string& file) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::string path = dir + "/" + file;
    int dirFd = -1;
    if (path.size() >= sizeof address.sun_path) {
        // Long directory names: reach the socket through a descriptor of the
        // directory instead.
        dirFd = open(dir.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (dirFd < 0) return WsaErrorFromErrno(errno);
        path = "/proc/self/fd/" + std::to_string(dirFd) + "/" + file;
        if (path.size() >= sizeof address.sun_path) {
            close(dirFd);
            return kWsaEnametoolong;
        }
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    int rc;
    do rc = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    while (rc != 0 && errno == EINTR);
    int err = rc == 0 ? 0 : WsaErrorFromErrno(errno);
    if (dirFd >= 0) close(dirFd);
    return err;
}

class EmulatedSocket : public Socket {
public:
    explicit EmulatedSocket(int fd) : Socket(fd) {}

    int Discover(std::vector<DeviceInfo>* devices) override {
        *devices = DevicesFromEntries(ListEntries(EmulationDirectory()));
        return 0;
    }

    int Connect(const Address& address) override {
        if (connected()) return kWsaEisconn;
        std::string dir = EmulationDirectory();
        bool inRange = false;
        for (const auto& entry : ListEntries(dir)) {
            if (entry.id != address.id) continue;
            inRange = true;
            if (!SameService(entry.service, address.service)) continue;
            // IrLPT mode speaks IrLMP, which only "LSAP-SEL" services take;
            // the others expect TinyTP.
            if (LsapSelector(entry.service).has_value() != irlpt()) return kWsaEconnrefused;
            int err = ConnectUnix(fd(), dir, entry.file);
            if (err == 0) MarkConnected();
            return err;
        }
        // A device out of range never answers; one in range refuses a
        // service it does not offer.
        return inRange ? kWsaEconnrefused : kWsaEtimedout;
    }
};

}  // namespace

std::shared_ptr<Socket> OpenEmulatedSocket(int* error) {
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        *error = WsaErrorFromErrno(errno);
        return nullptr;
    }
    PLATFORM_TRACE("IrDA emulated in %s", EmulationDirectory().c_str());
    *error = 0;
    return std::make_shared<EmulatedSocket>(fd);
}

}  // namespace platform::irda
