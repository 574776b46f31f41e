#pragma once

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "Kel/Activity.h"
#include "velaclock/ControlProtocol.h"

namespace velaclockd {

// What the control server allows each client.
struct ControlLimits {
  std::size_t maxClients = velaclock::maxClients;
  std::size_t maxPendingOutput = velaclock::maxPendingReplyBytes;  // bytes
  Kel::Seconds idleTimeout = velaclock::idleSeconds;               // s on the activity clock
  std::size_t maxStreamQueue = velaclock::maxStreamQueueBytes;     // bytes queued for a stream
  Kel::Seconds requestTimeout = velaclock::requestSeconds;  // s for a request line to arrive whole
  Kel::Seconds quietBeforeEviction = velaclock::quietSeconds;                // s
  Kel::Seconds strayPartialBeforeEviction = velaclock::strayPartialSeconds;  // s
};

// A connection turned into a stream of lines that the daemon pushes to its client (a change
// subscription). It lives as long as the connection.
class Stream {
 public:
  virtual ~Stream() = default;
  // The client has taken what was queued since a line was refused: there is room again.
  virtual void drained() = 0;
};

// A reply that takes more than one turn of the loop to make (a save of a large database). The
// connection keeps it while it is made; the client's further requests wait.
class PendingReply {
 public:
  virtual ~PendingReply() = default;
};

// What a request handler may do with the connection it answers, beyond replying.
class Connection {
 public:
  virtual ~Connection() = default;
  // Turns the connection into `stream`'s, after the reply to this request. False, and nothing
  // changes, when as many streams run as may (one slot always stays for other clients).
  virtual bool streamIs(std::unique_ptr<Stream> stream) = 0;
  // Whether the connection has become a stream.
  virtual bool streaming() const = 0;
  // Queues one line for the client of a stream. False, and nothing queued, while its queue is
  // full; the stream hears drained() once the client has caught up.
  virtual bool push(const nlohmann::ordered_json& line) = 0;
  // Ends the stream: the client gets {"event":"end","reason":...} after what is queued, then the
  // connection closes.
  virtual void streamEnds(const std::string& reason) = 0;
  // The request being handled is answered later: its handler returns nullopt, and `pending`,
  // kept by the connection until then, gives the reply line to replyIs.
  virtual void replyLater(std::unique_ptr<PendingReply> pending) = 0;
  // The reply line (with its newline) to the request that replyLater took; the pending reply is
  // let go once the loop has moved on.
  virtual void replyIs(std::string line) = 0;
};

// Serves the control protocol on a Unix stream socket, on the event thread: one JSON request per
// line, one reply line each, in order. Only the daemon's own user or root may connect. What one
// client may hold (requests, queued replies, a slot, idle time) is bounded as
// velaclock/ControlProtocol.h describes; a malformed request gets an error reply and the
// connection goes on; an over-long one closes it.
class ControlServer {
 public:
  // The reply to a request, or nullopt when it comes later (Connection::replyLater).
  using Handler = std::function<std::optional<nlohmann::ordered_json>(const nlohmann::json& request,
                                                                      Connection& connection)>;

  using Limits = ControlLimits;

  // Listens on `socketPath` (mode 0600). The caller has made the directory safe, holds the
  // instance's lock and has cleared the path (clearSocketPlace). Throws std::system_error.
  ControlServer(std::filesystem::path socketPath, Handler handler, Kel::ActivityManager& loop,
                Limits limits = {});
  ~ControlServer();
  ControlServer(const ControlServer&) = delete;
  ControlServer& operator=(const ControlServer&) = delete;

  const std::filesystem::path& socketPath() const { return socketPath_; }

 private:
  class ClientConnection;
  struct Client {
    Client(ControlServer& server, int fd);
    std::unique_ptr<ClientConnection> connection;
    std::unique_ptr<Stream> stream;                 // set when the connection became a stream
    bool streamRefused = false;                     // a line was refused; drained() is owed
    std::unique_ptr<PendingReply> pendingReply;     // a reply being made, or made and not let go
    bool replyMade = false;                         // pendingReply has given its reply
    std::string in;                                 // received, not yet answered
    std::string out;                                // replies from `sent` on wait for the socket
    std::size_t sent = 0;                           // bytes of `out` already written
    Kel::Seconds lastActivity{};                    // of a complete request or of write progress
    Kel::Seconds partialSince = Kel::infiniteTime;  // first byte of an incomplete request line
    bool peerClosed = false;    // the client shut its writing side: answer, then close
    bool closing = false;       // close once `out` is written
    bool broken = false;        // the connection failed: close now
    std::uint32_t watched = 0;  // events the loop watches for
    std::size_t pending() const { return out.size() - sent; }
    bool awaitingReply() const { return pendingReply && !replyMade; }
  };
  class IdleTimer;

  void acceptClients();
  void admit(int fd);
  void serve(int fd, std::uint32_t events);
  void exchange(int fd, Client& client);
  void answerAndFlush(int fd, Client& client);
  bool mayRead(const Client& client) const;
  bool readSome(int fd, Client& client);
  void answerReceived(Client& client);
  void answerLastAtEnd(Client& client);
  std::string replyLine(Client& client, std::string_view request);
  void resumeStream(int fd, Client& client);
  void watchFor(int fd, Client& client);
  void flush(int fd, Client& client);
  void settle(int fd, Client& client);
  void drop(int fd);
  void dismiss(int fd, const std::string& error, bool retry);
  bool evictForNewcomer();
  int quietest(Kel::Seconds now) const;
  int strayPartial(Kel::Seconds now) const;
  Kel::Seconds idleDeadline(const Client& client) const;
  Kel::Seconds requestDeadline(const Client& client) const;
  void dropIdleClients();
  void armIdleTimer();

  std::filesystem::path socketPath_;
  Handler handler_;
  Kel::ActivityManager& loop_;
  Limits limits_;
  int listener_ = -1;
  std::map<int, Client> clients_;
  Kel::Ptr<IdleTimer> idleTimer_;
  std::size_t streams_ = 0;
};

// The reply to a request that failed; with `retry`, one that says nothing of it was done and it
// may be sent again.
nlohmann::ordered_json errorReply(const std::string& error, bool retry = false);

// `reply` on one line, ending with a newline; text that is not valid UTF-8 is sent with U+FFFD in
// its place, so every line is valid JSON.
std::string replyText(const nlohmann::ordered_json& reply);

}  // namespace velaclockd
