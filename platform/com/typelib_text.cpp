// The text form of type libraries (typelib.md): one statement a line.
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <sstream>

#include "com/typelib_model.h"
#include "core/utf.h"

namespace platform::typelib {

bool SameName(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char16_t x = a[i], y = b[i];
        if (x >= u'a' && x <= u'z') x = static_cast<char16_t>(x - 32);
        if (y >= u'a' && y <= u'z') y = static_cast<char16_t>(y - 32);
        if (x != y) return false;
    }
    return true;
}

const Library& BuiltinLibrary() {
    static const Library* library = [] {
        auto* lib = new Library;
        lib->name = u"stdole";
        lib->guid = {0x00020430, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
        lib->major = 2;
        Type unknown;
        unknown.name = u"IUnknown";
        unknown.guid = IID_IUnknown;
        unknown.flags = TYPEFLAG_FHIDDEN;
        unknown.base = 0;
        Type dispatch;
        dispatch.name = u"IDispatch";
        dispatch.guid = IID_IDispatch;
        dispatch.baseSlots = 3;
        lib->types = {unknown, dispatch};
        return lib;
    }();
    return *library;
}

namespace {

constexpr size_t kMaxTypes = 1024, kMaxFuncs = 1024, kMaxParams = 32;

struct Token {
    enum Kind { Word, Text, Punct } kind;
    std::string text;
};

// Splits a line into words, quoted texts and the punctuation ( ) [ ] , : *.
bool Tokenize(const std::string& line, std::vector<Token>* tokens, std::string* what) {
    size_t i = 0;
    while (i < line.size()) {
        char c = line[i];
        if (c == ' ' || c == '\t' || c == '\r') {
            ++i;
        } else if (c == '#') {
            break;
        } else if (c == '"') {
            std::string text;
            ++i;
            for (;;) {
                if (i >= line.size()) {
                    *what = "unterminated text";
                    return false;
                }
                char q = line[i++];
                if (q == '"') break;
                if (q == '\\') {
                    if (i >= line.size()) {
                        *what = "unterminated text";
                        return false;
                    }
                    q = line[i++];
                    if (q == 'n') q = '\n';
                    else if (q == 't') q = '\t';
                }
                text += q;
            }
            tokens->push_back({Token::Text, text});
        } else if (std::strchr("()[],:*", c)) {
            tokens->push_back({Token::Punct, std::string(1, c)});
            ++i;
        } else {
            size_t start = i;
            while (i < line.size() && !std::strchr(" \t\r#\"()[],:*", line[i])) ++i;
            tokens->push_back({Token::Word, line.substr(start, i - start)});
        }
    }
    return true;
}

bool ParseGuid(const std::string& text, GUID* guid) {
    std::u16string wide = FromUtf8(text);
    return text.size() == 38 && SUCCEEDED(CLSIDFromString(wide.c_str(), guid));
}

bool ParseLong(const std::string& text, long long lo, long long hi, long long* out) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    long long v = std::strtoll(text.c_str(), &end, 0);
    if (*end || errno || v < lo || v > hi) return false;
    *out = v;
    return true;
}

bool BaseType(const std::string& name, VARTYPE* vt) {
    static const std::map<std::string, VARTYPE> table = {
        {"I1", VT_I1},       {"I2", VT_I2},          {"I4", VT_I4},       {"I8", VT_I8},
        {"UI1", VT_UI1},     {"UI2", VT_UI2},        {"UI4", VT_UI4},     {"UI8", VT_UI8},
        {"INT", VT_INT},     {"UINT", VT_UINT},      {"R4", VT_R4},       {"R8", VT_R8},
        {"CY", VT_CY},       {"DATE", VT_DATE},      {"BSTR", VT_BSTR},   {"BOOL", VT_BOOL},
        {"VARIANT", VT_VARIANT}, {"DISPATCH", VT_DISPATCH}, {"UNKNOWN", VT_UNKNOWN}, {"ERROR", VT_ERROR},
        {"HRESULT", VT_HRESULT}, {"VOID", VT_VOID},  {"DECIMAL", VT_DECIMAL},
    };
    std::string upper = name;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    auto it = table.find(upper);
    if (it == table.end()) return false;
    *vt = it->second;
    return true;
}

class Reader {
public:
    explicit Reader(::platform::typelib::Library* lib, std::string* error) : lib_(lib), error_(error) {}

    bool Line(int number, const std::string& line) {
        line_ = number;
        std::vector<Token> t;
        std::string what;
        if (!Tokenize(line, &t, &what)) return Fail(what);
        if (t.empty()) return true;
        if (t[0].kind != Token::Word) return Fail("a statement starts with a keyword");
        const std::string& word = t[0].text;
        if (word == "library") return LibraryStart(t);
        if (!haveLibrary_) return Fail("'library' must come first");
        if (word == "interface" || word == "dispinterface" || word == "coclass") return TypeStart(t);
        if (word == "uuid") return Uuid(t);
        if (word == "version") return Version(t);
        if (word == "lcid") return Lcid(t);
        if (word == "helpstring") return Help(t);
        if (word == "helpcontext") return HelpContext(t);
        if (word == "flags") return Flags(t);
        if (word == "method" || word == "propget" || word == "propput" || word == "propputref") return Member(t);
        if (word == "implements") return Implements(t);
        return Fail("unknown keyword '" + word + "'");
    }

    bool Finish() {
        line_ = 0;
        if (!haveLibrary_) return Fail("no 'library' statement");
        if (!libGuid_) return Fail("the library has no uuid");
        for (size_t i = 0; i < lib_->types.size(); ++i) {
            Type& type = lib_->types[i];
            if (!typeGuid_[i]) return Fail("type " + ToUtf8(type.name) + " has no uuid");
            for (Impl& impl : type.impls) {
                int index = Find(impl.name);
                if (index < 0) return Fail("implemented type " + ToUtf8(impl.name) + " is not described");
                TYPEKIND kind = lib_->types[index].kind;
                if (kind != TKIND_INTERFACE && kind != TKIND_DISPATCH)
                    return Fail(ToUtf8(impl.name) + " is not an interface");
                impl.ref = static_cast<HREFTYPE>(index);
            }
            for (Func& func : type.funcs)
                for (Param& param : func.params)
                    if (param.type.vt == VT_USERDEFINED) {
                        int index = Find(pendingNames_[param.type.ref]);
                        if (index < 0) {
                            line_ = func.line;
                            return Fail("unknown type " + ToUtf8(pendingNames_[param.type.ref]));
                        }
                        param.type.ref = static_cast<HREFTYPE>(index);
                    }
        }
        return true;
    }

private:
    enum class Item { Library, Type, Member };

    bool LibraryStart(const std::vector<Token>& t) {
        if (haveLibrary_) return Fail("a second 'library'");
        if (t.size() != 2 || t[1].kind != Token::Word) return Fail("library NAME expected");
        haveLibrary_ = true;
        lib_->name = FromUtf8(t[1].text);
        lib_->lcid = 0;
        item_ = Item::Library;
        return true;
    }

    bool TypeStart(const std::vector<Token>& t) {
        if (t.size() < 2 || t[1].kind != Token::Word) return Fail(t[0].text + " NAME expected");
        if (lib_->types.size() >= kMaxTypes) return Fail("too many types");
        if (Find(FromUtf8(t[1].text)) >= 0) return Fail("type " + t[1].text + " described twice");
        Type type;
        type.name = FromUtf8(t[1].text);
        if (t[0].text == "coclass") {
            type.kind = TKIND_COCLASS;
            if (t.size() != 2) return Fail("coclass NAME expected");
        } else if (t[0].text == "dispinterface") {
            type.kind = TKIND_DISPATCH;
            type.base = kRefIDispatch;
            type.baseSlots = 7;
            type.flags = TYPEFLAG_FDISPATCHABLE;
            if (t.size() != 2) return Fail("dispinterface NAME expected");
        } else {
            type.kind = TKIND_INTERFACE;
            std::string base = "IUnknown";
            if (t.size() == 4 && t[2].text == ":" && t[3].kind == Token::Word) {
                base = t[3].text;
            } else if (t.size() != 2) {
                return Fail("interface NAME [: IUnknown|IDispatch] expected");
            }
            if (base == "IDispatch") {
                type.base = kRefIDispatch;
                type.baseSlots = 7;
                type.flags = TYPEFLAG_FDISPATCHABLE;
            } else if (base == "IUnknown") {
                type.base = kRefIUnknown;
                type.baseSlots = 3;
            } else {
                return Fail("interfaces derive from IUnknown or IDispatch, not " + base);
            }
        }
        lib_->types.push_back(std::move(type));
        typeGuid_.push_back(false);
        item_ = Item::Type;
        return true;
    }

    bool Uuid(const std::vector<Token>& t) {
        GUID guid;
        if (t.size() != 2 || !ParseGuid(t[1].text, &guid)) return Fail("uuid {GUID} expected");
        if (item_ == Item::Library) {
            lib_->guid = guid;
            libGuid_ = true;
        } else if (item_ == Item::Type) {
            lib_->types.back().guid = guid;
            typeGuid_.back() = true;
        } else {
            return Fail("members have no uuid");
        }
        return true;
    }

    bool Version(const std::vector<Token>& t) {
        if (item_ != Item::Library) return Fail("only the library has a version");
        unsigned major = 0, minor = 0;
        char tail = 0;
        if (t.size() != 2 || std::sscanf(t[1].text.c_str(), "%u.%u%c", &major, &minor, &tail) != 2 || major > 0xFFFF ||
            minor > 0xFFFF)
            return Fail("version MAJOR.MINOR expected");
        lib_->major = static_cast<WORD>(major);
        lib_->minor = static_cast<WORD>(minor);
        return true;
    }

    bool Lcid(const std::vector<Token>& t) {
        long long v;
        if (item_ != Item::Library) return Fail("only the library has a locale");
        if (t.size() != 2 || !ParseLong(t[1].text, 0, 0xFFFFFFFFll, &v)) return Fail("lcid NUMBER expected");
        lib_->lcid = static_cast<LCID>(v);
        return true;
    }

    bool Help(const std::vector<Token>& t) {
        if (t.size() != 2 || t[1].kind != Token::Text) return Fail("helpstring \"TEXT\" expected");
        *CurrentHelp() = FromUtf8(t[1].text);
        return true;
    }

    bool HelpContext(const std::vector<Token>& t) {
        long long v;
        if (t.size() != 2 || !ParseLong(t[1].text, 0, 0xFFFFFFFFll, &v)) return Fail("helpcontext NUMBER expected");
        DWORD context = static_cast<DWORD>(v);
        if (item_ == Item::Library) lib_->helpContext = context;
        else if (item_ == Item::Type) lib_->types.back().helpContext = context;
        else lib_->types.back().funcs.back().helpContext = context;
        return true;
    }

    std::u16string* CurrentHelp() {
        if (item_ == Item::Library) return &lib_->help;
        if (item_ == Item::Type) return &lib_->types.back().help;
        return &lib_->types.back().funcs.back().help;
    }

    bool Flags(const std::vector<Token>& t) {
        static const std::map<std::string, WORD> libFlags = {
            {"restricted", LIBFLAG_FRESTRICTED}, {"control", LIBFLAG_FCONTROL}, {"hidden", LIBFLAG_FHIDDEN}};
        static const std::map<std::string, WORD> typeFlags = {
            {"appobject", TYPEFLAG_FAPPOBJECT},     {"cancreate", TYPEFLAG_FCANCREATE},
            {"licensed", TYPEFLAG_FLICENSED},       {"predeclid", TYPEFLAG_FPREDECLID},
            {"hidden", TYPEFLAG_FHIDDEN},           {"control", TYPEFLAG_FCONTROL},
            {"dual", TYPEFLAG_FDUAL},               {"nonextensible", TYPEFLAG_FNONEXTENSIBLE},
            {"oleautomation", TYPEFLAG_FOLEAUTOMATION}, {"restricted", TYPEFLAG_FRESTRICTED},
            {"aggregatable", TYPEFLAG_FAGGREGATABLE}, {"replaceable", TYPEFLAG_FREPLACEABLE},
            {"dispatchable", TYPEFLAG_FDISPATCHABLE}};
        static const std::map<std::string, WORD> funcFlags = {{"restricted", FUNCFLAG_FRESTRICTED},
                                                              {"source", FUNCFLAG_FSOURCE},
                                                              {"bindable", FUNCFLAG_FBINDABLE},
                                                              {"hidden", FUNCFLAG_FHIDDEN}};
        const auto& table = item_ == Item::Library ? libFlags : item_ == Item::Type ? typeFlags : funcFlags;
        WORD* target = item_ == Item::Library ? &lib_->flags
                       : item_ == Item::Type  ? &lib_->types.back().flags
                                              : &lib_->types.back().funcs.back().flags;
        for (size_t i = 1; i < t.size(); ++i) {
            if (t[i].kind == Token::Punct && t[i].text == ",") continue;
            auto it = table.find(t[i].text);
            if (it == table.end()) return Fail("unknown flag '" + t[i].text + "'");
            *target |= it->second;
        }
        if (item_ == Item::Type && (*target & TYPEFLAG_FDUAL)) {
            Type& type = lib_->types.back();
            if (type.kind != TKIND_INTERFACE || type.base != kRefIDispatch)
                return Fail("only interfaces derived from IDispatch are dual");
            *target |= TYPEFLAG_FOLEAUTOMATION;
        }
        return true;
    }

    bool Member(const std::vector<Token>& t) {
        if (lib_->types.empty() || lib_->types.back().kind == TKIND_COCLASS) return Fail("members belong to interfaces");
        Type& type = lib_->types.back();
        if (type.funcs.size() >= kMaxFuncs) return Fail("too many members");
        Func func;
        func.line = line_;
        const std::string& kind = t[0].text;
        func.kind = kind == "method"    ? INVOKE_FUNC
                    : kind == "propget" ? INVOKE_PROPERTYGET
                    : kind == "propput" ? INVOKE_PROPERTYPUT
                                        : INVOKE_PROPERTYPUTREF;
        long long id;
        if (t.size() < 5 || !ParseLong(t[1].text, INT32_MIN, INT32_MAX, &id) || t[2].kind != Token::Word ||
            t[3].text != "(" || t.back().text != ")")
            return Fail(kind + " DISPID NAME(PARAMETERS) expected");
        func.id = static_cast<MEMBERID>(id);
        func.name = FromUtf8(t[2].text);
        for (const Func& other : type.funcs)
            if (other.id == func.id && other.kind == func.kind) return Fail("member " + t[1].text + " described twice");
        size_t i = 4;
        while (i < t.size() - 1) {
            Param param;
            if (!ParamAt(t, &i, &param)) return false;
            func.params.push_back(std::move(param));
            if (func.params.size() > kMaxParams) return Fail("too many parameters");
            if (t[i].text == ",") {
                ++i;
                if (i == t.size() - 1) return Fail("a parameter expected after ','");
            } else if (i != t.size() - 1) {
                return Fail("',' or ')' expected");
            }
        }
        for (size_t p = 0; p < func.params.size(); ++p) {
            const Param& param = func.params[p];
            if (!(param.flags & PARAMFLAG_FRETVAL)) continue;
            if (p + 1 != func.params.size() || !(param.flags & PARAMFLAG_FOUT) || param.type.pointers == 0)
                return Fail("a retval parameter is the last, an out pointer");
        }
        func.vtableOffset = static_cast<SHORT>((type.baseSlots + type.funcs.size()) * sizeof(void*));
        type.funcs.push_back(std::move(func));
        item_ = Item::Member;
        return true;
    }

    // [flags] TYPE[*...] [name]
    bool ParamAt(const std::vector<Token>& t, size_t* i, Param* param) {
        size_t end = t.size() - 1;
        if (t[*i].text == "[") {
            ++*i;
            for (;;) {
                if (*i >= end) return Fail("']' missing");
                const std::string& flag = t[*i].text;
                if (flag == "]") break;
                if (flag == "in") param->flags |= PARAMFLAG_FIN;
                else if (flag == "out") param->flags |= PARAMFLAG_FOUT;
                else if (flag == "retval") param->flags |= PARAMFLAG_FRETVAL;
                else if (flag == "lcid") param->flags |= PARAMFLAG_FLCID;
                else if (flag == "optional") param->flags |= PARAMFLAG_FOPT;
                else if (flag != ",") return Fail("unknown parameter flag '" + flag + "'");
                ++*i;
            }
            ++*i;
        }
        if (*i >= end || t[*i].kind != Token::Word) return Fail("a parameter type expected");
        const std::string& typeName = t[*i].text;
        if (!BaseType(typeName, &param->type.vt)) {
            param->type.vt = VT_USERDEFINED;
            param->type.ref = static_cast<HREFTYPE>(pendingNames_.size());
            pendingNames_.push_back(FromUtf8(typeName));
        }
        ++*i;
        while (*i < end && t[*i].text == "*") {
            ++param->type.pointers;
            ++*i;
        }
        if (param->type.pointers > 2) return Fail("at most two levels of pointers");
        if ((param->type.vt == VT_VOID || param->type.vt == VT_HRESULT) && param->type.pointers == 0)
            return Fail("a parameter cannot be " + typeName);
        if (*i < end && t[*i].kind == Token::Word) param->name = FromUtf8(t[(*i)++].text);
        return true;
    }

    bool Implements(const std::vector<Token>& t) {
        if (lib_->types.empty() || lib_->types.back().kind != TKIND_COCLASS)
            return Fail("only coclasses implement interfaces");
        if (t.size() < 2 || t[1].kind != Token::Word) return Fail("implements NAME [FLAGS] expected");
        Impl impl;
        impl.name = FromUtf8(t[1].text);
        for (size_t i = 2; i < t.size(); ++i) {
            const std::string& flag = t[i].text;
            if (flag == "default") impl.flags |= IMPLTYPEFLAG_FDEFAULT;
            else if (flag == "source") impl.flags |= IMPLTYPEFLAG_FSOURCE;
            else if (flag == "restricted") impl.flags |= IMPLTYPEFLAG_FRESTRICTED;
            else if (flag == "defaultvtable") impl.flags |= IMPLTYPEFLAG_FDEFAULTVTABLE;
            else if (flag != ",") return Fail("unknown implementation flag '" + flag + "'");
        }
        lib_->types.back().impls.push_back(std::move(impl));
        return true;
    }

    int Find(const std::u16string& name) const {
        for (size_t i = 0; i < lib_->types.size(); ++i)
            if (lib_->types[i].name == name) return static_cast<int>(i);
        return -1;
    }

    bool Fail(const std::string& what) {
        *error_ = line_ ? "line " + std::to_string(line_) + ": " + what : what;
        return false;
    }

    ::platform::typelib::Library* lib_;
    std::string* error_;
    int line_ = 0;
    bool haveLibrary_ = false, libGuid_ = false;
    std::vector<bool> typeGuid_;
    std::vector<std::u16string> pendingNames_;
    Item item_ = Item::Library;
};

}  // namespace

bool Parse(std::string_view text, Library* library, std::string* error) {
    *library = Library{};
    if (text.size() >= 3 && text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    if (text.find('\0') != std::string_view::npos) {
        *error = "not a type-library text";
        return false;
    }
    Reader reader(library, error);
    std::istringstream in{std::string(text)};
    std::string line;
    int number = 0;
    while (std::getline(in, line))
        if (!reader.Line(++number, line)) return false;
    return reader.Finish();
}

}  // namespace platform::typelib
