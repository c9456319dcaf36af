#include "printer-app/derived_profile.h"

#include <fstream>

#include "profile/IniFile.h"
#include "tools/pressel/automation_client.h"
#include "win/base.h"

namespace printer_app {
namespace {

constexpr const char16_t* kMissing = u"\x01";
// INI values are cut after this many characters.
constexpr size_t kIniValueUnits = 127;

bool RawZero(const std::u16string& key) {
    return key == u"PrintableLines" || key == u"StartupCharCount" || key == u"ShutdownCharCount";
}

}  // namespace

std::u16string DecimalSequence(const std::u16string& text) {
    EscSeq seq;
    ParseSeq(text.c_str(), &seq);
    std::u16string out;
    for (int i = 0; i < seq.count; ++i) {
        if (i) out.push_back(u',');
        for (char c : std::to_string(static_cast<unsigned>(seq.codes[i]))) out.push_back(static_cast<char16_t>(c));
    }
    return out;
}

bool PrepareProfile(const ProfileRef& ref, const std::string& port, const std::string& output, bool raw,
                    const std::string& dir, StartArgs* args, std::string* why) {
    ProfileHandle profile(ref);
    if (port.empty() && output.empty() && !raw) {
        args->regPath = ref.registry ? pressel_tool::Wide(ref.key) : u"";
        args->iniName = ref.registry ? u"" : pressel_tool::Wide(ref.file);
        args->printer = profile.Printer();
        return true;
    }

    PrinterSettings unused;
    std::u16string description, portName;
    LoadPrinterProfile(profile.Source(), profile.Printer(), &unused, &description, &portName);
    if (!port.empty()) {
        description = pressel_tool::Wide(port);
        portName.clear();
    } else if (!output.empty()) {
        portName = pressel_tool::Wide(output);
        // The description only has to be there: the output replaces it.
        if (description.empty()) description = portName;
    }

    std::u16string text = u"[" + pressel_tool::Wide(kCopySection) + u"]\n";
    for (int i = 0; i < kProfileKeyCount; ++i) {
        const ProfileKey& key = kProfileKeys[i];
        if (key.kind == ProfileKeyKind::EntryName || key.kind == ProfileKeyKind::PortName) continue;
        std::u16string name = key.name;
        std::u16string value = ReadProfileString(profile.Source(), profile.Printer(), key.name, kMissing);
        if (raw && key.kind == ProfileKeyKind::Sequence) value.clear();
        else if (raw && RawZero(name)) value = u"0";
        else if (raw && name == u"Unicode") value = u"1";
        else if (value == kMissing) continue;
        if (key.kind == ProfileKeyKind::Sequence && value.size() > kIniValueUnits) value = DecimalSequence(value);
        if (value.size() > kIniValueUnits) {
            FreeIniCache();
            *why = "the profile's " + std::string(name.begin(), name.end()) + " is too long to go to another port";
            return false;
        }
        text += name + u"=" + value + u"\n";
    }
    // The reader keeps one file cached until told otherwise.
    FreeIniCache();
    text += u"EntryName=" + pressel_tool::Wide(kCopySection) + u"\n";
    text += u"PortName=" + portName + u"\n";
    text += u"[PrinterPorts]\n" + pressel_tool::Wide(kCopySection) + u"=" + description + u"\n";

    std::string path = dir + "/profile.ini";
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    std::string bytes = pressel_tool::Narrow(text, CP_ACP);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!file.flush()) {
        *why = "the job's profile could not be written";
        return false;
    }
    args->regPath.clear();
    args->iniName = pressel_tool::Wide(path);
    args->printer = pressel_tool::Wide(kCopySection);
    return true;
}

}  // namespace printer_app
