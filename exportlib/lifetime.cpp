// The library's state is process-wide and lives until the library is
// unloaded. (On the device its entry point released it whenever any thread
// of the process ended, which pulled the IrDA connection and a converted
// bitmap from under the threads still using them.)
#include "state.h"

namespace {

__attribute__((destructor)) void ReleaseAtUnload() {
    ondrel::ReleaseBitmap();
    ondrel::ReleaseInfrared();
}

}  // namespace
