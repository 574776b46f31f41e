#pragma once

#include <sys/un.h>

#include <filesystem>
#include <optional>
#include <string>

// The control protocol between velaclockctl and velaclockd: one JSON object per line over a Unix
// stream socket, each request answered by one reply line, in order.
//   requests: {"op":"get","path":P}      (P = "agent/<attribute>": the agent's machines, read-only)
//             {"op":"set","path":P,["collection":C,"key":K,"type":T,]"attributes":{"a":"text",...}}
//             {"op":"del","path":P,"collection":C,"key":K}
//             {"op":"trace","filter":F}
//             {"op":"regs","ham":H}
//             {"op":"devices"}  (reply: "devices", [{name, kind, failures, lastErrno}] of each
//                                real bank or line)
//             {"op":"paths"}
//             {"op":"watch","paths":[P,...]}  (all paths when empty or absent)
//             {"op":"route","sink":S,"source":R[,"apply":true]}
//             {"op":"save"}  (reply: "description", a platform description's YAML text)
//             {"op":"sim","signal":"pps","action":"stop"|"start"|"glitch"|"saturate"}
//             {"op":"scheduling"}  (reply: the event thread's "policy" and "priority", and the
//                                   daemon's locked memory "lockedKiB")
//   A save may take several turns of the daemon's loop; its reply comes when the description is
//   written, and the client's further requests are answered after it.
//   A watch turns the connection into a stream: after its reply, one line per change of the
//   watched entities or of their entries at any depth,
//     {"event":"change","path":P,["within":[{"collection":C,"key":K},...],]
//      "attribute":A,"value":V}  or  ...,"collection":C,"key":K,"entry":{...} or null}
//   and, when the watcher fell behind and lines were dropped,
//     {"event":"overflow","missed":N} then {"event":"snapshot","path":P,"entity":{...}} per path,
//   then the changes after the snapshot; and, should the watched entities grow past what one
//   watch may follow, {"event":"end","reason":...}, after which the daemon closes the connection.
//   A watch names at most maxWatchPaths paths; a path named twice is watched once.
//   replies:  {"ok":true, ...} or {"ok":false,"error":"what was wrong, where, what was expected"},
//             always valid UTF-8 (text that is not is sent with U+FFFD in its place); an error
//             that says "retry":true means nothing of the request was done: the daemon was too
//             busy to take it, and the same request may be sent again on a new connection
//
// What a client can rely on, and what the daemon allows one client:
//   - Requests may be pipelined. Replies waiting for a client that does not read them stop at
//     about maxPendingReplyBytes: the daemon then neither answers nor reads that client (its
//     further requests wait in the socket) until it has taken enough of its replies.
//   - A client may shut down its writing side after its requests: each is answered, a last
//     request without its newline too, and then the daemon closes the connection.
//   - A request longer than maxRequestBytes gets an error reply and the connection is closed.
//   - A connection that sends no complete request and takes no reply for idleSeconds is closed,
//     and so is one whose request line does not end within requestSeconds of its first byte.
//   - When maxClients are connected, a newcomer is let in by closing another connection, which
//     gets an error reply with "retry":true first: the one quiet longest among those with nothing
//     in flight and quiet for at least quietSeconds (so a command's next request is never
//     refused), else the one whose request line has been incomplete longest, for more than
//     strayPartialSeconds (velaclockctl sends each request line at once). A stream is never
//     closed for a newcomer, and at most maxClients - 1 connections are streams. When none
//     qualifies, the newcomer gets an error reply with "retry":true and the daemon shuts the
//     connection down; velaclockctl then tries again until its timeout. A connection from a user
//     other than the daemon's own (or root) is refused with an error reply.
namespace velaclock {

// The name of the system's one state-database cell, which ends every per-cell path.
inline const std::string cellName = "FixedSystem";

// The longest request line the daemon reads; a longer one is refused.
inline constexpr std::size_t maxRequestBytes = std::size_t{64} * 1024;
// Replies the daemon queues for one client before it stops answering it (a `regs` reply of a
// large bank is about 2 MiB).
inline constexpr std::size_t maxPendingReplyBytes = std::size_t{4} * 1024 * 1024;
// Connections served at once.
inline constexpr std::size_t maxClients = 16;
// How long a connection may stay without a complete request and without taking a reply (a stream
// may stay quiet).
inline constexpr double idleSeconds = 30.0;
// How long a request line may take to arrive whole, from its first byte.
inline constexpr double requestSeconds = 2.0;
// How quiet a connection must have been before it may be closed for a newcomer.
inline constexpr double quietSeconds = 1.0;
// How long an incomplete request line may have waited before its connection may be closed for a
// newcomer.
inline constexpr double strayPartialSeconds = 0.1;
// Lines queued for one stream before further ones are dropped and counted.
inline constexpr std::size_t maxStreamQueueBytes = std::size_t{256} * 1024;
// Distinct paths one watch request may name.
inline constexpr std::size_t maxWatchPaths = 1024;

// The directory of the daemon's sockets: $XDG_RUNTIME_DIR/velaclock, else /tmp/velaclock-<uid>.
std::filesystem::path runtimeDirectory();
// The control socket of `instance` in the runtime directory.
std::filesystem::path socketPath(const std::string& instance);
// The address of the Unix socket at `path`, or nothing when the path is too long for one (it is
// never cut short: a shortened path would name another socket).
std::optional<sockaddr_un> socketAddress(const std::filesystem::path& path);

// Why `name` cannot name an instance, or empty when it can. An instance name becomes part of
// file and shared-memory names, so it is one safe path component: letters, digits, '_', '.' and
// '-', not starting with '.'.
std::string instanceNameError(const std::string& name);

}  // namespace velaclock
