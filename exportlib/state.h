// Private to the export library: its process-wide state, released when the
// library is unloaded (lifetime.cpp) and never when a thread ends.
#pragma once

namespace ondrel {

// Release the held bitmap and the IrDA connection.
void ReleaseBitmap();
void ReleaseInfrared();

}  // namespace ondrel
