// The bundled profiles: every INI file loads with the values it states, its
// .reg twin loads with the same values, and what the files say fits the
// reader and gives a graphics geometry that prints.
#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "profile/IniFile.h"
#include "profile/Profile.h"
#include "profile/ProfileCatalog.h"
#include "profile_fixture.h"

namespace {

namespace fs = std::filesystem;
using profile_test::ScratchDir;

const fs::path kExamples = fs::path(PRESSEL_SOURCE_DIR) / "examples" / "profiles";

// Values longer than this are cut by the reader's callers.
constexpr size_t kMaxValueChars = 127;

std::string Narrow(const char16_t* text) {
    return std::string(text, text + std::char_traits<char16_t>::length(text));
}

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

// Every INI file of the bundle, in name order.
std::vector<fs::path> ExampleIniFiles() {
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(kExamples))
        if (entry.path().extension() == ".ini") files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}

// The non-comment lines of one section of an INI file as written, read
// without the reader under test: key (as written) to value.
std::map<std::string, std::string> SectionOf(const fs::path& path, const std::string& section) {
    std::ifstream in(path);
    std::map<std::string, std::string> keys;
    std::string line;
    bool inside = false;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == ';') continue;
        if (line[0] == '[') {
            inside = Lower(line) == "[" + Lower(section) + "]";
            continue;
        }
        auto eq = line.find('=');
        if (inside && eq != std::string::npos) keys[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return keys;
}

std::vector<std::string> Tokens(const std::string& text) {
    std::vector<std::string> tokens;
    std::stringstream in(text);
    std::string token;
    while (std::getline(in, token, ','))
        if (!token.empty()) tokens.push_back(token);
    return tokens;
}

std::vector<int> CodesOfText(const std::string& text) {
    std::vector<int> codes;
    for (const std::string& token : Tokens(text))
        codes.push_back(std::isdigit(static_cast<unsigned char>(token[0]))
                            ? static_cast<int>(std::stoul(token, nullptr, 0) & 0xFFFF)
                            : static_cast<unsigned char>(token[0]));
    return codes;
}

std::vector<int> Codes(const EscSeq& seq) { return std::vector<int>(seq.codes, seq.codes + seq.count); }

bool IsProfileKey(const std::string& name) {
    std::string lower = Lower(name);
    if (lower == Lower(Narrow(kDotDensityAcrossKey)) || lower == Lower(Narrow(kDotDensityDownKey))) return true;
    for (int i = 0; i < kProfileKeyCount; ++i)
        if (lower == Lower(Narrow(kProfileKeys[i].name))) return true;
    return false;
}

// One printer of one bundled file.
struct Printer {
    fs::path ini;
    std::string name;
    std::map<std::string, std::string> written;  // its section as written
};

std::vector<Printer> ExamplePrinters() {
    std::vector<Printer> printers;
    for (const fs::path& ini : ExampleIniFiles())
        for (const std::string& name : pressel_catalog::PrintersInIniFile(ini))
            printers.push_back({ini, name, SectionOf(ini, name)});
    return printers;
}

class Examples : public ScratchDir {
protected:
    void TearDown() override {
        FreeIniCache();
        ScratchDir::TearDown();
    }

    // Loads the printer from source and compares every key with what its INI
    // file states; keys the file does not state keep their defaults.
    void Check(const Printer& printer, const ProfileSource& source, const std::string& from) {
        SCOPED_TRACE(from + " [" + printer.name + "]");
        std::u16string wideName(printer.name.begin(), printer.name.end());
        PrinterSettings s;
        std::u16string description, portName, entry;
        ASSERT_TRUE(LoadPrinterProfile(source, wideName.c_str(), &s, &description, &portName, &entry));

        auto ports = SectionOf(printer.ini, "PrinterPorts");
        std::string entryName = printer.written.count("EntryName") ? printer.written.at("EntryName") : "";
        EXPECT_EQ(Narrow(entry.c_str()), entryName);
        EXPECT_EQ(Narrow(description.c_str()), ports[entryName]);
        EXPECT_EQ(portName, u"");

        for (int i = 0; i < kProfileKeyCount; ++i) {
            const ProfileKey& key = kProfileKeys[i];
            std::string name = Narrow(key.name);
            auto it = printer.written.find(name);
            if (key.kind == ProfileKeyKind::Integer) {
                LONG want = it == printer.written.end() ? key.intDefault : std::stol(it->second);
                EXPECT_EQ(s.*key.intField, want) << name;
            } else if (key.kind == ProfileKeyKind::Sequence) {
                std::string text = it == printer.written.end() ? Narrow(key.seqDefault) : it->second;
                EXPECT_EQ(Codes(s.*key.seqField), CodesOfText(text)) << name;
            }
        }

        DotDensity density = LoadDotDensity(source, wideName.c_str());
        auto across = printer.written.find(Narrow(kDotDensityAcrossKey));
        auto down = printer.written.find(Narrow(kDotDensityDownKey));
        EXPECT_EQ(density.lAcross, across == printer.written.end() ? 0 : std::stol(across->second));
        EXPECT_EQ(density.lDown, down == printer.written.end() ? 0 : std::stol(down->second));
    }
};

// The bundle is the library of profiles users start from: it must not shrink
// by accident.
TEST_F(Examples, BundleHoldsTwelveFamiliesEachAsIniAndReg) {
    std::vector<fs::path> files = ExampleIniFiles();
    EXPECT_GE(files.size(), 12u);
    for (const fs::path& ini : files) {
        fs::path reg = fs::path(ini).replace_extension(".reg");
        EXPECT_TRUE(fs::exists(reg)) << reg;
        EXPECT_FALSE(pressel_catalog::PrintersInIniFile(ini).empty()) << ini;
    }
}

TEST_F(Examples, IniFilesLoad) {
    for (const Printer& printer : ExamplePrinters()) {
        std::string path = printer.ini.string();
        std::u16string wide(path.begin(), path.end());
        Check(printer, ProfileSource{0, nullptr, wide.c_str()}, printer.ini.filename().string());
    }
}

// The .reg file must describe the same printer: loaded from the registry it
// gives exactly what the INI file states.
TEST_F(Examples, RegFilesLoadAsTheirIniFiles) {
    for (const Printer& printer : ExamplePrinters()) {
        fs::path reg = fs::path(printer.ini).replace_extension(".reg");
        // A store that holds exactly this file: the registry keeps its data in
        // the same format.
        fs::copy_file(reg, m_registry, fs::copy_options::overwrite_existing);
        Check(printer, ProfileSource{1, u"Software\\Quendrix\\Printers", nullptr}, reg.filename().string());
    }
}

// What the reader would silently cut, ignore or misread: lines that end the
// file, values it truncates, sequences past 32 codes, blanks that become
// codes, and keys no job reads (a misspelt key keeps its default unnoticed).
TEST_F(Examples, FilesFitTheReader) {
    for (const fs::path& ini : ExampleIniFiles()) {
        SCOPED_TRACE(ini.filename().string());
        std::ifstream in(ini, std::ios::binary);
        std::string line;
        while (std::getline(in, line)) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            EXPECT_LT(line.size(), static_cast<size_t>(IniLine::kTextSize)) << line;
        }
    }
    for (const Printer& printer : ExamplePrinters()) {
        SCOPED_TRACE(printer.ini.filename().string() + " [" + printer.name + "]");
        for (const auto& [key, value] : printer.written) {
            EXPECT_TRUE(IsProfileKey(key)) << "unknown key \"" << key << "\"";
            EXPECT_LE(value.size(), kMaxValueChars) << key;
            if (key.size() < 3 || key.compare(key.size() - 3, 3, "Seq") != 0) continue;
            std::vector<std::string> tokens = Tokens(value);
            EXPECT_LE(tokens.size(), static_cast<size_t>(EscSeq::kMaxCodes)) << key;
            for (const std::string& token : tokens)
                EXPECT_TRUE(!std::isspace(static_cast<unsigned char>(token.front())) &&
                            !std::isspace(static_cast<unsigned char>(token.back())))
                    << key << ": blank in \"" << token << "\"";
        }
    }
}

// Little-endian 16-bit count at position i of codes.
int CountAt(const std::vector<int>& codes, size_t i) { return codes[i] + 256 * codes[i + 1]; }

bool HoldsCount(const std::vector<int>& codes, int count) {
    for (size_t i = 0; i + 1 < codes.size(); ++i)
        if (CountAt(codes, i) == count) return true;
    std::string digits = std::to_string(count), text(codes.begin(), codes.end());
    return text.find(digits) != std::string::npos;
}

// A profile either has no graphics or one the control accepts and the printer
// can follow: the pass header announces as many columns (bands) or bytes
// (raster rows) as the control sends, and the density is given for layout.
TEST_F(Examples, GraphicsGeometryPrints) {
    const char* const geometry[] = {"GraphNumPins", "GraphXDots", "GraphCharHeight", "GraphCharWidth"};
    for (const Printer& printer : ExamplePrinters()) {
        SCOPED_TRACE(printer.ini.filename().string() + " [" + printer.name + "]");
        int stated = 0;
        for (const auto& [key, value] : printer.written)
            if (key.rfind("Graph", 0) == 0) ++stated;
        if (stated == 0) continue;

        std::map<std::string, long> g;
        for (const char* key : geometry) {
            ASSERT_TRUE(printer.written.count(key)) << key;
            g[key] = std::stol(printer.written.at(key));
            EXPECT_GT(g[key], 0) << key;
        }
        long pins = g["GraphNumPins"], xDots = g["GraphXDots"];
        EXPECT_TRUE(pins == 1 || pins % 8 == 0) << pins;
        EXPECT_EQ(xDots % 8, 0) << xDots;
        EXPECT_TRUE(printer.written.count("GraphXDpi") && printer.written.count("GraphYDpi"));

        auto codesOf = [&](const char* key) {
            auto it = printer.written.find(key);
            return it == printer.written.end() ? std::vector<int>{} : CodesOfText(it->second);
        };
        std::vector<int> prefix = codesOf("GraphPrefixSeq"), init = codesOf("GraphModeInitSeq");
        if (pins >= 8) {
            // A pass of 8k pins is k whole bands one after another; the
            // 24-dot commands want each column's three bytes side by side, so
            // only 8-dot bands print as sent.
            EXPECT_EQ(pins, 8) << "bands of " << pins << " pins";
            // Bit-image commands end with the column count nL nH.
            ASSERT_GE(prefix.size(), 2u);
            EXPECT_EQ(CountAt(prefix, prefix.size() - 2), xDots) << "column count of GraphPrefixSeq";
        } else {
            std::vector<int> both = init;
            both.insert(both.end(), prefix.begin(), prefix.end());
            EXPECT_TRUE(HoldsCount(both, static_cast<int>(xDots / 8))) << "no row of " << xDots / 8 << " bytes";
        }
    }
}

}  // namespace
