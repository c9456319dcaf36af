// Programs find the bundled profiles beside them and the user's own under
// XDG_DATA_HOME, with the printer names each INI file holds.
#include <cstdlib>
#include <string>
#include <vector>

#include "profile/ProfileCatalog.h"
#include "profile_fixture.h"

namespace {

using profile_test::ScratchDir;

class Catalog : public ScratchDir {
protected:
    void SetUp() override {
        ScratchDir::SetUp();
        const char* old = std::getenv("XDG_DATA_HOME");
        m_hadXdg = old != nullptr;
        if (old) m_oldXdg = old;
        setenv("XDG_DATA_HOME", (m_dir / "data").c_str(), 1);
    }
    void TearDown() override {
        if (m_hadXdg) setenv("XDG_DATA_HOME", m_oldXdg.c_str(), 1);
        else unsetenv("XDG_DATA_HOME");
        ScratchDir::TearDown();
    }
    bool m_hadXdg = false;
    std::string m_oldXdg;
};

TEST_F(Catalog, SectionNamesAreThePrinters) {
    // CR-only line ends, a PrinterPorts section in any case, a Windows-1252
    // name, and an unclosed header that hides what follows it.
    std::string path = WriteFile("p.ini",
                                 "; comment\r[First]\rKey=1\r\r[printerports]\rA=COM1:\r[Caf\xE9]\n"
                                 "[Broken\n[Hidden]\n");
    EXPECT_EQ(pressel_catalog::PrintersInIniFile(path), (std::vector<std::string>{"First", "Caf\xC3\xA9"}));
    EXPECT_TRUE(pressel_catalog::PrintersInIniFile(m_dir / "missing.ini").empty());
}

TEST_F(Catalog, ListsInstalledThenUserProfiles) {
    EXPECT_EQ(pressel_catalog::UserProfileDir(), m_dir / "data" / "pressel" / "profiles");
    std::filesystem::create_directories(m_dir / "data" / "pressel" / "profiles");
    WriteFile("data/pressel/profiles/b.INI", "[Mine B]\n");
    WriteFile("data/pressel/profiles/a.ini", "[Mine A1]\n[Mine A2]\n");
    WriteFile("data/pressel/profiles/notes.txt", "[Not A Profile]\n");

    std::vector<pressel_catalog::ProfilePrinter> all = pressel_catalog::ListProfilePrinters();
    std::vector<std::string> user;
    bool installedFirst = true, sawUser = false, sawNinePin = false;
    for (const auto& p : all) {
        if (p.user) {
            user.push_back(p.printer);
            sawUser = true;
        } else {
            installedFirst = installedFirst && !sawUser;
            sawNinePin = sawNinePin || p.printer == "Epson LX-350";
            EXPECT_EQ(p.file.parent_path(), pressel_catalog::InstalledProfileDir());
        }
    }
    EXPECT_EQ(user, (std::vector<std::string>{"Mine A1", "Mine A2", "Mine B"}));
    EXPECT_TRUE(installedFirst);
    // The build tree mirrors the bundled profiles into share/pressel/profiles.
    EXPECT_TRUE(sawNinePin);
}

}  // namespace
