// Rectangle and DrawTextW serve the control's design-time drawing, which is
// built later; until then they fail openly rather than pretend to draw.
#include "win/base.h"
#include "win/gdi.h"

WINBASEAPI BOOL WINAPI Rectangle(HDC, int, int, int, int) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return FALSE;
}

WINBASEAPI int WINAPI DrawTextW(HDC, LPCWSTR, int, LPRECT, UINT) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return 0;
}
