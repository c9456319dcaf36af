#include "tools/pressel/notify_text.h"

namespace pressel_tool {

const char* ConditionText(LONG lCode) {
    switch (lCode) {
    case 222: return "paper jam";
    case 223: return "paper running low";
    case 224: return "battery low";
    case 228: return "print head too hot";
    case 229: return "cover open";
    case 300:
    case 301: return "printer error";
    default: return nullptr;
    }
}

const char* FailureText(LONG lType, LONG lError) {
    if (lType == 1) {
        switch (lError) {
        case 2: return "writing to the printer failed; the job stopped";
        case 7: return "the printer's port could not be opened";
        case 8: return "the profile gives no port for this printer (EntryName and its PrinterPorts line)";
        case 9: return "closing the printer's port failed; the end of the job may be lost";
        case 10: return "the job was cancelled";
        default: break;
        }
    }
    return "the printer reported a failure";
}

}  // namespace pressel_tool
