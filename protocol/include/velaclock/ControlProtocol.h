#pragma once

#include <filesystem>
#include <optional>
#include <string>

// The control protocol between velaclockctl and velaclockd: one JSON object per line over a Unix
// stream socket, each request answered by one reply line.
//   requests: {"op":"get","path":P}      (P = "agent/<attribute>": the agent's machines, read-only)
//             {"op":"set","path":P,["collection":C,"key":K,"type":T,]"attributes":{"a":"text",...}}
//             {"op":"del","path":P,"collection":C,"key":K}
//             {"op":"trace","filter":F}
//             {"op":"regs","ham":H}
//             {"op":"paths"}
//             {"op":"sim","signal":"pps","action":"stop"|"start"|"glitch"|"saturate"}
//   replies:  {"ok":true, ...} or {"ok":false,"error":"what was wrong, where, what was expected"}
namespace velaclock {

// The longest request line the daemon reads; a longer one is refused.
inline constexpr std::size_t maxRequestBytes = std::size_t{64} * 1024;

// The directory of the daemon's sockets: $XDG_RUNTIME_DIR/velaclock, else /tmp/velaclock-<uid>.
std::filesystem::path runtimeDirectory();
// The control socket of `instance` in the runtime directory.
std::filesystem::path socketPath(const std::string& instance);

}  // namespace velaclock
