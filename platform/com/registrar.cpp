// The registrar: parses a .rgs script whole, then writes or removes its keys
// through the Reg* calls.
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "com/rgs.h"
#include "com/rsrc.h"
#include "core/utf.h"
#include "pressel/registrar.h"
#include "win/base.h"
#include "win/registry.h"

namespace platform::rgs {
namespace {

constexpr int kMaxDepth = 64;  // keeps hostile nesting from exhausting the stack

std::u16string Upper(std::u16string_view s) {
    std::u16string out(s);
    for (char16_t& c : out)
        if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - 32);
    return out;
}

bool IsSpace(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == 0xFEFF; }

struct Token {
    enum Kind { End, Open, Close, Equals, Word, Quoted } kind = End;
    std::u16string text;
    int line = 0;
};

class Lexer {
public:
    Lexer(std::u16string_view text, const Replacements& replacements) : text_(text), replacements_(replacements) {}

    bool Next(Token* token, std::string* error) {
        while (pos_ < text_.size() && IsSpace(text_[pos_])) {
            if (text_[pos_] == u'\n') ++line_;
            ++pos_;
        }
        token->line = line_;
        token->text.clear();
        if (pos_ >= text_.size()) {
            token->kind = Token::End;
            return true;
        }
        char16_t c = text_[pos_];
        if (c == u'{' && !LooksLikeGuid()) return Single(token, Token::Open);
        if (c == u'}') return Single(token, Token::Close);
        if (c == u'=') return Single(token, Token::Equals);
        std::u16string raw;
        if (c == u'\'') {
            token->kind = Token::Quoted;
            ++pos_;
            for (;;) {
                if (pos_ >= text_.size()) return Fail(error, "unterminated quoted text");
                char16_t q = text_[pos_++];
                if (q == u'\n') ++line_;
                if (q == u'\'') {
                    if (pos_ < text_.size() && text_[pos_] == u'\'') {
                        raw += u'\'';
                        ++pos_;
                        continue;
                    }
                    break;
                }
                raw += q;
            }
        } else {
            token->kind = Token::Word;
            // A braced GUID is one word; other words end at space, brace or '='.
            if (c == u'{') {
                size_t close = text_.find(u'}', pos_);
                raw = std::u16string(text_.substr(pos_, close - pos_ + 1));
                pos_ = close + 1;
            } else {
                while (pos_ < text_.size() && !IsSpace(text_[pos_]) && text_[pos_] != u'{' && text_[pos_] != u'}' &&
                       text_[pos_] != u'=' && text_[pos_] != u'\'')
                    raw += text_[pos_++];
            }
        }
        return Replace(raw, &token->text, error);
    }

    int line() const { return line_; }

private:
    bool Single(Token* token, Token::Kind kind) {
        token->kind = kind;
        ++pos_;
        return true;
    }
    // "{" followed by GUID characters and "}" within 38 characters.
    bool LooksLikeGuid() const {
        if (pos_ + 38 > text_.size() || text_[pos_ + 37] != u'}') return false;
        for (size_t i = pos_ + 1; i < pos_ + 37; ++i) {
            char16_t c = text_[i];
            bool hex = (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
            if (!hex && c != u'-') return false;
        }
        return true;
    }
    bool Replace(const std::u16string& raw, std::u16string* out, std::string* error) {
        for (size_t i = 0; i < raw.size(); ++i) {
            if (raw[i] != u'%') {
                *out += raw[i];
                continue;
            }
            size_t close = raw.find(u'%', i + 1);
            if (close == std::u16string::npos) return Fail(error, "unmatched %");
            if (close == i + 1) {
                *out += u'%';
            } else {
                auto it = replacements_.find(Upper(std::u16string_view(raw).substr(i + 1, close - i - 1)));
                if (it == replacements_.end())
                    return Fail(error, "no replacement for %" + ToUtf8(raw.substr(i + 1, close - i - 1)) + "%");
                *out += it->second;
            }
            i = close;
        }
        return true;
    }
    bool Fail(std::string* error, const std::string& what) {
        *error = "line " + std::to_string(line_) + ": " + what;
        return false;
    }

    std::u16string_view text_;
    const Replacements& replacements_;
    size_t pos_ = 0;
    int line_ = 1;
};

class Parser {
public:
    Parser(std::u16string_view text, const Replacements& replacements, std::string* error)
        : lexer_(text, replacements), error_(error) {}

    bool Script(std::vector<Root>* roots) {
        if (!Advance()) return false;
        while (token_.kind != Token::End) {
            if (token_.kind != Token::Word) return Fail("a root key expected");
            Root root;
            std::u16string hive = Upper(token_.text);
            if (hive == u"HKCR" || hive == u"HKEY_CLASSES_ROOT") {
                root.hive = u"HKCR";
            } else if (hive == u"HKCU" || hive == u"HKEY_CURRENT_USER") {
                root.hive = u"HKCU";
            } else if (hive == u"HKLM" || hive == u"HKEY_LOCAL_MACHINE") {
                root.hive = u"HKLM";
            } else {
                return Fail("unknown root key '" + ToUtf8(token_.text) + "'");
            }
            if (!Advance()) return false;
            if (token_.kind != Token::Open) return Fail("'{' expected after the root key");
            if (!Advance() || !Entries(&root.keys, 1)) return false;
            roots->push_back(std::move(root));
        }
        return true;
    }

private:
    // Entries up to and including the closing brace.
    bool Entries(std::vector<Node>* nodes, int depth) {
        if (depth > kMaxDepth) return Fail("keys nested too deeply");
        for (;;) {
            if (token_.kind == Token::Close) return Advance();
            if (token_.kind == Token::End) return Fail("'}' missing");
            if (token_.kind != Token::Word && token_.kind != Token::Quoted) return Fail("a key name expected");
            Node node;
            if (token_.kind == Token::Word) {
                std::u16string word = Upper(token_.text);
                bool flag = true;
                if (word == u"NOREMOVE") {
                    node.noRemove = true;
                } else if (word == u"FORCEREMOVE") {
                    node.forceRemove = true;
                } else if (word == u"DELETE") {
                    node.remove = true;
                } else if (word == u"VAL") {
                    node.isValue = true;
                } else {
                    flag = false;
                }
                if (flag && !Advance()) return false;
                if (flag && token_.kind != Token::Word && token_.kind != Token::Quoted) return Fail("a name expected");
            }
            node.name = token_.text;
            if (!node.isValue && node.name.empty()) return Fail("empty key name");
            if (!Advance()) return false;
            if (token_.kind == Token::Equals) {
                if (!Advance() || !Value(&node.data)) return false;
                node.hasData = true;
            } else if (node.isValue) {
                return Fail("'=' expected after the value name");
            }
            if (token_.kind == Token::Open) {
                if (node.isValue) return Fail("a value cannot have subkeys");
                if (!Advance() || !Entries(&node.children, depth + 1)) return false;
            }
            nodes->push_back(std::move(node));
        }
    }

    bool Value(Data* data) {
        if (token_.kind != Token::Word) return Fail("a value type (s, d or b) expected");
        std::u16string type = Upper(token_.text);
        if (!Advance()) return false;
        if (token_.kind != Token::Quoted) return Fail("a quoted value expected");
        const std::u16string& text = token_.text;
        if (type == u"S") {
            data->type = REG_SZ;
            data->bytes.resize((text.size() + 1) * 2);
            std::memcpy(data->bytes.data(), text.c_str(), data->bytes.size());
        } else if (type == u"D") {
            std::string narrow = ToUtf8(text);
            char* end = nullptr;
            errno = 0;
            unsigned long long v = std::strtoull(narrow.c_str(), &end, 0);
            if (narrow.empty() || *end || errno || v > 0xFFFFFFFFull || narrow[0] == '-')
                return Fail("'" + narrow + "' is not a DWORD");
            DWORD d = static_cast<DWORD>(v);
            data->type = REG_DWORD;
            data->bytes.resize(4);
            std::memcpy(data->bytes.data(), &d, 4);
        } else if (type == u"B") {
            std::string narrow = ToUtf8(text);
            if (narrow.size() % 2) return Fail("binary value with an odd number of digits");
            data->type = REG_BINARY;
            for (size_t i = 0; i < narrow.size(); i += 2) {
                char pair[3] = {narrow[i], narrow[i + 1], 0};
                char* end = nullptr;
                unsigned long b = std::strtoul(pair, &end, 16);
                if (*end || !std::isxdigit(static_cast<unsigned char>(pair[0]))) return Fail("bad binary digits");
                data->bytes.push_back(static_cast<BYTE>(b));
            }
        } else {
            return Fail("unsupported value type '" + ToUtf8(type) + "'");
        }
        return Advance();
    }

    bool Advance() { return lexer_.Next(&token_, error_); }
    bool Fail(const std::string& what) {
        *error_ = "line " + std::to_string(token_.line) + ": " + what;
        return false;
    }

    Lexer lexer_;
    Token token_;
    std::string* error_;
};

}  // namespace

bool Parse(std::u16string_view script, const Replacements& replacements, std::vector<Root>* roots,
           std::string* error) {
    Replacements upper;
    for (const auto& [name, value] : replacements) upper[Upper(name)] = value;
    Parser parser(script, upper, error);
    return parser.Script(roots);
}

}  // namespace platform::rgs

namespace {

using platform::rgs::Node;

HKEY HiveKey(const std::u16string& hive) {
    if (hive == u"HKCU") return HKEY_CURRENT_USER;
    if (hive == u"HKLM") return HKEY_LOCAL_MACHINE;
    return HKEY_CLASSES_ROOT;
}

bool Missing(LONG rc) { return rc == ERROR_FILE_NOT_FOUND || rc == ERROR_PATH_NOT_FOUND; }

LONG SetData(HKEY key, const WCHAR* name, const platform::rgs::Data& data) {
    return RegSetValueExW(key, name, 0, data.type, data.bytes.data(), static_cast<DWORD>(data.bytes.size()));
}

LONG Register(HKEY parent, const std::vector<Node>& nodes) {
    for (const Node& node : nodes) {
        LONG rc = ERROR_SUCCESS;
        if (node.isValue) {
            rc = SetData(parent, node.name.c_str(), node.data);
        } else if (node.remove) {
            rc = RegDeleteTreeW(parent, node.name.c_str());
            if (Missing(rc)) rc = ERROR_SUCCESS;
        } else {
            if (node.forceRemove) {
                rc = RegDeleteTreeW(parent, node.name.c_str());
                if (Missing(rc)) rc = ERROR_SUCCESS;
            }
            HKEY key = nullptr;
            if (rc == ERROR_SUCCESS)
                rc = RegCreateKeyExW(parent, node.name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
            if (rc == ERROR_SUCCESS && node.hasData) rc = SetData(key, nullptr, node.data);
            if (rc == ERROR_SUCCESS) rc = Register(key, node.children);
            if (key) RegCloseKey(key);
        }
        if (rc != ERROR_SUCCESS) return rc;
    }
    return ERROR_SUCCESS;
}

LONG Unregister(HKEY parent, const std::vector<Node>& nodes) {
    LONG first = ERROR_SUCCESS;
    for (const Node& node : nodes) {
        LONG rc = ERROR_SUCCESS;
        if (node.isValue) {
            rc = RegDeleteValueW(parent, node.name.c_str());
        } else if (node.remove) {
            continue;
        } else if (node.noRemove) {
            HKEY key = nullptr;
            rc = RegOpenKeyExW(parent, node.name.c_str(), 0, KEY_ALL_ACCESS, &key);
            if (rc == ERROR_SUCCESS) {
                rc = Unregister(key, node.children);
                RegCloseKey(key);
            }
        } else {
            rc = RegDeleteTreeW(parent, node.name.c_str());
        }
        if (!Missing(rc) && rc != ERROR_SUCCESS && first == ERROR_SUCCESS) first = rc;
    }
    return first;
}

HRESULT Fail(const std::string& message) {
    ICreateErrorInfo* create = nullptr;
    if (SUCCEEDED(CreateErrorInfo(&create))) {
        std::u16string text = platform::FromUtf8(message);
        create->SetDescription(text.data());
        create->SetSource(const_cast<LPOLESTR>(u"Registrar"));
        IErrorInfo* info = nullptr;
        if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info)))) {
            SetErrorInfo(0, info);
            info->Release();
        }
        create->Release();
    }
    return DISP_E_EXCEPTION;
}

HRESULT Run(std::u16string_view script, BOOL reg, const platform::rgs::Replacements& map) {
    std::vector<platform::rgs::Root> roots;
    std::string error;
    if (!platform::rgs::Parse(script, map, &roots, &error)) return Fail(error);
    LONG first = ERROR_SUCCESS;
    for (const auto& root : roots) {
        LONG rc = reg ? Register(HiveKey(root.hive), root.keys) : Unregister(HiveKey(root.hive), root.keys);
        if (rc != ERROR_SUCCESS && first == ERROR_SUCCESS) first = rc;
        if (rc != ERROR_SUCCESS && reg) break;
    }
    return first == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(first);
}

platform::rgs::Replacements MapOf(const WCHAR* const* replacements) {
    platform::rgs::Replacements map;
    for (const WCHAR* const* p = replacements; p && p[0]; p += 2) map[p[0]] = p[1] ? p[1] : u"";
    return map;
}

// Resource text: UTF-16LE after its byte-order mark, else UTF-8.
std::u16string DecodeScript(std::string_view bytes) {
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
        static_cast<unsigned char>(bytes[1]) == 0xFE) {
        std::u16string text((bytes.size() - 2) / 2, u'\0');
        std::memcpy(text.data(), bytes.data() + 2, text.size() * 2);
        return text;
    }
    if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
    return platform::FromUtf8(bytes);
}

}  // namespace

WINBASEAPI HRESULT STDMETHODCALLTYPE PresselRunRegistrationScript(const WCHAR* script, BOOL reg,
                                                                  const WCHAR* const* replacements) {
    if (!script) return E_INVALIDARG;
    return Run(script, reg, MapOf(replacements));
}

WINBASEAPI HRESULT STDMETHODCALLTYPE PresselUpdateRegistryFromResource(HMODULE module, UINT resourceId, BOOL reg,
                                                                       const WCHAR* const* replacements) {
    std::string path = platform::rsrc::ModulePath(module);
    if (path.empty()) return HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND);
    std::string_view bytes;
    platform::rsrc::ResourceId type{0, "REGISTRY"}, name{resourceId, {}};
    LONG rc = platform::rsrc::FindInFile(path, type, name, &bytes);
    if (rc != ERROR_SUCCESS) return HRESULT_FROM_WIN32(rc);
    platform::rgs::Replacements map = MapOf(replacements);
    bool named = false;
    for (const auto& entry : map) {
        std::u16string upper = entry.first;
        for (char16_t& c : upper)
            if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - 32);
        named = named || upper == u"MODULE";
    }
    if (!named) map[u"MODULE"] = platform::FromUtf8(path);
    return Run(DecodeScript(bytes), reg, map);
}
