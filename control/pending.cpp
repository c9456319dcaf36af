// Members of IPressel whose behaviour is built by later work on the control.
// Until then each says so openly with E_NOTIMPL; remove a member from here
// when its real implementation lands.
#include "control/Pressel.h"

