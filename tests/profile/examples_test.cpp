// The example profiles load with the values their files state, from the INI
// files and from the .reg files alike.
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "profile/IniFile.h"
#include "profile/Profile.h"
#include "profile_fixture.h"

namespace {

using profile_test::ScratchDir;

const std::string kExamples = std::string(PRESSEL_SOURCE_DIR) + "/examples/profiles/";

struct Example {
    const char* base;  // file name without extension
    const char16_t* printer;
    const char16_t* entry;
    const char16_t* port;
};

const Example kExampleFiles[] = {
    {"epson-9pin", u"Epson LX-350", u"LX350", u"COM1:,9600,N,8,1,X"},
    {"receipt-80mm", u"Epson TM-T88V", u"TM88", u"COM2:,38400,N,8,1,DT"},
    {"mobile-58mm", u"Bixolon SPP-R200III", u"R200", u"COM4:,115200,N,8,1,Y"},
};

// The printer section of an INI file as written, read without the reader
// under test.
std::map<std::string, std::string> SectionOf(const std::string& path, const std::string& section) {
    std::ifstream in(path);
    std::map<std::string, std::string> keys;
    std::string line;
    bool inside = false;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == ';') continue;
        if (line[0] == '[') {
            inside = line == "[" + section + "]";
            continue;
        }
        auto eq = line.find('=');
        if (inside && eq != std::string::npos) keys[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return keys;
}

std::vector<int> CodesOfText(const std::string& text) {
    std::vector<int> codes;
    std::stringstream tokens(text);
    std::string token;
    while (std::getline(tokens, token, ','))
        if (!token.empty())
            codes.push_back(std::isdigit(static_cast<unsigned char>(token[0]))
                                ? static_cast<int>(std::stoul(token, nullptr, 0) & 0xFFFF)
                                : static_cast<unsigned char>(token[0]));
    return codes;
}

std::vector<int> Codes(const EscSeq& seq) { return std::vector<int>(seq.codes, seq.codes + seq.count); }

class Examples : public ScratchDir {
protected:
    void TearDown() override {
        FreeIniCache();
        ScratchDir::TearDown();
    }

    void Check(const Example& ex, const ProfileSource& source, const std::string& from) {
        SCOPED_TRACE(from);
        PrinterSettings s;
        std::u16string description, portName, entry;
        ASSERT_TRUE(LoadPrinterProfile(source, ex.printer, &s, &description, &portName, &entry));
        EXPECT_EQ(entry, ex.entry);
        EXPECT_EQ(description, ex.port);
        EXPECT_EQ(portName, u"");

        // Every key the file states loads as written; the others keep their
        // defaults.
        std::string section(ex.printer, ex.printer + std::char_traits<char16_t>::length(ex.printer));
        auto written = SectionOf(kExamples + ex.base + ".ini", section);
        for (int i = 0; i < kProfileKeyCount; ++i) {
            const ProfileKey& key = kProfileKeys[i];
            std::string name(key.name, key.name + std::char_traits<char16_t>::length(key.name));
            auto it = written.find(name);
            if (key.kind == ProfileKeyKind::Integer) {
                LONG want = it == written.end() ? key.intDefault : std::stol(it->second);
                EXPECT_EQ(s.*key.intField, want) << name;
            } else if (key.kind == ProfileKeyKind::Sequence) {
                std::string text = it == written.end()
                                       ? std::string(key.seqDefault, key.seqDefault + std::char_traits<char16_t>::length(
                                                                                          key.seqDefault))
                                       : it->second;
                EXPECT_EQ(Codes(s.*key.seqField), CodesOfText(text)) << name;
            }
        }
    }
};

TEST_F(Examples, IniFilesLoad) {
    for (const auto& ex : kExampleFiles) {
        std::string path = kExamples + ex.base + ".ini";
        std::u16string wide(path.begin(), path.end());
        Check(ex, ProfileSource{0, nullptr, wide.c_str()}, path);
    }
}

TEST_F(Examples, RegFilesLoad) {
    for (const auto& ex : kExampleFiles) {
        // A store that holds exactly this file: the registry keeps its data in
        // the same format.
        std::filesystem::copy_file(kExamples + ex.base + ".reg", m_registry,
                                   std::filesystem::copy_options::overwrite_existing);
        Check(ex, ProfileSource{1, u"Software\\Quendrix\\Printers", nullptr}, std::string(ex.base) + ".reg");
    }
}

}  // namespace
