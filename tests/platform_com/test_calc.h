// The test COM server's class and its dual interface (server in
// com_server.cpp, type library in calc.tlb.txt).
#pragma once

#include "win/ole.h"

inline constexpr CLSID CLSID_TestCalc = {0x3A7D0C11, 0x52E4, 0x4F0B, {0x8C, 0x21, 0x6E, 0x90, 0x14, 0xA2, 0x7B, 0x01}};
inline constexpr IID IID_ITestCalc = {0x3A7D0C12, 0x52E4, 0x4F0B, {0x8C, 0x21, 0x6E, 0x90, 0x14, 0xA2, 0x7B, 0x01}};
inline constexpr IID DIID_ITestCalcEvents = {0x3A7D0C13, 0x52E4, 0x4F0B,
                                            {0x8C, 0x21, 0x6E, 0x90, 0x14, 0xA2, 0x7B, 0x01}};
inline constexpr GUID LIBID_TestCalcLib = {0x3A7D0C10, 0x52E4, 0x4F0B,
                                           {0x8C, 0x21, 0x6E, 0x90, 0x14, 0xA2, 0x7B, 0x01}};
inline constexpr HRESULT kCalcFailure = (HRESULT)0x80040D42L;

interface ITestCalc : public IDispatch {
    STDMETHOD(Add)(LONG a, LONG b, LONG* pResult) PURE;                         // 1
    STDMETHOD(Concat)(BSTR a, BSTR b, BSTR* pResult) PURE;                      // 2
    STDMETHOD(get_Value)(LONG* pVal) PURE;                                      // 3
    STDMETHOD(put_Value)(LONG newVal) PURE;                                     // 3
    STDMETHOD(Fail)(LONG code) PURE;                                            // 4: sets an error object
    STDMETHOD(Swap)(LONG* a, LONG* b) PURE;                                     // 5: in/out
    STDMETHOD(Describe)(LONG n, BSTR s, VARIANT_BOOL f, SHORT h, BSTR* pOut) PURE;  // 6
    STDMETHOD(Mean)(double x) PURE;                                             // 7: R8, refused by Invoke
    STDMETHOD(Sum8)(LONG a1, LONG a2, LONG a3, LONG a4, LONG a5, LONG a6, LONG a7, LONG a8,
                    LONG* pSum) PURE;                                           // 8
    STDMETHOD(Touch)() PURE;                                                    // 9: counts calls
};
