// OLE Automation part of the platform layer: BSTRs, VARIANTs, IDispatch and
// the per-thread error object. Layouts follow the Windows x64 rules, so that
// clients see exactly the structures they would on the device.
#pragma once

#include "win/ole.h"

typedef OLECHAR* BSTR;
typedef BSTR* LPBSTR;
typedef SHORT VARIANT_BOOL;
typedef WORD VARTYPE;
typedef LONG DISPID;
typedef DISPID MEMBERID;
typedef DWORD LCID;
typedef double DATE;

#define VARIANT_TRUE ((VARIANT_BOOL)-1)
#define VARIANT_FALSE ((VARIANT_BOOL)0)

#define LOCALE_USER_DEFAULT 0x0400u
#define LOCALE_SYSTEM_DEFAULT 0x0800u
#define LOCALE_NEUTRAL 0x0000u

// BSTR: a UTF-16 string whose byte length (a DWORD) sits just before the
// first character and which is always followed by a NUL character.
// A null BSTR counts as the empty string everywhere.
WINBASEAPI BSTR STDMETHODCALLTYPE SysAllocString(const OLECHAR* psz);
WINBASEAPI BSTR STDMETHODCALLTYPE SysAllocStringLen(const OLECHAR* strIn, UINT ui);
WINBASEAPI BSTR STDMETHODCALLTYPE SysAllocStringByteLen(LPCSTR psz, UINT len);
WINBASEAPI INT STDMETHODCALLTYPE SysReAllocString(BSTR* pbstr, const OLECHAR* psz);
// With a null psz the old characters are kept as far as they fit; the rest is zeroed.
WINBASEAPI INT STDMETHODCALLTYPE SysReAllocStringLen(BSTR* pbstr, const OLECHAR* psz, UINT len);
WINBASEAPI void STDMETHODCALLTYPE SysFreeString(BSTR bstrString);
WINBASEAPI UINT STDMETHODCALLTYPE SysStringLen(BSTR pbstr);
WINBASEAPI UINT STDMETHODCALLTYPE SysStringByteLen(BSTR bstr);

// VARIANT types.
enum VARENUM : VARTYPE {
    VT_EMPTY = 0,
    VT_NULL = 1,
    VT_I2 = 2,
    VT_I4 = 3,
    VT_R4 = 4,
    VT_R8 = 5,
    VT_CY = 6,
    VT_DATE = 7,
    VT_BSTR = 8,
    VT_DISPATCH = 9,
    VT_ERROR = 10,
    VT_BOOL = 11,
    VT_VARIANT = 12,
    VT_UNKNOWN = 13,
    VT_DECIMAL = 14,
    VT_I1 = 16,
    VT_UI1 = 17,
    VT_UI2 = 18,
    VT_UI4 = 19,
    VT_I8 = 20,
    VT_UI8 = 21,
    VT_INT = 22,
    VT_UINT = 23,
    VT_VOID = 24,
    VT_HRESULT = 25,
    VT_PTR = 26,
    VT_SAFEARRAY = 27,
    VT_CARRAY = 28,
    VT_USERDEFINED = 29,
    VT_LPSTR = 30,
    VT_LPWSTR = 31,
    VT_RECORD = 36,
    VT_ARRAY = 0x2000,
    VT_BYREF = 0x4000,
    VT_RESERVED = 0x8000,
    VT_TYPEMASK = 0x0FFF,
};

interface IDispatch;
interface IRecordInfo;
interface ITypeInfo;  // built with the type library support
struct tagSAFEARRAY;
typedef struct tagSAFEARRAY SAFEARRAY;

typedef union tagCY {
    struct {
        ULONG Lo;
        LONG Hi;
    };
    LONGLONG int64;
} CY;

typedef struct tagDEC {
    USHORT wReserved;
    BYTE scale;
    BYTE sign;
    ULONG Hi32;
    ULONGLONG Lo64;
} DECIMAL;

typedef struct tagVARIANT VARIANT;
struct tagVARIANT {
    union {
        struct {
            VARTYPE vt;
            WORD wReserved1;
            WORD wReserved2;
            WORD wReserved3;
            union {
                LONGLONG llVal;
                LONG lVal;
                BYTE bVal;
                SHORT iVal;
                float fltVal;
                double dblVal;
                VARIANT_BOOL boolVal;
                SCODE scode;
                CY cyVal;
                DATE date;
                BSTR bstrVal;
                IUnknown* punkVal;
                IDispatch* pdispVal;
                SAFEARRAY* parray;
                BYTE* pbVal;
                SHORT* piVal;
                LONG* plVal;
                LONGLONG* pllVal;
                float* pfltVal;
                double* pdblVal;
                VARIANT_BOOL* pboolVal;
                SCODE* pscode;
                CY* pcyVal;
                DATE* pdate;
                BSTR* pbstrVal;
                IUnknown** ppunkVal;
                IDispatch** ppdispVal;
                SAFEARRAY** pparray;
                VARIANT* pvarVal;
                PVOID byref;
                CHAR cVal;
                USHORT uiVal;
                ULONG ulVal;
                ULONGLONG ullVal;
                INT intVal;
                UINT uintVal;
                DECIMAL* pdecVal;
                CHAR* pcVal;
                USHORT* puiVal;
                ULONG* pulVal;
                ULONGLONG* pullVal;
                INT* pintVal;
                UINT* puintVal;
                struct {
                    PVOID pvRecord;
                    IRecordInfo* pRecInfo;
                };
            };
        };
        DECIMAL decVal;
    };
};
typedef VARIANT VARIANTARG;
typedef VARIANT* LPVARIANT;
typedef VARIANT* LPVARIANTARG;

static_assert(sizeof(VARIANT) == 24 && alignof(VARIANT) == 8, "VARIANT has the Windows x64 size");
static_assert(offsetof(VARIANT, vt) == 0 && offsetof(VARIANT, wReserved1) == 2 && offsetof(VARIANT, lVal) == 8 &&
                  offsetof(VARIANT, pRecInfo) == 16,
              "VARIANT fields at their Windows x64 offsets");

#define V_VT(X) ((X)->vt)
#define V_I4(X) ((X)->lVal)
#define V_BSTR(X) ((X)->bstrVal)
#define V_BOOL(X) ((X)->boolVal)
#define V_DISPATCH(X) ((X)->pdispVal)
#define V_UNKNOWN(X) ((X)->punkVal)
#define V_ERROR(X) ((X)->scode)

// Flags of VariantChangeType.
#define VARIANT_NOVALUEPROP 0x01
#define VARIANT_ALPHABOOL 0x02
#define VARIANT_NOUSEROVERRIDE 0x04
#define VARIANT_LOCALBOOL 0x10

WINBASEAPI void STDMETHODCALLTYPE VariantInit(VARIANTARG* pvarg);
// DISP_E_BADVARTYPE for a type a VARIANT cannot hold (arrays included: this
// layer has no SAFEARRAY support); the VARIANT is then left as it was.
WINOLEAPI VariantClear(VARIANTARG* pvarg);
WINOLEAPI VariantCopy(VARIANTARG* pvargDest, const VARIANTARG* pvargSrc);
// Copies the value a by-reference VARIANT points to; others as VariantCopy.
WINOLEAPI VariantCopyInd(VARIANT* pvarDest, const VARIANTARG* pvargSrc);
// Conversions between the integer types, R4, R8, BOOL, BSTR, EMPTY, NULL,
// ERROR (to itself), UNKNOWN and DISPATCH (through QueryInterface).
// Numbers are written and read in the invariant format ("1.5", "-3",
// "&H1F"); "True"/"False" are read for BOOL and written with
// VARIANT_ALPHABOOL ("-1"/"0" otherwise). Fractions round half to even.
// Conversions involving CY, DATE or DECIMAL answer E_NOTIMPL.
WINOLEAPI VariantChangeType(VARIANTARG* pvargDest, const VARIANTARG* pvarSrc, USHORT wFlags, VARTYPE vt);
WINOLEAPI VariantChangeTypeEx(VARIANTARG* pvargDest, const VARIANTARG* pvarSrc, LCID lcid, USHORT wFlags,
                              VARTYPE vt);

// Dispatch.
typedef struct tagDISPPARAMS {
    VARIANTARG* rgvarg;
    DISPID* rgdispidNamedArgs;
    UINT cArgs;
    UINT cNamedArgs;
} DISPPARAMS;
static_assert(sizeof(DISPPARAMS) == 24 && offsetof(DISPPARAMS, cArgs) == 16, "DISPPARAMS x64 layout");

typedef struct tagEXCEPINFO {
    WORD wCode;
    WORD wReserved;
    BSTR bstrSource;
    BSTR bstrDescription;
    BSTR bstrHelpFile;
    DWORD dwHelpContext;
    PVOID pvReserved;
    HRESULT(STDMETHODCALLTYPE* pfnDeferredFillIn)(struct tagEXCEPINFO*);
    SCODE scode;
} EXCEPINFO, *LPEXCEPINFO;
static_assert(sizeof(EXCEPINFO) == 64 && offsetof(EXCEPINFO, bstrSource) == 8 &&
                  offsetof(EXCEPINFO, dwHelpContext) == 32 && offsetof(EXCEPINFO, scode) == 56,
              "EXCEPINFO x64 layout");

#define DISPATCH_METHOD 0x1
#define DISPATCH_PROPERTYGET 0x2
#define DISPATCH_PROPERTYPUT 0x4
#define DISPATCH_PROPERTYPUTREF 0x8

#define DISPID_UNKNOWN (-1)
#define DISPID_VALUE 0
#define DISPID_PROPERTYPUT (-3)
#define DISPID_NEWENUM (-4)
#define DISPID_EVALUATE (-5)
#define DISPID_CONSTRUCTOR (-6)
#define DISPID_DESTRUCTOR (-7)
#define DISPID_COLLECT (-8)

#define DISP_E_UNKNOWNINTERFACE ((HRESULT)0x80020001L)
#define DISP_E_MEMBERNOTFOUND ((HRESULT)0x80020003L)
#define DISP_E_PARAMNOTFOUND ((HRESULT)0x80020004L)
#define DISP_E_TYPEMISMATCH ((HRESULT)0x80020005L)
#define DISP_E_UNKNOWNNAME ((HRESULT)0x80020006L)
#define DISP_E_NONAMEDARGS ((HRESULT)0x80020007L)
#define DISP_E_BADVARTYPE ((HRESULT)0x80020008L)
#define DISP_E_EXCEPTION ((HRESULT)0x80020009L)
#define DISP_E_OVERFLOW ((HRESULT)0x8002000AL)
#define DISP_E_BADINDEX ((HRESULT)0x8002000BL)
#define DISP_E_UNKNOWNLCID ((HRESULT)0x8002000CL)
#define DISP_E_ARRAYISLOCKED ((HRESULT)0x8002000DL)
#define DISP_E_BADPARAMCOUNT ((HRESULT)0x8002000EL)
#define DISP_E_PARAMNOTOPTIONAL ((HRESULT)0x8002000FL)
#define DISP_E_BADCALLEE ((HRESULT)0x80020010L)
#define DISP_E_NOTACOLLECTION ((HRESULT)0x80020011L)
#define DISP_E_DIVBYZERO ((HRESULT)0x80020012L)

interface IDispatch : public IUnknown {
    STDMETHOD(GetTypeInfoCount)(UINT* pctinfo) PURE;
    STDMETHOD(GetTypeInfo)(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) PURE;
    STDMETHOD(GetIDsOfNames)(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid, DISPID* rgDispId) PURE;
    STDMETHOD(Invoke)(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags, DISPPARAMS* pDispParams,
                      VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) PURE;
};
typedef IDispatch* LPDISPATCH;

// Error objects.
interface IErrorInfo : public IUnknown {
    STDMETHOD(GetGUID)(GUID* pGUID) PURE;
    STDMETHOD(GetSource)(BSTR* pBstrSource) PURE;
    STDMETHOD(GetDescription)(BSTR* pBstrDescription) PURE;
    STDMETHOD(GetHelpFile)(BSTR* pBstrHelpFile) PURE;
    STDMETHOD(GetHelpContext)(DWORD* pdwHelpContext) PURE;
};

interface ICreateErrorInfo : public IUnknown {
    STDMETHOD(SetGUID)(REFGUID rguid) PURE;
    STDMETHOD(SetSource)(LPOLESTR szSource) PURE;
    STDMETHOD(SetDescription)(LPOLESTR szDescription) PURE;
    STDMETHOD(SetHelpFile)(LPOLESTR szHelpFile) PURE;
    STDMETHOD(SetHelpContext)(DWORD dwHelpContext) PURE;
};

interface ISupportErrorInfo : public IUnknown {
    STDMETHOD(InterfaceSupportsErrorInfo)(REFIID riid) PURE;
};

// A new error object answering ICreateErrorInfo and IErrorInfo; the getters
// hand out copies (null for a text never set).
WINOLEAPI CreateErrorInfo(ICreateErrorInfo** pperrinfo);
// The error object of the calling thread: SetErrorInfo replaces it (null
// clears it); GetErrorInfo hands it over and clears it, S_FALSE when none.
WINOLEAPI SetErrorInfo(ULONG dwReserved, IErrorInfo* perrinfo);
WINOLEAPI GetErrorInfo(ULONG dwReserved, IErrorInfo** pperrinfo);

// ---- COM runtime: activation, type libraries and dispatch through them ----
#include "win/objbase.h"
#include "win/typelib.h"
