#include "core/names.h"

#include <mutex>
#include <vector>

namespace platform {
namespace {
std::mutex g_openersMutex;
std::vector<NameOpener>& Openers() {
    static auto* openers = new std::vector<NameOpener>;
    return *openers;
}
}  // namespace

void AddNameOpener(NameOpener opener) {
    std::lock_guard lock(g_openersMutex);
    Openers().push_back(opener);
}

bool OpenSpecialName(const OpenRequest& request, HANDLE* result) {
    std::vector<NameOpener> openers;
    {
        std::lock_guard lock(g_openersMutex);
        openers = Openers();
    }
    for (NameOpener opener : openers)
        if (opener(request, result)) return true;
    return false;
}

}  // namespace platform
