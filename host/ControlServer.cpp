#include "host/ControlServer.h"

#include <fmt/format.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>
#include <vector>

namespace velaclockd {

namespace {
// Bytes read from one client at a time, and chunks per loop turn: a client that keeps sending
// must not keep the event thread (and the agent) from everything else.
constexpr std::size_t readChunkBytes = 16384;
constexpr int maxChunksPerTurn = 4;

[[noreturn]] void throwErrno(const std::string& what) {
  throw std::system_error(errno, std::generic_category(), what);
}

bool peerAllowed(int fd) {
  ucred credentials{};
  socklen_t length = sizeof credentials;
  if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &length) < 0) return false;
  return credentials.uid == geteuid() || credentials.uid == 0;
}

// Tells a client why it is sent away, then ends the stream in order: it reads the line, then end
// of file, rather than a reset that hides the line.
void sayGoodbye(int fd, const std::string& error, bool retry) {
  const std::string line = replyText(errorReply(error, retry));
  [[maybe_unused]] const auto written =
      send(fd, line.data(), line.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
  shutdown(fd, SHUT_WR);
}
}  // namespace

nlohmann::ordered_json errorReply(const std::string& error, bool retry) {
  nlohmann::ordered_json reply{{"ok", false}, {"error", error}};
  if (retry) reply["retry"] = true;
  return reply;
}

std::string replyText(const nlohmann::ordered_json& reply) {
  return reply.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

// The connection of one client as its request handlers see it.
class ControlServer::ClientConnection : public Connection {
 public:
  ClientConnection(ControlServer& server, int fd) : server_(server), fd_(fd) {}

  bool streamIs(std::unique_ptr<Stream> stream) override {
    Client& client = server_.clients_.at(fd_);
    if (client.stream || server_.streams_ + 1 >= server_.limits_.maxClients) return false;
    client.stream = std::move(stream);
    ++server_.streams_;
    return true;
  }

  bool streaming() const override { return bool(server_.clients_.at(fd_).stream); }

  // Called from inside the agent's handlers: it only queues and asks the loop to write; closing a
  // connection (and with it the stream that pushes) waits for the loop's turn.
  bool push(const nlohmann::ordered_json& line) override {
    Client& client = server_.clients_.at(fd_);
    if (client.broken || client.pending() >= server_.limits_.maxStreamQueue) {
      client.streamRefused = true;
      return false;
    }
    client.out += replyText(line);
    server_.watchFor(fd_, client);
    return true;
  }

  void streamEnds(const std::string& reason) override {
    Client& client = server_.clients_.at(fd_);
    if (client.closing || client.broken) return;
    client.out += replyText({{"event", "end"}, {"reason", reason}});
    client.closing = true;
    server_.watchFor(fd_, client);
  }

  void replyLater(std::unique_ptr<PendingReply> pending) override {
    Client& client = server_.clients_.at(fd_);
    client.pendingReply = std::move(pending);
    client.replyMade = false;
  }

  // Called from the pending reply itself, which is let go at the connection's next turn.
  void replyIs(std::string line) override {
    Client& client = server_.clients_.at(fd_);
    // A long reply (a save) is taken over rather than copied, when nothing else waits to go.
    if (client.pending() == 0) {
      client.out = std::move(line);
      client.sent = 0;
    } else {
      client.out += line;
    }
    client.replyMade = true;
    client.lastActivity = Kel::System::currentTime();
    server_.watchFor(fd_, client);
  }

 private:
  ControlServer& server_;
  int fd_;
};

ControlServer::Client::Client(ControlServer& server, int fd)
    : connection(std::make_unique<ClientConnection>(server, fd)) {}

// Wakes the server when the earliest idle deadline of its clients comes.
class ControlServer::IdleTimer : public Kel::Clock::NotifieeConst {
 public:
  explicit IdleTimer(ControlServer& server) : server_(server) {
    hasNotificationActiveIs(true);
    notifierIs(Kel::ActivityFacility::clock());
  }
  void onAttribute(Kel::AttributeId, const void*) override { server_.dropIdleClients(); }

 private:
  ControlServer& server_;
};

ControlServer::ControlServer(std::filesystem::path socketPath, Handler handler,
                             Kel::ActivityManager& loop, Limits limits)
    : socketPath_(std::move(socketPath)),
      handler_(std::move(handler)),
      loop_(loop),
      limits_(limits),
      idleTimer_(Kel::makePtr<IdleTimer>(*this)) {
  const auto address = velaclock::socketAddress(socketPath_);
  if (!address) {
    throw std::system_error(ENAMETOOLONG, std::generic_category(),
                            "control socket path " + socketPath_.string());
  }
  listener_ = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (listener_ < 0) throwErrno("socket");
  const mode_t previous = umask(0177);  // 0600 from the start, not after a window
  const int bound = bind(listener_, reinterpret_cast<const sockaddr*>(&*address), sizeof *address);
  umask(previous);
  if (bound < 0 || listen(listener_, 16) < 0) {
    const int error = errno;
    close(listener_);
    errno = error;
    throwErrno("control socket " + socketPath_.string());
  }
  loop_.fdIs(listener_, EPOLLIN, [this](std::uint32_t) { acceptClients(); });
}

ControlServer::~ControlServer() {
  while (!clients_.empty()) drop(clients_.begin()->first);
  loop_.fdDel(listener_);
  close(listener_);
  unlink(socketPath_.c_str());
}

void ControlServer::acceptClients() {
  for (;;) {
    const int fd = accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) return;
    admit(fd);
  }
}

void ControlServer::admit(int fd) {
  if (!peerAllowed(fd)) {
    sayGoodbye(fd, "only the daemon's own user or root may connect", false);
    close(fd);
    return;
  }
  if (clients_.size() >= limits_.maxClients && !evictForNewcomer()) {
    sayGoodbye(fd,
               fmt::format("too many clients: all {} connections are busy; try again later",
                           limits_.maxClients),
               true);
    close(fd);
    return;
  }
  Client& client = clients_.try_emplace(fd, *this, fd).first->second;
  client.lastActivity = Kel::System::currentTime();
  settle(fd, client);
}

void ControlServer::serve(int fd, std::uint32_t events) {
  const auto it = clients_.find(fd);
  if (it == clients_.end()) return;
  Client& client = it->second;
  if (client.replyMade) {
    client.pendingReply.reset();
    client.replyMade = false;
  }
  if (events & (EPOLLOUT | EPOLLERR | EPOLLHUP)) flush(fd, client);
  exchange(fd, client);
  // A client that hung up for good can take nothing more: it goes once what it sent is read and
  // answered (for what the requests do). A hang-up that nothing takes would be reported again at
  // every turn, and a stream would keep its slot and its reactors.
  if ((events & (EPOLLERR | EPOLLHUP)) && !mayRead(client)) client.broken = true;
  resumeStream(fd, client);
  settle(fd, client);
}

// A stream whose client has taken half of its queue after a refused line may push again; what it
// pushes may be written at once and leave room for more, with no wake-up to come for it.
void ControlServer::resumeStream(int fd, Client& client) {
  while (client.stream && client.streamRefused && !client.broken && !client.closing &&
         client.pending() * 2 <= limits_.maxStreamQueue) {
    client.streamRefused = false;
    client.stream->drained();
    flush(fd, client);
  }
}

// Answers what was received and reads more, as far as the client's pending output allows, and
// writes what the socket takes.
void ControlServer::exchange(int fd, Client& client) {
  for (int chunk = 0;; ++chunk) {
    answerAndFlush(fd, client);
    if (chunk == maxChunksPerTurn || !mayRead(client) || !readSome(fd, client)) break;
  }
  answerLastAtEnd(client);
  flush(fd, client);
}

// Answers complete requests and writes the replies until none is left, or until the socket takes
// replies slower than they come and the pending output reaches the cap.
void ControlServer::answerAndFlush(int fd, Client& client) {
  do {
    answerReceived(client);
    flush(fd, client);
  } while (!client.closing && !client.broken && !client.awaitingReply() &&
           client.pending() < limits_.maxPendingOutput &&
           client.in.find('\n') != std::string::npos);
}

// Past the output cap the client's further requests stay in the socket until it takes its
// replies, so neither its input nor its output grows without bound.
bool ControlServer::mayRead(const Client& client) const {
  return !client.peerClosed && !client.closing && !client.broken && !client.awaitingReply() &&
         client.pending() < limits_.maxPendingOutput;
}

// Watches the client's socket for what it waits on: requests, and room for pending output.
void ControlServer::watchFor(int fd, Client& client) {
  const std::uint32_t events =
      (mayRead(client) ? EPOLLIN : 0U) | (client.pending() > 0 ? EPOLLOUT : 0U);
  if (events == client.watched) return;
  client.watched = events;
  loop_.fdIs(fd, events, [this, fd](std::uint32_t ready) { serve(fd, ready); });
}

// Reads one chunk; false when nothing more can be read now.
bool ControlServer::readSome(int fd, Client& client) {
  char buffer[readChunkBytes];
  const ssize_t n = read(fd, buffer, sizeof buffer);
  if (n > 0) {
    client.in.append(buffer, static_cast<std::size_t>(n));
    return true;
  }
  if (n == 0) {
    client.peerClosed = true;
  } else if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
    client.broken = true;
  }
  return false;
}

// Answers the complete requests received, in order, while the client's pending output stays under
// the cap. An over-long request gets an error reply and ends the connection.
void ControlServer::answerReceived(Client& client) {
  std::size_t begin = 0;
  while (!client.closing && !client.awaitingReply() &&
         client.pending() < limits_.maxPendingOutput) {
    const std::size_t end = client.in.find('\n', begin);
    if (end == std::string::npos || end - begin > velaclock::maxRequestBytes) break;
    client.out += replyLine(client, std::string_view(client.in).substr(begin, end - begin));
    client.lastActivity = Kel::System::currentTime();
    begin = end + 1;
  }
  client.in.erase(0, begin);
  // Only a line that has begun and not ended is on the clock, not one that waits its turn.
  if (client.in.empty() || client.in.find('\n') != std::string::npos) {
    client.partialSince = Kel::infiniteTime;
  } else if (begin > 0 || client.partialSince == Kel::infiniteTime) {
    client.partialSince = Kel::System::currentTime();
  }
  const std::size_t firstLine = std::min(client.in.find('\n'), client.in.size());
  if (!client.closing && firstLine > velaclock::maxRequestBytes) {
    client.out += replyText(errorReply(fmt::format(
        "request longer than {} bytes; connection closed", velaclock::maxRequestBytes)));
    client.in.clear();
    client.closing = true;
  }
}

// Once a client has shut its writing side and every complete request is answered, a last one
// without its newline is answered too (as `nc -N` or a shell pipe sends it); the connection then
// closes when everything is written, unless it has become a stream, which goes on.
void ControlServer::answerLastAtEnd(Client& client) {
  if (!client.peerClosed || client.closing || client.awaitingReply() ||
      client.in.find('\n') != std::string::npos) {
    return;
  }
  if (!client.in.empty()) {
    client.out += replyLine(client, client.in);
    client.lastActivity = Kel::System::currentTime();
    client.in.clear();
  }
  client.partialSince = Kel::infiniteTime;
  client.closing = !client.stream && !client.awaitingReply();
}

// The reply line to one request line. Nothing a request or the handler does, rendering the reply
// included, may end the daemon: every failure becomes an error reply.
std::string ControlServer::replyLine(Client& client, std::string_view request) {
  try {
    const nlohmann::json parsed = nlohmann::json::parse(request, nullptr, false);
    if (parsed.is_discarded() || !parsed.is_object()) {
      return replyText(errorReply("request is not a JSON object on one line"));
    }
    const auto reply = handler_(parsed, *client.connection);
    return reply ? replyText(*reply) : std::string();  // else the pending reply gives it
  } catch (const std::exception& error) {
    return replyText(errorReply(error.what()));
  }
}

void ControlServer::flush(int fd, Client& client) {
  while (client.pending() > 0 && !client.broken) {
    const ssize_t n = send(fd, client.out.data() + client.sent, client.pending(), MSG_NOSIGNAL);
    if (n > 0) {
      client.sent += static_cast<std::size_t>(n);
      client.lastActivity = Kel::System::currentTime();
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) client.broken = true;
      break;
    }
  }
  // Written bytes go once they are half of the buffer: linear cost, bounded waste.
  if (client.sent * 2 >= client.out.size()) {
    client.out.erase(0, client.sent);
    client.sent = 0;
  }
}

// After an exchange: closes a finished or failed connection, else watches for what it waits on.
void ControlServer::settle(int fd, Client& client) {
  if (client.broken || (client.closing && client.pending() == 0)) {
    drop(fd);
  } else {
    watchFor(fd, client);
  }
  armIdleTimer();
}

void ControlServer::drop(int fd) {
  loop_.fdDel(fd);
  close(fd);
  const auto it = clients_.find(fd);
  if (it != clients_.end() && it->second.stream) --streams_;
  clients_.erase(it);
}

// Closes a client's connection, telling it why unless a reply is half written.
void ControlServer::dismiss(int fd, const std::string& error, bool retry) {
  const auto it = clients_.find(fd);
  if (it == clients_.end()) return;
  if (it->second.pending() == 0) sayGoodbye(fd, error, retry);
  drop(fd);
}

// Makes room for a newcomer: closes the quietest client between commands, else the one that has
// held an incomplete request longest. False when neither is there. The client closed may try its
// next request again, as nothing of it was read.
bool ControlServer::evictForNewcomer() {
  const Kel::Seconds now = Kel::System::currentTime();
  int fd = quietest(now);
  if (fd < 0) fd = strayPartial(now);
  if (fd < 0) return false;
  dismiss(fd,
          fmt::format("closed to let a new client in: at most {} connections are served at once "
                      "and this one was waiting longest",
                      limits_.maxClients),
          true);
  return true;
}

// The client quiet longest, and for at least quietBeforeEviction, with nothing in flight (no
// partial request, no reply waiting or being made), or -1. A command's next request comes right
// after its reply, so a client in the middle of one is never taken.
int ControlServer::quietest(Kel::Seconds now) const {
  int found = -1;
  Kel::Seconds earliest = now - limits_.quietBeforeEviction;
  for (const auto& [fd, client] : clients_) {
    const bool inFlight =
        !client.in.empty() || client.pending() > 0 || client.closing || client.pendingReply;
    if (!inFlight && !client.stream && client.lastActivity <= earliest) {
      found = fd;
      earliest = client.lastActivity;
    }
  }
  return found;
}

// The client whose request line has been incomplete longest, and for more than
// strayPartialBeforeEviction, or -1: velaclockctl sends a request line at once, so such a client
// is not one, and holding a slot with it must not lock the operator out.
int ControlServer::strayPartial(Kel::Seconds now) const {
  int found = -1;
  Kel::Seconds earliest = now - limits_.strayPartialBeforeEviction;
  for (const auto& [fd, client] : clients_) {
    if (client.partialSince < earliest && client.pending() == 0 && !client.stream) {
      found = fd;
      earliest = client.partialSince;
    }
  }
  return found;
}

// The one rule of idleness: a client that sends no complete request and takes no reply for the
// timeout is idle. A subscriber to a change stream, which may rightly stay quiet, and a client
// waiting for a reply being made, are not.
Kel::Seconds ControlServer::idleDeadline(const Client& client) const {
  if (client.stream || client.pendingReply) return Kel::infiniteTime;
  return client.lastActivity + limits_.idleTimeout;
}

// A request line must arrive whole soon after its first byte.
Kel::Seconds ControlServer::requestDeadline(const Client& client) const {
  return client.partialSince + limits_.requestTimeout;
}

void ControlServer::dropIdleClients() {
  const Kel::Seconds now = Kel::System::currentTime();
  std::vector<std::pair<int, std::string>> late;
  for (const auto& [fd, client] : clients_) {
    if (requestDeadline(client) <= now) {
      late.emplace_back(fd, fmt::format("request line not complete within {:g} s of its first "
                                        "byte; connection closed",
                                        limits_.requestTimeout));
    } else if (idleDeadline(client) <= now) {
      late.emplace_back(fd, fmt::format("idle for {:g} s (no complete request, no reply taken); "
                                        "connection closed",
                                        limits_.idleTimeout));
    }
  }
  for (const auto& [fd, why] : late) dismiss(fd, why, false);
  armIdleTimer();
}

void ControlServer::armIdleTimer() {
  Kel::Seconds next = Kel::infiniteTime;
  for (const auto& [fd, client] : clients_) {
    next = std::min({next, idleDeadline(client), requestDeadline(client)});
  }
  idleTimer_->timeMinIs(next);
}

}  // namespace velaclockd
