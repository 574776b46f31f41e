#pragma once

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
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
};

// A connection turned into a stream of lines that the daemon pushes to its client (a change
// subscription). It lives as long as the connection.
class Stream {
 public:
  virtual ~Stream() = default;
  // The client has taken what was queued since a line was refused: there is room again.
  virtual void drained() = 0;
};

// What a request handler may do with the connection it answers, beyond replying.
class Connection {
 public:
  virtual ~Connection() = default;
  // Turns the connection into `stream`'s, after the reply to this request. False, and nothing
  // changes, when as many streams run as may (one slot always stays for other clients).
  virtual bool streamIs(std::unique_ptr<Stream> stream) = 0;
  // Queues one line for the client of a stream. False, and nothing queued, while its queue is
  // full; the stream hears drained() once the client has caught up.
  virtual bool push(const nlohmann::ordered_json& line) = 0;
};

// Serves the control protocol on a Unix stream socket, on the event thread: one JSON request per
// line, one reply line each, in order. Only the daemon's own user or root may connect. What one
// client may hold (requests, queued replies, a slot, idle time) is bounded as
// velaclock/ControlProtocol.h describes; a malformed request gets an error reply and the
// connection goes on; an over-long one closes it.
class ControlServer {
 public:
  using Handler =
      std::function<nlohmann::ordered_json(const nlohmann::json& request, Connection& connection)>;

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
    std::unique_ptr<Stream> stream;  // set when the connection became a stream
    bool streamRefused = false;      // a line was refused; drained() is owed
    std::string in;                  // received, not yet answered
    std::string out;                 // replies from `sent` on wait for the socket
    std::size_t sent = 0;            // bytes of `out` already written
    Kel::Seconds lastActivity{};     // of a complete request or of write progress
    bool peerClosed = false;         // the client shut its writing side: answer, then close
    bool closing = false;            // close once `out` is written
    bool broken = false;             // the connection failed: close now
    std::uint32_t watched = 0;       // events the loop watches for
    std::size_t pending() const { return out.size() - sent; }
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
  void dismiss(int fd, const std::string& error);
  bool evictQuietest();
  Kel::Seconds idleDeadline(const Client& client) const;
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

// The reply to a request that failed.
nlohmann::ordered_json errorReply(const std::string& error);

// `reply` on one line, ending with a newline; text that is not valid UTF-8 is sent with U+FFFD in
// its place, so every line is valid JSON.
std::string replyText(const nlohmann::ordered_json& reply);

}  // namespace velaclockd
