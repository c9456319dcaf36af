// Plain words for what the control reports through NotifyMessage, shared by
// the programs that print as its automation clients.
#pragma once

#include "win/types.h"

namespace pressel_tool {

// The printer conditions of read-write serial ports and of the KTSB link
// (NotifyMessage 1080 with the code); null for codes without a name.
const char* ConditionText(LONG lCode);

// A failure pair (MsgType 1) in words: "the printer's port could not be
// opened", ...; a general text for pairs without one of their own.
const char* FailureText(LONG lType, LONG lError);

}  // namespace pressel_tool
