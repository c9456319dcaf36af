// The COM runtime's private parsers: resource records, type-library text,
// version text. (Registration scripts are tested through the registrar.)
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "com/rsrc.h"
#include "com/typelib_model.h"

namespace {

std::string Record(uint32_t type, uint32_t name, const std::string& typeName, const std::string& data,
                   uint32_t sizeOverride = 0, uint32_t dataSizeOverride = 0) {
    std::string names = typeName + '\0' + std::string("") + '\0';
    size_t offset = (24 + names.size() + 7) / 8 * 8;
    size_t size = (offset + data.size() + 7) / 8 * 8;
    uint32_t header[6] = {platform::rsrc::kRecordMagic, sizeOverride ? sizeOverride : uint32_t(size), type, name,
                          uint32_t(offset), dataSizeOverride ? dataSizeOverride : uint32_t(data.size())};
    std::string r(reinterpret_cast<const char*>(header), sizeof header);
    r += names;
    r.resize(offset, '\0');
    r += data;
    r.resize(size, '\0');
    return r;
}

TEST(ResourceTable, RecordsPaddingAndDamage) {
    const std::string a = Record(0, 7, "TESTDATA", "hello");
    const std::string b = Record(16, 1, "", "v");
    struct Case {
        std::string section;
        size_t records;
    } cases[] = {
        {a + b, 2},
        {a + std::string(16, '\0') + b, 2},               // linker padding between objects
        {a + b.substr(0, 20), 1},                         // truncated record: the ones before it stay
        {a + Record(16, 1, "", "v", 4096), 1},            // size beyond the section
        {a + Record(16, 1, "", "v", 0, 4096), 1},         // data beyond its record
        {a + Record(0, 1, "", "v"), 1},                   // neither number nor name
        {Record(16, 1, "NAMED", "v"), 0},                 // both number and name
        {std::string("XXXXXXXX") + a, 0},                 // not a record
    };
    for (const Case& c : cases) {
        auto entries = platform::rsrc::ParseTable(reinterpret_cast<const uint8_t*>(c.section.data()), c.section.size());
        EXPECT_EQ(entries.size(), c.records);
    }
    auto entries = platform::rsrc::ParseTable(reinterpret_cast<const uint8_t*>(a.data()), a.size());
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].type.name, "TESTDATA");
    EXPECT_EQ(entries[0].name.number, 7u);
    EXPECT_EQ(a.substr(entries[0].offset, entries[0].size), "hello");
}

TEST(TypeLibText, MalformedTextIsRefusedWithItsLine) {
    const std::string head = "library L\n    uuid {3A7D0C10-52E4-4F0B-8C21-6E9014A27B01}\n";
    const std::string iface = "interface I : IDispatch\n    uuid {3A7D0C10-52E4-4F0B-8C21-6E9014A27B02}\n";
    struct Case {
        std::string text;
        std::string error;
    } cases[] = {
        {"interface I\n", "line 1: 'library' must come first"},
        {"library L\n", "the library has no uuid"},
        {head + "interface I\n", "type I has no uuid"},
        {head + iface + "    method 1 M(I4 a\n", "line 5: method DISPID NAME(PARAMETERS) expected"},
        {head + iface + "    method x M()\n", "line 5: method DISPID NAME(PARAMETERS) expected"},
        {head + iface + "    method 1 M()\n    method 1 N()\n", "line 6: member 1 described twice"},
        {head + iface + "    method 1 M([out, retval] I4* r, I4 a)\n", "line 5: a retval parameter is the last"},
        {head + iface + "    method 1 M([retval] I4 r)\n", "line 5: a retval parameter is the last"},
        {head + iface + "    method 1 M([sideways] I4 a)\n", "unknown parameter flag 'sideways'"},
        {head + iface + "    method 1 M(Nothing a)\n", "line 5: unknown type Nothing"},
        {head + iface + "    method 1 M(I4*** a)\n", "at most two levels of pointers"},
        {head + iface + "    method 1 M(I4 a,)\n", "a parameter expected after ','"},
        {head + iface + "    helpstring \"open\n", "unterminated text"},
        {head + iface + iface, "line 5: type I described twice"},
        {head + "coclass C\n    uuid {3A7D0C10-52E4-4F0B-8C21-6E9014A27B03}\n    implements J\n",
         "implemented type J is not described"},
        {head + "coclass C\n    method 1 M()\n", "members belong to interfaces"},
        {head + "interface I : IUnknown\n    flags dual\n", "only interfaces derived from IDispatch are dual"},
        {head + "version 1\n", "version MAJOR.MINOR expected"},
        {head + "bogus\n", "unknown keyword 'bogus'"},
        {head + std::string("\0", 1), "not a type-library text"},
    };
    for (const Case& c : cases) {
        platform::typelib::Library lib;
        std::string error;
        EXPECT_FALSE(platform::typelib::Parse(c.text, &lib, &error)) << c.text;
        EXPECT_NE(error.find(c.error), std::string::npos) << error << " / wanted " << c.error;
    }
}

TEST(TypeLibText, PointerAndUserDefinedParameters) {
    const std::string text =
        "library L\n    uuid {3A7D0C10-52E4-4F0B-8C21-6E9014A27B01}\n"
        "interface I : IUnknown\n    uuid {3A7D0C10-52E4-4F0B-8C21-6E9014A27B02}\n"
        "    method 0x10 Get([out] I** pp, [in, optional] VARIANT v)  # comment\n";
    platform::typelib::Library lib;
    std::string error;
    ASSERT_TRUE(platform::typelib::Parse(text, &lib, &error)) << error;
    const auto& f = lib.types[0].funcs[0];
    EXPECT_EQ(f.id, 16);
    EXPECT_EQ(f.vtableOffset, 3 * 8);
    EXPECT_EQ(f.params[0].type.vt, VT_USERDEFINED);
    EXPECT_EQ(f.params[0].type.ref, 0u);
    EXPECT_EQ(f.params[0].type.pointers, 2);
    EXPECT_EQ(f.params[1].flags, PARAMFLAG_FIN | PARAMFLAG_FOPT);
}

TEST(VersionText, MalformedLinesAreRefused) {
    const char* bad[] = {
        "FILEVERSION 1.2.3\n", "FILEVERSION 1.2.3.70000\n", "FILETYPE x\n", "VALUE Key before any block\n",
        "BLOCK 0409\n", "SOMETHING 1\n",
    };
    for (const char* text : bad) {
        std::vector<uint8_t> block;
        EXPECT_FALSE(platform::rsrc::BuildVersionBlock(text, &block)) << text;
    }
    // Strings past what a 16-bit length can hold are refused, not truncated.
    std::string huge = "BLOCK 040904B0\nVALUE Big " + std::string(40000, 'x') + "\n";
    std::vector<uint8_t> block;
    EXPECT_FALSE(platform::rsrc::BuildVersionBlock(huge, &block));
}

}  // namespace
