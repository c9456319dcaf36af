// Fuzz target for the text readers of the COM layer: GUID strings and the
// number and boolean forms VariantChangeType reads from BSTRs.
#include <cstdint>
#include <cstring>

#include "win/ole.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    BSTR text = SysAllocStringByteLen(reinterpret_cast<const char*>(data), static_cast<UINT>(size));
    if (!text) return 0;
    GUID g;
    CLSIDFromString(text, &g);
    VARIANT src;
    src.vt = VT_BSTR;
    src.bstrVal = text;
    const VARTYPE targets[] = {VT_I1, VT_UI1, VT_I2, VT_UI2, VT_I4, VT_UI4, VT_I8, VT_UI8, VT_R4, VT_R8, VT_BOOL};
    for (VARTYPE vt : targets) {
        VARIANT out;
        VariantInit(&out);
        if (SUCCEEDED(VariantChangeType(&out, &src, 0, vt))) {
            VARIANT back;
            VariantInit(&back);
            VariantChangeType(&back, &out, 0, VT_BSTR);
            VariantClear(&back);
        }
        VariantClear(&out);
    }
    SysFreeString(text);
    return 0;
}
