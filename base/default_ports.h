// The ports the updater uses unless told otherwise, named once for every
// layer, the front ends and the tools.
#pragma once

// The XPort's TCP data port, as the connection fields propose it.
inline constexpr int kDefaultTcpPort = 10001;
// The local UDP port every configuration exchange is sent from.
inline constexpr int kUdpLocalPort = 10001;
// The XPort's UDP configuration port.
inline constexpr int kXportConfigPort = 30718;
