// Private to the platform layer: a type library as read from its text form
// (typelib.md), and the invocation of its functions.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "win/typelib.h"

namespace platform::typelib {

inline constexpr HREFTYPE kRefIUnknown = 0x7FFF0000;
inline constexpr HREFTYPE kRefIDispatch = 0x7FFF0001;

struct TypeSpec {
    VARTYPE vt = VT_EMPTY;  // VT_USERDEFINED: ref names a type of the library
    HREFTYPE ref = 0;
    int pointers = 0;
};

struct Param {
    std::u16string name;  // may be empty
    TypeSpec type;
    USHORT flags = 0;
};

struct Func {
    MEMBERID id = 0;
    INVOKEKIND kind = INVOKE_FUNC;
    std::u16string name;
    std::vector<Param> params;
    std::u16string help;
    DWORD helpContext = 0;
    WORD flags = 0;
    SHORT vtableOffset = 0;
    int line = 0;

    bool HasRetval() const { return !params.empty() && (params.back().flags & PARAMFLAG_FRETVAL); }
};

struct Impl {
    std::u16string name;
    HREFTYPE ref = 0;
    INT flags = 0;
};

struct Type {
    TYPEKIND kind = TKIND_INTERFACE;
    std::u16string name;
    GUID guid{};
    WORD flags = 0;
    std::u16string help;
    DWORD helpContext = 0;
    HREFTYPE base = kRefIUnknown;  // interfaces and dispinterfaces
    std::vector<Func> funcs;
    std::vector<Impl> impls;  // coclasses
    WORD baseSlots = 0;       // virtual-table entries before the first function
};

struct Library {
    std::u16string name;
    GUID guid{};
    WORD major = 0, minor = 0;
    LCID lcid = 0;
    std::u16string help;
    DWORD helpContext = 0;
    WORD flags = 0;
    std::vector<Type> types;
};

// false with *error "line N: ..." when the text is malformed.
bool Parse(std::string_view text, Library* library, std::string* error);

// The two interfaces every library refers to without describing them.
const Library& BuiltinLibrary();

// Invokes func of a TKIND_INTERFACE type through the virtual table of
// instance, with Invoke's arguments and results.
HRESULT InvokeVtable(const Func& func, void* instance, WORD wFlags, DISPPARAMS* params, VARIANT* result,
                     EXCEPINFO* excepInfo, UINT* argErr);

// Case-insensitive comparison of names.
bool SameName(std::u16string_view a, std::u16string_view b);

}  // namespace platform::typelib
