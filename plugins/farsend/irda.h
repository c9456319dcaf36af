// Private to the port library: the "IRDA" channel, an IrLPT connection to
// the printing service of the first IrDA device in range, made over the
// platform layer's IrDA sockets.
#pragma once

namespace farsend {

// How often, and how far apart, the port library looks for a device.
constexpr int kIrdaDiscoveries = 5;
constexpr unsigned kIrdaDiscoveryPauseMs = 100;

// A descriptor of the connected socket that the caller owns (close it), or
// -1 when no device is in range or the connection fails.
int OpenIrdaDescriptor();

}  // namespace farsend
