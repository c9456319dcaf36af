#include "printer-app/state_reasons.h"

#include <map>
#include <mutex>

namespace printer_app {
namespace {

std::mutex g_lock;
// Active condition codes per printer.
std::map<pappl_printer_t*, std::set<long>> g_conditions;

}  // namespace

pappl_preason_t ReasonForCondition(long code) {
    switch (code) {
    case 222: return PAPPL_PREASON_MEDIA_JAM;
    case 223: return PAPPL_PREASON_MEDIA_LOW;
    case 229: return PAPPL_PREASON_COVER_OPEN;
    case 224:
    case 228:
    case 300:
    case 301:
    case 120: case 121: case 122:
    case 200: case 201: case 202: case 203: case 204: case 210:
    case 221: return PAPPL_PREASON_OTHER;
    default: return PAPPL_PREASON_NONE;
    }
}

pappl_preason_t ReasonsForConditions(const std::set<long>& codes) {
    pappl_preason_t reasons = PAPPL_PREASON_NONE;
    for (long code : codes) reasons |= ReasonForCondition(code);
    return reasons;
}

void SetPrinterCondition(pappl_printer_t* printer, long code, bool active) {
    if (!printer || ReasonForCondition(code) == PAPPL_PREASON_NONE) return;
    // Under the lock, so that two reports cannot reach the printer in the
    // other order.
    std::lock_guard hold(g_lock);
    std::set<long>& codes = g_conditions[printer];
    if (active) codes.insert(code);
    else codes.erase(code);
    pappl_preason_t reasons = ReasonsForConditions(codes);
    papplPrinterSetReasons(printer, reasons, kOwnedReasons & ~reasons);
}

std::set<long> PrinterConditions(pappl_printer_t* printer) {
    std::lock_guard hold(g_lock);
    auto it = g_conditions.find(printer);
    return it == g_conditions.end() ? std::set<long>() : it->second;
}

void ForgetPrinterConditions(pappl_printer_t* printer) {
    std::lock_guard hold(g_lock);
    g_conditions.erase(printer);
}

}  // namespace printer_app
