// Members of IPressel whose behaviour is built by later work on the control.
// Until then each says so openly with E_NOTIMPL; remove a member from here
// when its real implementation lands.
#include "control/Pressel.h"

HRESULT CPressel::Cancel() { return E_NOTIMPL; }
HRESULT CPressel::Finish() { return E_NOTIMPL; }
HRESULT CPressel::Bitmap(LONG, LONG, LONG, BSTR) { return E_NOTIMPL; }
HRESULT CPressel::StartLP(BSTR, BSTR, BSTR, LONG, BSTR, LONG*) { return E_NOTIMPL; }
HRESULT CPressel::UserAbort() { return E_NOTIMPL; }
