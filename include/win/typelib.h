// Type libraries and dispatch through them: ITypeLib, ITypeInfo and their
// structures with the Windows x64 layouts, loading and registration, and the
// DispInvoke/DispGetIDsOfNames helpers.
//
// A library's type library is its resource "TYPELIB" 1, in the text form of
// platform/com/typelib.md. Dual interfaces are described by one type info of
// kind TKIND_INTERFACE with TYPEFLAG_FDUAL, whose functions carry their
// virtual-table offsets; ITypeInfo::Invoke on it calls the virtual table.
#pragma once

#include "win/ole.h"

typedef DWORD HREFTYPE;
typedef struct tagTYPEDESC TYPEDESC;
typedef struct tagARRAYDESC ARRAYDESC;
typedef struct tagPARAMDESCEX PARAMDESCEX, *LPPARAMDESCEX;
interface ITypeComp;
interface ITypeLib;

#define MEMBERID_NIL DISPID_UNKNOWN

typedef enum tagTYPEKIND {
    TKIND_ENUM = 0,
    TKIND_RECORD,
    TKIND_MODULE,
    TKIND_INTERFACE,
    TKIND_DISPATCH,
    TKIND_COCLASS,
    TKIND_ALIAS,
    TKIND_UNION,
    TKIND_MAX
} TYPEKIND;

typedef enum tagFUNCKIND {
    FUNC_VIRTUAL = 0,
    FUNC_PUREVIRTUAL,
    FUNC_NONVIRTUAL,
    FUNC_STATIC,
    FUNC_DISPATCH
} FUNCKIND;

typedef enum tagINVOKEKIND {
    INVOKE_FUNC = 1,
    INVOKE_PROPERTYGET = 2,
    INVOKE_PROPERTYPUT = 4,
    INVOKE_PROPERTYPUTREF = 8
} INVOKEKIND;

typedef enum tagCALLCONV {
    CC_FASTCALL = 0,
    CC_CDECL = 1,
    CC_MSCPASCAL,
    CC_PASCAL = CC_MSCPASCAL,
    CC_MACPASCAL,
    CC_STDCALL,
    CC_FPFASTCALL,
    CC_SYSCALL,
    CC_MPWCDECL,
    CC_MPWPASCAL,
    CC_MAX
} CALLCONV;

typedef enum tagSYSKIND { SYS_WIN16 = 0, SYS_WIN32, SYS_MAC, SYS_WIN64 } SYSKIND;

typedef enum tagVARKIND { VAR_PERINSTANCE = 0, VAR_STATIC, VAR_CONST, VAR_DISPATCH } VARKIND;

typedef enum tagREGKIND { REGKIND_DEFAULT = 0, REGKIND_REGISTER, REGKIND_NONE } REGKIND;

struct tagTYPEDESC {
    union {
        struct tagTYPEDESC* lptdesc;
        struct tagARRAYDESC* lpadesc;
        HREFTYPE hreftype;
    };
    VARTYPE vt;
};

typedef struct tagIDLDESC {
    ULONG_PTR dwReserved;
    USHORT wIDLFlags;
} IDLDESC, *LPIDLDESC;

typedef struct tagPARAMDESC {
    LPPARAMDESCEX pparamdescex;
    USHORT wParamFlags;
} PARAMDESC, *LPPARAMDESC;

typedef struct tagELEMDESC {
    TYPEDESC tdesc;
    union {
        IDLDESC idldesc;
        PARAMDESC paramdesc;
    };
} ELEMDESC, *LPELEMDESC;

typedef struct tagFUNCDESC {
    MEMBERID memid;
    SCODE* lprgscode;
    ELEMDESC* lprgelemdescParam;
    FUNCKIND funckind;
    INVOKEKIND invkind;
    CALLCONV callconv;
    SHORT cParams;
    SHORT cParamsOpt;
    SHORT oVft;
    SHORT cScodes;
    ELEMDESC elemdescFunc;
    WORD wFuncFlags;
} FUNCDESC, *LPFUNCDESC;

typedef struct tagVARDESC {
    MEMBERID memid;
    LPOLESTR lpstrSchema;
    union {
        ULONG oInst;
        VARIANT* lpvarValue;
    };
    ELEMDESC elemdescVar;
    WORD wVarFlags;
    VARKIND varkind;
} VARDESC, *LPVARDESC;

typedef struct tagTYPEATTR {
    GUID guid;
    LCID lcid;
    DWORD dwReserved;
    MEMBERID memidConstructor;
    MEMBERID memidDestructor;
    LPOLESTR lpstrSchema;
    ULONG cbSizeInstance;
    TYPEKIND typekind;
    WORD cFuncs;
    WORD cVars;
    WORD cImplTypes;
    WORD cbSizeVft;
    WORD cbAlignment;
    WORD wTypeFlags;
    WORD wMajorVerNum;
    WORD wMinorVerNum;
    TYPEDESC tdescAlias;
    IDLDESC idldescType;
} TYPEATTR, *LPTYPEATTR;

typedef struct tagTLIBATTR {
    GUID guid;
    LCID lcid;
    SYSKIND syskind;
    WORD wMajorVerNum;
    WORD wMinorVerNum;
    WORD wLibFlags;
} TLIBATTR, *LPTLIBATTR;

static_assert(sizeof(TYPEDESC) == 16 && offsetof(TYPEDESC, vt) == 8, "TYPEDESC x64 layout");
static_assert(sizeof(ELEMDESC) == 32 && offsetof(ELEMDESC, paramdesc.wParamFlags) == 24, "ELEMDESC x64 layout");
static_assert(sizeof(FUNCDESC) == 88 && offsetof(FUNCDESC, lprgelemdescParam) == 16 &&
                  offsetof(FUNCDESC, funckind) == 24 && offsetof(FUNCDESC, cParams) == 36 &&
                  offsetof(FUNCDESC, oVft) == 40 && offsetof(FUNCDESC, elemdescFunc) == 48 &&
                  offsetof(FUNCDESC, wFuncFlags) == 80,
              "FUNCDESC x64 layout");
static_assert(sizeof(TYPEATTR) == 96 && offsetof(TYPEATTR, lpstrSchema) == 32 && offsetof(TYPEATTR, typekind) == 44 &&
                  offsetof(TYPEATTR, cFuncs) == 48 && offsetof(TYPEATTR, wTypeFlags) == 58 &&
                  offsetof(TYPEATTR, tdescAlias) == 64 && offsetof(TYPEATTR, idldescType) == 80,
              "TYPEATTR x64 layout");
static_assert(sizeof(TLIBATTR) == 32 && offsetof(TLIBATTR, syskind) == 20 && offsetof(TLIBATTR, wLibFlags) == 28,
              "TLIBATTR x64 layout");

// Flags.
#define PARAMFLAG_NONE 0x00
#define PARAMFLAG_FIN 0x01
#define PARAMFLAG_FOUT 0x02
#define PARAMFLAG_FLCID 0x04
#define PARAMFLAG_FRETVAL 0x08
#define PARAMFLAG_FOPT 0x10
#define PARAMFLAG_FHASDEFAULT 0x20

#define TYPEFLAG_FAPPOBJECT 0x0001
#define TYPEFLAG_FCANCREATE 0x0002
#define TYPEFLAG_FLICENSED 0x0004
#define TYPEFLAG_FPREDECLID 0x0008
#define TYPEFLAG_FHIDDEN 0x0010
#define TYPEFLAG_FCONTROL 0x0020
#define TYPEFLAG_FDUAL 0x0040
#define TYPEFLAG_FNONEXTENSIBLE 0x0080
#define TYPEFLAG_FOLEAUTOMATION 0x0100
#define TYPEFLAG_FRESTRICTED 0x0200
#define TYPEFLAG_FAGGREGATABLE 0x0400
#define TYPEFLAG_FREPLACEABLE 0x0800
#define TYPEFLAG_FDISPATCHABLE 0x1000

#define IMPLTYPEFLAG_FDEFAULT 0x1
#define IMPLTYPEFLAG_FSOURCE 0x2
#define IMPLTYPEFLAG_FRESTRICTED 0x4
#define IMPLTYPEFLAG_FDEFAULTVTABLE 0x8

#define FUNCFLAG_FRESTRICTED 0x0001
#define FUNCFLAG_FSOURCE 0x0002
#define FUNCFLAG_FBINDABLE 0x0004
#define FUNCFLAG_FHIDDEN 0x0040

#define LIBFLAG_FRESTRICTED 0x1
#define LIBFLAG_FCONTROL 0x2
#define LIBFLAG_FHIDDEN 0x4
#define LIBFLAG_FHASDISKIMAGE 0x8

// HRESULTs of the type-library facility.
#define TYPE_E_BUFFERTOOSMALL ((HRESULT)0x80028016L)
#define TYPE_E_INVDATAREAD ((HRESULT)0x80028018L)
#define TYPE_E_UNSUPFORMAT ((HRESULT)0x80028019L)
#define TYPE_E_REGISTRYACCESS ((HRESULT)0x8002801CL)
#define TYPE_E_LIBNOTREGISTERED ((HRESULT)0x8002801DL)
#define TYPE_E_UNDEFINEDTYPE ((HRESULT)0x80028027L)
#define TYPE_E_INVALIDSTATE ((HRESULT)0x80028029L)
#define TYPE_E_WRONGTYPEKIND ((HRESULT)0x8002802AL)
#define TYPE_E_ELEMENTNOTFOUND ((HRESULT)0x8002802BL)
#define TYPE_E_CANTLOADLIBRARY ((HRESULT)0x80029C4AL)

interface ITypeInfo : public IUnknown {
    STDMETHOD(GetTypeAttr)(TYPEATTR** ppTypeAttr) PURE;
    STDMETHOD(GetTypeComp)(ITypeComp** ppTComp) PURE;
    STDMETHOD(GetFuncDesc)(UINT index, FUNCDESC** ppFuncDesc) PURE;
    STDMETHOD(GetVarDesc)(UINT index, VARDESC** ppVarDesc) PURE;
    STDMETHOD(GetNames)(MEMBERID memid, BSTR* rgBstrNames, UINT cMaxNames, UINT* pcNames) PURE;
    STDMETHOD(GetRefTypeOfImplType)(UINT index, HREFTYPE* pRefType) PURE;
    STDMETHOD(GetImplTypeFlags)(UINT index, INT* pImplTypeFlags) PURE;
    STDMETHOD(GetIDsOfNames)(LPOLESTR* rgszNames, UINT cNames, MEMBERID* pMemId) PURE;
    STDMETHOD(Invoke)(PVOID pvInstance, MEMBERID memid, WORD wFlags, DISPPARAMS* pDispParams, VARIANT* pVarResult,
                      EXCEPINFO* pExcepInfo, UINT* puArgErr) PURE;
    STDMETHOD(GetDocumentation)(MEMBERID memid, BSTR* pBstrName, BSTR* pBstrDocString, DWORD* pdwHelpContext,
                                BSTR* pBstrHelpFile) PURE;
    STDMETHOD(GetDllEntry)(MEMBERID memid, INVOKEKIND invKind, BSTR* pBstrDllName, BSTR* pBstrName,
                           WORD* pwOrdinal) PURE;
    STDMETHOD(GetRefTypeInfo)(HREFTYPE hRefType, ITypeInfo** ppTInfo) PURE;
    STDMETHOD(AddressOfMember)(MEMBERID memid, INVOKEKIND invKind, PVOID* ppv) PURE;
    STDMETHOD(CreateInstance)(IUnknown* pUnkOuter, REFIID riid, PVOID* ppvObj) PURE;
    STDMETHOD(GetMops)(MEMBERID memid, BSTR* pBstrMops) PURE;
    STDMETHOD(GetContainingTypeLib)(ITypeLib** ppTLib, UINT* pIndex) PURE;
    STDMETHOD_(void, ReleaseTypeAttr)(TYPEATTR* pTypeAttr) PURE;
    STDMETHOD_(void, ReleaseFuncDesc)(FUNCDESC* pFuncDesc) PURE;
    STDMETHOD_(void, ReleaseVarDesc)(VARDESC* pVarDesc) PURE;
};
typedef ITypeInfo* LPTYPEINFO;

interface ITypeLib : public IUnknown {
    STDMETHOD_(UINT, GetTypeInfoCount)() PURE;
    STDMETHOD(GetTypeInfo)(UINT index, ITypeInfo** ppTInfo) PURE;
    STDMETHOD(GetTypeInfoType)(UINT index, TYPEKIND* pTKind) PURE;
    STDMETHOD(GetTypeInfoOfGuid)(REFGUID guid, ITypeInfo** ppTinfo) PURE;
    STDMETHOD(GetLibAttr)(TLIBATTR** ppTLibAttr) PURE;
    STDMETHOD(GetTypeComp)(ITypeComp** ppTComp) PURE;
    STDMETHOD(GetDocumentation)(INT index, BSTR* pBstrName, BSTR* pBstrDocString, DWORD* pdwHelpContext,
                                BSTR* pBstrHelpFile) PURE;
    STDMETHOD(IsName)(LPOLESTR szNameBuf, ULONG lHashVal, BOOL* pfName) PURE;
    STDMETHOD(FindName)(LPOLESTR szNameBuf, ULONG lHashVal, ITypeInfo** ppTInfo, MEMBERID* rgMemId,
                        USHORT* pcFound) PURE;
    STDMETHOD_(void, ReleaseTLibAttr)(TLIBATTR* pTLibAttr) PURE;
};
typedef ITypeLib* LPTYPELIB;

// szFile: a library carrying resource "TYPELIB" 1, or a type-library text
// file; a bare module name is looked for as LoadLibraryW looks for it.
// TYPE_E_CANTLOADLIBRARY when there is none, TYPE_E_INVDATAREAD for
// malformed text (with "line N: ..." in the thread's error object).
WINOLEAPI LoadTypeLib(LPCOLESTR szFile, ITypeLib** pptlib);
WINOLEAPI LoadTypeLibEx(LPCOLESTR szFile, REGKIND regkind, ITypeLib** pptlib);
// Writes HKEY_CLASSES_ROOT\TypeLib\{libid}\<major>.<minor> (versions in hex)
// with the help string, <lcid in hex>\win32 = szFullPath, FLAGS and HELPDIR
// (szHelpDir, else the directory of szFullPath), and Interface\{iid} entries
// for dispatch and dual/automation interfaces.
WINOLEAPI RegisterTypeLib(ITypeLib* ptlib, LPCOLESTR szFullPath, LPCOLESTR szHelpDir);
WINOLEAPI UnRegisterTypeLib(REFGUID libID, WORD wVerMajor, WORD wVerMinor, LCID lcid, SYSKIND syskind);
// The same major version with the highest minor version at least wVerMinor.
// The locale is looked for as given, then its primary language, then 0, then
// any locale registered for that version.
WINOLEAPI LoadRegTypeLib(REFGUID rguid, WORD wVerMajor, WORD wVerMinor, LCID lcid, ITypeLib** pptlib);
WINOLEAPI QueryPathOfRegTypeLib(REFGUID guid, USHORT wMaj, USHORT wMin, LCID lcid, BSTR* lpbstrPathName);

// An object's IDispatch forwards here with its type info.
WINOLEAPI DispGetIDsOfNames(ITypeInfo* ptinfo, LPOLESTR* rgszNames, UINT cNames, DISPID* rgdispid);
WINOLEAPI DispInvoke(void* _this, ITypeInfo* ptinfo, DISPID dispidMember, WORD wFlags, DISPPARAMS* pparams,
                     VARIANT* pvarResult, EXCEPINFO* pexcepinfo, UINT* puArgErr);
