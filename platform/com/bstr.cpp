// BSTRs: the byte length (a DWORD) just before the characters, then the
// characters and always a NUL character after them.
#include <cstdlib>
#include <cstring>

#include "core/hot.h"
#include "win/ole.h"

namespace {

constexpr size_t kPrefix = sizeof(DWORD);
constexpr size_t kTerminator = sizeof(OLECHAR);
// The largest byte length whose block size still fits the DWORD prefix.
constexpr ULONGLONG kMaxBytes = 0xFFFFFFFFull - kPrefix - kTerminator;

DWORD* Header(BSTR bstr) { return reinterpret_cast<DWORD*>(reinterpret_cast<BYTE*>(bstr) - kPrefix); }

// A block for `bytes` bytes of content, zero-filled, with its prefix set;
// null when the size overflows or memory runs out.
BSTR AllocBytes(ULONGLONG bytes) {
    if (bytes > kMaxBytes) return nullptr;
    // Round up so that an odd byte length still has a whole NUL character after it.
    size_t size = kPrefix + static_cast<size_t>(bytes) + kTerminator + 1;
    auto* block = static_cast<BYTE*>(std::calloc(1, size));
    if (!block) return nullptr;
    DWORD length = static_cast<DWORD>(bytes);
    std::memcpy(block, &length, sizeof length);
    return reinterpret_cast<BSTR>(block + kPrefix);
}

size_t Length(const OLECHAR* psz) {
    size_t n = 0;
    while (psz[n]) ++n;
    return n;
}

}  // namespace

BSTR SysAllocStringByteLen(LPCSTR psz, UINT len) {
    BSTR bstr = AllocBytes(len);
    if (bstr && psz) std::memcpy(bstr, psz, len);
    return bstr;
}

BSTR SysAllocStringLen(const OLECHAR* strIn, UINT ui) {
    BSTR bstr = AllocBytes(static_cast<ULONGLONG>(ui) * sizeof(OLECHAR));
    if (bstr && strIn) std::memcpy(bstr, strIn, static_cast<size_t>(ui) * sizeof(OLECHAR));
    return bstr;
}

BSTR SysAllocString(const OLECHAR* psz) {
    if (!psz) return nullptr;
    size_t n = Length(psz);
    if (n > 0xFFFFFFFFu) return nullptr;
    return SysAllocStringLen(psz, static_cast<UINT>(n));
}

INT SysReAllocStringLen(BSTR* pbstr, const OLECHAR* psz, UINT len) {
    if (!pbstr) return FALSE;
    // Allocate before freeing: psz may point into the old string.
    BSTR fresh = SysAllocStringLen(psz, len);
    if (!fresh) return FALSE;
    // No source: the old characters are kept, as far as they fit.
    if (!psz && *pbstr) {
        UINT keep = SysStringLen(*pbstr) < len ? SysStringLen(*pbstr) : len;
        std::memcpy(fresh, *pbstr, static_cast<size_t>(keep) * sizeof(OLECHAR));
    }
    SysFreeString(*pbstr);
    *pbstr = fresh;
    return TRUE;
}

INT SysReAllocString(BSTR* pbstr, const OLECHAR* psz) {
    if (!pbstr) return FALSE;
    size_t n = psz ? Length(psz) : 0;
    if (n > 0xFFFFFFFFu) return FALSE;
    return SysReAllocStringLen(pbstr, psz, static_cast<UINT>(n));
}

void SysFreeString(BSTR bstrString) {
    if (bstrString) std::free(Header(bstrString));
}

PLATFORM_HOT UINT SysStringByteLen(BSTR bstr) { return bstr ? *Header(bstr) : 0; }

// Not through SysStringByteLen: a call between exported functions goes through
// the procedure linkage table, a page of code of its own.
PLATFORM_HOT UINT SysStringLen(BSTR pbstr) { return pbstr ? *Header(pbstr) / sizeof(OLECHAR) : 0; }
