#include <gtest/gtest.h>

#include "winsock/irda.h"

using namespace platform::irda;

TEST(IrdaNames, EntryNamesParseOrAreIgnored) {
    struct Case {
        const char* file;
        bool ok;
        DeviceId id;
        const char* name;
        const char* service;
    };
    const Case cases[] = {
        {"0a0b0c0d.Printer.LSAP-SEL002", true, {0x0A, 0x0B, 0x0C, 0x0D}, "Printer", "LSAP-SEL002"},
        {"FFfe0100.My%20Printer%2E1.IrDA:IrCOMM", true, {0xFF, 0xFE, 0x01, 0x00}, "My Printer.1", "IrDA:IrCOMM"},
        {"00000001..x.y", true, {0, 0, 0, 1}, "", "x.y"},  // the service takes the rest
        {"0000001.P.S", false, {}, "", ""},                // short identifier
        {"0000000g.P.S", false, {}, "", ""},
        {"00000001.P.", false, {}, "", ""},                 // no service
        {"00000001.P", false, {}, "", ""},
        {"00000001.%4.S", false, {}, "", ""},               // cut escape
        {"00000001.%00.S", false, {}, "", ""},              // NUL in the name
        {"00000001.1234567890123456789012.S", false, {}, "", ""},  // 22-byte name
        {"00000001.P.1234567890123456789012345", false, {}, "", ""},  // 25-byte service
        {"registry.reg", false, {}, "", ""},
    };
    for (const auto& c : cases) {
        auto parsed = ParseEntryName(c.file);
        ASSERT_EQ(parsed.has_value(), c.ok) << c.file;
        if (!c.ok) continue;
        EXPECT_EQ(parsed->id, c.id) << c.file;
        EXPECT_EQ(parsed->name, c.name) << c.file;
        EXPECT_EQ(parsed->service, c.service) << c.file;
    }
}

TEST(IrdaNames, LsapSelectors) {
    const std::pair<const char*, int> cases[] = {
        {"LSAP-SEL002", 2}, {"LSAP-SEL2", 2}, {"LSAP-SEL127", 127}, {"LSAP-SEL0", -1}, {"LSAP-SEL128", -1},
        {"LSAP-SEL", -1},   {"LSAP-SEL0002", -1}, {"lsap-sel002", -1}, {"LSAP-SEL2x", -1}, {"IrDA:IrCOMM", -1},
    };
    for (auto [service, expected] : cases) EXPECT_EQ(LsapSelector(service).value_or(-1), expected) << service;
    EXPECT_TRUE(SameService("LSAP-SEL2", "LSAP-SEL002"));
    EXPECT_FALSE(SameService("LSAP-SEL3", "LSAP-SEL002"));
    EXPECT_TRUE(SameService("IrDA:IrCOMM", "IrDA:IrCOMM"));
    EXPECT_FALSE(SameService("IrDA:IrCOMM", "irda:ircomm"));
}

TEST(IrdaNames, OneEntryPerDeviceInIdentifierOrder) {
    std::vector<EntryName> entries = {
        {{0, 0, 0, 2}, "Modem", "IrDA:IrCOMM", {}},
        {{0, 0, 0, 1}, "Printer", "IrDA:IrCOMM", {}},
        {{0, 0, 0, 1}, "Printer", "LSAP-SEL002", {}},
    };
    auto devices = DevicesFromEntries(entries);
    ASSERT_EQ(devices.size(), 2u);
    EXPECT_EQ(devices[0].name, "Printer");
    EXPECT_EQ(devices[0].hints1, kPrinterHint);
    EXPECT_EQ(devices[1].name, "Modem");
    EXPECT_EQ(devices[1].hints1, 0);
}
