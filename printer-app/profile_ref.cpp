#include "printer-app/profile_ref.h"

#include <mutex>

#include "tools/pressel/automation_client.h"

namespace printer_app {
namespace {

// A sentinel no profile value holds, to tell a missing key from an empty one.
constexpr const char16_t* kMissing = u"\x01";

}  // namespace

void PutProfileFields(const ProfileRef& ref, std::map<std::string, std::string>* fields) {
    if (ref.registry) (*fields)["profile-key"] = ref.key;
    else (*fields)["profile-file"] = ref.file;
    (*fields)["printer"] = ref.printer;
}

bool GetProfileFields(const std::map<std::string, std::string>& fields, ProfileRef* ref) {
    auto value = [&](const char* key) {
        auto it = fields.find(key);
        return it == fields.end() ? std::string() : it->second;
    };
    ref->key = value("profile-key");
    ref->file = value("profile-file");
    ref->printer = value("printer");
    ref->registry = !ref->key.empty();
    return (ref->registry || !ref->file.empty()) && !ref->printer.empty();
}

ProfileHandle::ProfileHandle(const ProfileRef& ref)
    : m_file(pressel_tool::Wide(ref.file)), m_key(pressel_tool::Wide(ref.key)), m_printer(pressel_tool::Wide(ref.printer)) {
    m_source.m_bUseRegistry = ref.registry ? 1 : 0;
    m_source.m_bstrIniFile = m_key.c_str();
    m_source.m_bstrIniName = m_file.c_str();
}

bool LoadProfileFacts(const ProfileRef& ref, ProfileFacts* facts) {
    // The profile reader keeps process-wide state of its own (the INI
    // cache); the server reads profiles from several threads.
    static std::mutex lock;
    std::lock_guard hold(lock);
    ProfileHandle profile(ref);
    // The section exists when any key of it reads: EntryName is the one
    // every usable profile has, PrintableLines the one a bare one may have.
    std::u16string entry = ReadProfileString(profile.Source(), profile.Printer(), u"EntryName", kMissing);
    std::u16string lines = ReadProfileString(profile.Source(), profile.Printer(), u"PrintableLines", kMissing);
    PrinterSettings settings;
    std::u16string description, portName;
    BOOL hasPort = LoadPrinterProfile(profile.Source(), profile.Printer(), &settings, &description, &portName);
    if (entry == kMissing && lines == kMissing && !hasPort) return false;

    facts->printableLines = settings.m_lPrintableLines;
    facts->geometry.pins = static_cast<int>(settings.m_lGraphNumPins);
    facts->geometry.lineDots = static_cast<int>(settings.m_lGraphXDots);
    facts->geometry.charHeight = static_cast<int>(settings.m_lGraphCharHeight);
    facts->geometry.charWidth = static_cast<int>(settings.m_lGraphCharWidth);
    facts->geometry.maxPasses = MaxPassesFor(settings.m_seqGraphModeInit, settings.m_bUnicode != 0);
    facts->graphics = GeometryUsable(facts->geometry);
    facts->hasPort = hasPort != 0;

    DotDensity density = LoadDotDensity(profile.Source(), profile.Printer());
    facts->xDpi = density.lAcross > 0 ? static_cast<int>(density.lAcross) : kDefaultDpi;
    facts->yDpi = density.lDown > 0 ? static_cast<int>(density.lDown) : facts->xDpi;
    return true;
}

}  // namespace printer_app
