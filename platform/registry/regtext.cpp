#include "registry/regtext.h"

#include <unicode/uchar.h>

#include <algorithm>
#include <cstdio>

#include "core/utf.h"

namespace platform::registry {

const char16_t* const kHiveNames[kHiveCount] = {u"HKEY_CLASSES_ROOT", u"HKEY_CURRENT_USER", u"HKEY_LOCAL_MACHINE"};

namespace {

constexpr std::string_view kHeader5 = "Windows Registry Editor Version 5.00";
constexpr std::string_view kHeader4 = "REGEDIT4";

// Windows-1252 bytes 0x80..0x9F; the five unassigned bytes map to the C1
// control of the same number, as the system's own conversion does.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

std::u16string FromCp1252(std::string_view bytes) {
    std::u16string out;
    out.reserve(bytes.size());
    for (unsigned char c : bytes) out += (c >= 0x80 && c < 0xA0) ? kCp1252High[c - 0x80] : char16_t(c);
    return out;
}

// Strict UTF-8: malformed input is an error, not silently replaced, so that
// an import never stores text other than what the file says.
bool FromUtf8Strict(std::string_view s, std::u16string* out, int* badLine) {
    int line = 1;
    for (size_t i = 0; i < s.size();) {
        unsigned char c = s[i];
        char32_t cp;
        size_t len;
        if (c < 0x80) { cp = c; len = 1; }
        else if ((c & 0xE0) == 0xC0) { cp = c & 0x1F; len = 2; }
        else if ((c & 0xF0) == 0xE0) { cp = c & 0x0F; len = 3; }
        else if ((c & 0xF8) == 0xF0) { cp = c & 0x07; len = 4; }
        else { *badLine = line; return false; }
        if (i + len > s.size()) { *badLine = line; return false; }
        for (size_t k = 1; k < len; ++k) {
            unsigned char t = s[i + k];
            if ((t & 0xC0) != 0x80) { *badLine = line; return false; }
            cp = (cp << 6) | (t & 0x3F);
        }
        static constexpr char32_t kMin[5] = {0, 0, 0x80, 0x800, 0x10000};
        if (cp < kMin[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp < 0xE000)) { *badLine = line; return false; }
        if (cp < 0x10000) {
            *out += char16_t(cp);
        } else {
            *out += char16_t(0xD800 + ((cp - 0x10000) >> 10));
            *out += char16_t(0xDC00 + ((cp - 0x10000) & 0x3FF));
        }
        if (cp == '\n') ++line;
        i += len;
    }
    return true;
}

bool StartsWith(std::string_view s, std::string_view prefix) { return s.substr(0, prefix.size()) == prefix; }

// The file's text as UTF-16, and whether it is a REGEDIT4 file.
bool DecodeText(std::string_view bytes, std::u16string* text, bool* regedit4, ParseError* error) {
    if (bytes.size() >= 2 && (unsigned char)bytes[0] == 0xFF && (unsigned char)bytes[1] == 0xFE) {
        if (bytes.size() % 2) {
            *error = {0, "UTF-16 text with an odd number of bytes"};
            return false;
        }
        for (size_t i = 2; i < bytes.size(); i += 2)
            *text += char16_t((unsigned char)bytes[i] | ((unsigned char)bytes[i + 1] << 8));
    } else if (bytes.size() >= 2 && (unsigned char)bytes[0] == 0xFE && (unsigned char)bytes[1] == 0xFF) {
        *error = {0, "big-endian UTF-16 is not supported"};
        return false;
    } else {
        std::string_view body = bytes;
        if (StartsWith(body, "\xEF\xBB\xBF")) body.remove_prefix(3);
        size_t start = body.find_first_not_of(" \t\r\n");
        if (start != std::string_view::npos && StartsWith(body.substr(start), kHeader4)) {
            *text = FromCp1252(body);
        } else {
            int line = 0;
            if (!FromUtf8Strict(body, text, &line)) {
                *error = {line, "invalid UTF-8"};
                return false;
            }
        }
    }
    *regedit4 = false;
    return true;
}

bool IsSpace(char16_t c) { return c == u' ' || c == u'\t'; }

std::u16string_view Trim(std::u16string_view s) {
    while (!s.empty() && (IsSpace(s.front()) || s.front() == u'\r')) s.remove_prefix(1);
    while (!s.empty() && (IsSpace(s.back()) || s.back() == u'\r')) s.remove_suffix(1);
    return s;
}

bool EqualsAscii(std::u16string_view a, std::string_view b, bool ignoreCase) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char16_t x = a[i], y = char16_t((unsigned char)b[i]);
        if (ignoreCase) {
            if (x >= u'a' && x <= u'z') x -= 32;
            if (y >= u'a' && y <= u'z') y -= 32;
        }
        if (x != y) return false;
    }
    return true;
}

int HexDigit(char16_t c) {
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
    return -1;
}

void AppendUtf16Le(std::vector<BYTE>& out, std::u16string_view s) {
    for (char16_t c : s) {
        out.push_back(BYTE(c & 0xFF));
        out.push_back(BYTE(c >> 8));
    }
}

// One logical line: physical lines joined at trailing backslashes.
struct LogicalLine {
    int number;
    std::u16string text;
};

std::vector<LogicalLine> SplitLines(const std::u16string& text) {
    std::vector<LogicalLine> lines;
    int number = 0;
    bool continuing = false;
    size_t pos = 0;
    while (pos <= text.size()) {
        size_t end = text.find(u'\n', pos);
        if (end == std::u16string::npos) end = text.size();
        std::u16string_view raw = std::u16string_view(text).substr(pos, end - pos);
        ++number;
        std::u16string_view line = Trim(raw);
        bool more = !line.empty() && line.back() == u'\\' && (continuing || line.front() != u';');
        if (more) line.remove_suffix(1);
        if (continuing)
            lines.back().text += line;
        else
            lines.push_back({number, std::u16string(line)});
        continuing = more;
        pos = end + 1;
    }
    return lines;
}

class LineParser {
public:
    LineParser(std::u16string_view s, bool regedit4) : s_(s), regedit4_(regedit4) {}

    // name=data into *value; *remove for name=-.
    bool ParseValueLine(Value* value, bool* remove, std::string* why) {
        if (Eat(u'@')) {
            value->name.clear();
        } else if (!ParseQuoted(&value->name, why)) {
            if (why->empty()) *why = "expected a value name (\"name\" or @)";
            return false;
        }
        SkipSpaces();
        if (!Eat(u'=')) return Fail(why, "expected '=' after the value name");
        SkipSpaces();
        *remove = false;
        if (Eat(u'-')) {
            *remove = true;
        } else if (Peek() == u'"') {
            std::u16string text;
            if (!ParseQuoted(&text, why)) return false;
            value->type = REG_SZ;
            value->data.clear();
            AppendUtf16Le(value->data, text);
            AppendUtf16Le(value->data, std::u16string(1, u'\0'));
        } else if (EatWord("dword:")) {
            DWORD v = 0;
            int digits = 0;
            for (int d; (d = HexDigit(Peek())) >= 0; ++pos_, ++digits) v = (v << 4) | DWORD(d);
            if (digits < 1 || digits > 8) return Fail(why, "dword: needs 1 to 8 hex digits");
            value->type = REG_DWORD;
            value->data = {BYTE(v), BYTE(v >> 8), BYTE(v >> 16), BYTE(v >> 24)};
        } else if (EatWord("hex")) {
            value->type = REG_BINARY;
            if (Eat(u'(')) {
                DWORD type = 0;
                int digits = 0;
                for (int d; (d = HexDigit(Peek())) >= 0; ++pos_, ++digits) type = (type << 4) | DWORD(d);
                if (digits < 1 || digits > 8 || !Eat(u')')) return Fail(why, "bad type in hex(...)");
                value->type = type;
            }
            if (!Eat(u':')) return Fail(why, "expected ':' after hex");
            if (!ParseBytes(&value->data, why)) return false;
            if (regedit4_ && (value->type == REG_SZ || value->type == REG_EXPAND_SZ || value->type == REG_MULTI_SZ)) {
                // REGEDIT4 keeps string data as 8-bit ANSI text.
                std::u16string wide = FromCp1252(std::string_view((const char*)value->data.data(), value->data.size()));
                value->data.clear();
                AppendUtf16Le(value->data, wide);
            }
        } else {
            return Fail(why, "unrecognised value data");
        }
        SkipSpaces();
        if (pos_ < s_.size() && s_[pos_] != u';') return Fail(why, "unexpected text after the value");
        return true;
    }

private:
    char16_t Peek() const { return pos_ < s_.size() ? s_[pos_] : u'\0'; }
    bool Eat(char16_t c) {
        if (Peek() != c) return false;
        ++pos_;
        return true;
    }
    bool EatWord(std::string_view word) {
        if (!EqualsAscii(s_.substr(pos_, word.size()), word, true)) return false;
        pos_ += word.size();
        return true;
    }
    void SkipSpaces() {
        while (pos_ < s_.size() && IsSpace(s_[pos_])) ++pos_;
    }
    static bool Fail(std::string* why, const char* text) {
        *why = text;
        return false;
    }

    bool ParseQuoted(std::u16string* out, std::string* why) {
        if (!Eat(u'"')) return false;
        out->clear();
        while (pos_ < s_.size()) {
            char16_t c = s_[pos_++];
            if (c == u'"') return true;
            if (c == u'\\' && pos_ < s_.size() && (s_[pos_] == u'\\' || s_[pos_] == u'"')) c = s_[pos_++];
            *out += c;
        }
        return Fail(why, "missing closing quote");
    }

    bool ParseBytes(std::vector<BYTE>* out, std::string* why) {
        out->clear();
        SkipSpaces();
        if (pos_ >= s_.size() || s_[pos_] == u';') return true;
        for (;;) {
            SkipSpaces();
            int hi = HexDigit(Peek());
            if (hi < 0) return Fail(why, "expected a hex byte");
            ++pos_;
            int lo = HexDigit(Peek());
            if (lo >= 0) {
                ++pos_;
                hi = hi * 16 + lo;
            }
            out->push_back(BYTE(hi));
            SkipSpaces();
            if (!Eat(u',')) break;
            SkipSpaces();
            if (pos_ >= s_.size()) break;  // a trailing comma is harmless
        }
        return true;
    }

    std::u16string_view s_;
    bool regedit4_;
    size_t pos_ = 0;
};

}  // namespace

std::u16string FoldName(std::u16string_view name) {
    std::u16string out(name);
    for (auto& c : out)
        if (c < 0xD800 || c >= 0xE000) c = char16_t(u_toupper(c));
    return out;
}

bool SameName(std::u16string_view a, std::u16string_view b) {
    return a.size() == b.size() && FoldName(a) == FoldName(b);
}

Tree::Tree() {
    for (int i = 0; i < kHiveCount; ++i) roots[i].name = kHiveNames[i];
}

Value* Key::FindValue(std::u16string_view valueName) {
    for (auto& v : values)
        if (SameName(v.name, valueName)) return &v;
    return nullptr;
}

namespace {
auto SubkeyPosition(std::vector<Key>& subkeys, const std::u16string& folded) {
    return std::lower_bound(subkeys.begin(), subkeys.end(), folded,
                            [](const Key& k, const std::u16string& f) { return FoldName(k.name) < f; });
}
}  // namespace

Key* Key::FindSubkey(std::u16string_view keyName) {
    auto folded = FoldName(keyName);
    auto it = SubkeyPosition(subkeys, folded);
    return it != subkeys.end() && FoldName(it->name) == folded ? &*it : nullptr;
}

Key& Key::AddSubkey(std::u16string_view keyName) {
    auto folded = FoldName(keyName);
    auto it = SubkeyPosition(subkeys, folded);
    if (it != subkeys.end() && FoldName(it->name) == folded) return *it;
    Key key;
    key.name = keyName;
    return *subkeys.insert(it, std::move(key));
}

bool Key::RemoveSubkey(std::u16string_view keyName) {
    auto folded = FoldName(keyName);
    auto it = SubkeyPosition(subkeys, folded);
    if (it == subkeys.end() || FoldName(it->name) != folded) return false;
    subkeys.erase(it);
    return true;
}

bool Key::RemoveValue(std::u16string_view valueName) {
    for (auto it = values.begin(); it != values.end(); ++it)
        if (SameName(it->name, valueName)) {
            values.erase(it);
            return true;
        }
    return false;
}

void Key::SetValue(Value value) {
    if (Value* old = FindValue(value.name)) {
        old->type = value.type;
        old->data = std::move(value.data);  // the name keeps its first spelling
    } else {
        values.push_back(std::move(value));
    }
}

bool ValidName(std::u16string_view name) {
    for (size_t i = 0; i < name.size(); ++i) {
        char16_t c = name[i];
        if (c == u'\r' || c == u'\n' || c == 0) return false;
        if (c >= 0xDC00 && c < 0xE000) return false;
        if (c >= 0xD800 && c < 0xDC00) {
            if (i + 1 == name.size() || name[i + 1] < 0xDC00 || name[i + 1] >= 0xE000) return false;
            ++i;
        }
    }
    return true;
}

bool SplitPath(std::u16string_view text, Path* path) {
    path->clear();
    if (!text.empty() && text.back() == u'\\') text.remove_suffix(1);
    if (text.empty()) return true;
    size_t pos = 0;
    for (;;) {
        size_t end = text.find(u'\\', pos);
        if (end == std::u16string_view::npos) end = text.size();
        auto part = text.substr(pos, end - pos);
        if (part.empty() || part.size() > kMaxKeyNameLength || !ValidName(part)) return false;
        path->emplace_back(part);
        if (end == text.size()) return true;
        pos = end + 1;
    }
}

bool ParseKeyPath(std::u16string_view text, Hive* hive, Path* path) {
    static const struct {
        const char* name;
        Hive hive;
    } kRoots[] = {{"HKEY_CLASSES_ROOT", kClassesRoot}, {"HKCR", kClassesRoot},
                  {"HKEY_CURRENT_USER", kCurrentUser}, {"HKCU", kCurrentUser},
                  {"HKEY_LOCAL_MACHINE", kLocalMachine}, {"HKLM", kLocalMachine}};
    size_t slash = text.find(u'\\');
    auto root = text.substr(0, slash);
    for (const auto& r : kRoots) {
        if (!EqualsAscii(root, r.name, true)) continue;
        *hive = r.hive;
        return SplitPath(slash == std::u16string_view::npos ? std::u16string_view() : text.substr(slash + 1), path);
    }
    return false;
}

Key* FindKey(Tree& tree, Hive hive, const Path& path) {
    Key* key = &tree.roots[hive];
    for (const auto& part : path)
        if (!(key = key->FindSubkey(part))) return nullptr;
    return key;
}

const Key* FindKey(const Tree& tree, Hive hive, const Path& path) {
    return FindKey(const_cast<Tree&>(tree), hive, path);
}

Key& CreateKey(Tree& tree, Hive hive, const Path& path) {
    Key* key = &tree.roots[hive];
    for (const auto& part : path) key = &key->AddSubkey(part);
    return *key;
}

bool DeleteTree(Tree& tree, Hive hive, const Path& path) {
    if (path.empty()) return false;
    Path parentPath(path.begin(), path.end() - 1);
    Key* parent = FindKey(tree, hive, parentPath);
    return parent && parent->RemoveSubkey(path.back());
}

bool ParseRegText(std::string_view bytes, std::vector<Op>* ops, ParseError* error) {
    ops->clear();
    std::u16string text;
    bool regedit4 = false;
    if (!DecodeText(bytes, &text, &regedit4, error)) return false;
    auto lines = SplitLines(text);
    bool sawHeader = false;
    bool inKey = false;  // values allowed (after [KEY], not after [-KEY])
    Hive hive = kCurrentUser;
    Path path;
    for (const auto& logical : lines) {
        std::u16string_view line = Trim(logical.text);
        auto fail = [&](std::string message) {
            *error = {logical.number, std::move(message)};
            return false;
        };
        if (line.empty() || line.front() == u';') continue;
        if (!sawHeader) {
            if (EqualsAscii(line, kHeader5, false)) {
                regedit4 = false;
            } else if (EqualsAscii(line, kHeader4, false)) {
                regedit4 = true;
            } else {
                return fail("expected \"Windows Registry Editor Version 5.00\" or \"REGEDIT4\"");
            }
            sawHeader = true;
            continue;
        }
        if (line.front() == u'[') {
            size_t close = line.rfind(u']');
            if (close == std::u16string_view::npos) return fail("missing ']' after the key name");
            auto name = line.substr(1, close - 1);
            bool remove = !name.empty() && name.front() == u'-';
            if (remove) name.remove_prefix(1);
            if (!ParseKeyPath(name, &hive, &path)) return fail("bad key name \"" + ToUtf8(name) + "\"");
            if (remove && path.empty()) return fail("a root key cannot be deleted");
            ops->push_back({remove ? Op::kDeleteTree : Op::kCreateKey, hive, path, {}});
            inKey = !remove;
            continue;
        }
        if (!inKey) return fail("value outside a key");
        Value value;
        bool remove = false;
        std::string why;
        LineParser parser(line, regedit4);
        if (!parser.ParseValueLine(&value, &remove, &why)) return fail(why);
        if (value.name.size() > kMaxValueNameLength) return fail("value name too long");
        if (!remove && !ValidName(value.name)) return fail("value name with a line break, zero or broken UTF-16");
        ops->push_back({remove ? Op::kDeleteValue : Op::kSetValue, hive, path, std::move(value)});
    }
    if (!sawHeader) {
        *error = {0, "empty file: no \"Windows Registry Editor Version 5.00\" header"};
        return false;
    }
    return true;
}

void ApplyOps(Tree& tree, const std::vector<Op>& ops) {
    for (const auto& op : ops) {
        switch (op.kind) {
            case Op::kCreateKey: CreateKey(tree, op.hive, op.path); break;
            case Op::kDeleteTree: DeleteTree(tree, op.hive, op.path); break;
            case Op::kSetValue: CreateKey(tree, op.hive, op.path).SetValue(op.value); break;
            case Op::kDeleteValue:
                if (Key* key = FindKey(tree, op.hive, op.path)) key->RemoveValue(op.value.name);
                break;
        }
    }
}

namespace {

std::string Quote(std::u16string_view s) {
    std::string out = "\"";
    for (char c : ToUtf8(s)) {
        if (c == '\\' || c == '"') out += '\\';
        out += c;
    }
    return out + "\"";
}

// A REG_SZ that the quoted form carries exactly: whole UTF-16 units, one
// terminator at the end, no other zeros, no line breaks.
bool QuotableString(const Value& v, std::u16string* text) {
    if (v.type != REG_SZ || v.data.size() < 2 || v.data.size() % 2) return false;
    text->clear();
    for (size_t i = 0; i + 2 < v.data.size(); i += 2) {
        char16_t c = char16_t(v.data[i] | (v.data[i + 1] << 8));
        if (c == 0 || c == u'\r' || c == u'\n') return false;
        *text += c;
    }
    if (v.data[v.data.size() - 2] || v.data.back()) return false;
    // Unpaired surrogates would not survive UTF-8.
    return FromUtf8(ToUtf8(*text)) == *text;
}

void AppendValue(std::string& out, const Value& v) {
    std::string line = v.name.empty() ? "@=" : Quote(v.name) + "=";
    std::u16string text;
    if (QuotableString(v, &text)) {
        out += line + Quote(text) + "\n";
        return;
    }
    if (v.type == REG_DWORD && v.data.size() == 4) {
        char buf[16];
        std::snprintf(buf, sizeof buf, "dword:%08x",
                      unsigned(v.data[0] | (v.data[1] << 8) | (v.data[2] << 16) | (DWORD(v.data[3]) << 24)));
        out += line + buf + "\n";
        return;
    }
    char prefix[24];
    if (v.type == REG_BINARY)
        std::snprintf(prefix, sizeof prefix, "hex:");
    else
        std::snprintf(prefix, sizeof prefix, "hex(%x):", unsigned(v.type));
    line += prefix;
    size_t column = line.size();
    for (size_t i = 0; i < v.data.size(); ++i) {
        char piece[4];
        std::snprintf(piece, sizeof piece, i + 1 < v.data.size() ? "%02x," : "%02x", v.data[i]);
        // Wrap like the system's editor: lines of at most 80 columns with
        // the continuation backslash, continued after two spaces.
        if (column + 3 > 79) {
            line += "\\\n  ";
            column = 2;
        }
        line += piece;
        column += 3;
    }
    out += line + "\n";
}

void AppendKey(std::string& out, const Key& key, const std::string& fullName, bool isRoot) {
    if (!isRoot || !key.values.empty()) {
        out += "\n[" + fullName + "]\n";
        for (const auto& v : key.values) AppendValue(out, v);
    }
    for (const auto& sub : key.subkeys) AppendKey(out, sub, fullName + "\\" + ToUtf8(sub.name), false);
}

}  // namespace

std::string ExportKey(const Key& key, std::u16string_view fullName) {
    std::string out(kHeader5);
    out += "\n";
    AppendKey(out, key, ToUtf8(fullName), false);
    return out;
}

std::string ExportTree(const Tree& tree) {
    std::string out(kHeader5);
    out += "\n";
    for (int i = 0; i < kHiveCount; ++i) AppendKey(out, tree.roots[i], ToUtf8(kHiveNames[i]), true);
    return out;
}

}  // namespace platform::registry
