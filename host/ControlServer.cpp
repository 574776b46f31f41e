#include "host/ControlServer.h"

#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>

#include "velaclock/ControlProtocol.h"

namespace velaclockd {

namespace {
[[noreturn]] void throwErrno(const std::string& what) {
  throw std::system_error(errno, std::generic_category(), what);
}

bool peerAllowed(int fd) {
  ucred credentials{};
  socklen_t length = sizeof credentials;
  if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &length) < 0) return false;
  return credentials.uid == geteuid() || credentials.uid == 0;
}
}  // namespace

nlohmann::ordered_json errorReply(const std::string& error) {
  return {{"ok", false}, {"error", error}};
}

ControlServer::ControlServer(std::filesystem::path socketPath, Handler handler,
                             Kel::ActivityManager& loop)
    : socketPath_(std::move(socketPath)), handler_(std::move(handler)), loop_(loop) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (socketPath_.native().size() >= sizeof address.sun_path) {
    throw std::system_error(ENAMETOOLONG, std::generic_category(),
                            "control socket path " + socketPath_.string());
  }
  std::strcpy(address.sun_path, socketPath_.c_str());
  listener_ = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (listener_ < 0) throwErrno("socket");
  unlink(socketPath_.c_str());  // a stale socket of an earlier run: the instance lock is ours
  const mode_t previous = umask(0177);  // 0600 from the start, not after a window
  const int bound = bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
  umask(previous);
  if (bound < 0 || listen(listener_, 16) < 0) {
    const int error = errno;
    close(listener_);
    errno = error;
    throwErrno("control socket " + socketPath_.string());
  }
  loop_.fdIs(listener_, EPOLLIN, [this](std::uint32_t) { acceptClient(); });
}

ControlServer::~ControlServer() {
  while (!clients_.empty()) drop(clients_.begin()->first);
  loop_.fdDel(listener_);
  close(listener_);
  unlink(socketPath_.c_str());
}

void ControlServer::acceptClient() {
  const int fd = accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
  if (fd < 0) return;
  if (!peerAllowed(fd)) return refuse(fd, "only the daemon's own user or root may connect");
  if (clients_.size() >= maxClients) return refuse(fd, "too many clients; try again later");
  clients_.emplace(fd, Client{});
  loop_.fdIs(fd, EPOLLIN, [this, fd](std::uint32_t events) { serve(fd, events); });
}

void ControlServer::refuse(int fd, const std::string& error) {
  const std::string line = errorReply(error).dump() + "\n";
  [[maybe_unused]] const auto written = send(fd, line.data(), line.size(), MSG_NOSIGNAL);
  close(fd);
}

void ControlServer::serve(int fd, std::uint32_t events) {
  const auto it = clients_.find(fd);
  if (it == clients_.end()) return;
  Client& client = it->second;
  if (events & EPOLLIN) readRequests(fd, client);
  if (clients_.contains(fd)) flush(fd, client);
}

void ControlServer::readRequests(int fd, Client& client) {
  char buffer[4096];
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) return drop(fd);
    if (n < 0) return;
    client.in.append(buffer, static_cast<std::size_t>(n));
    std::size_t end;
    while ((end = client.in.find('\n')) != std::string::npos && end <= velaclock::maxRequestBytes) {
      answer(client, client.in.substr(0, end));
      client.in.erase(0, end + 1);
    }
    if (client.in.size() > velaclock::maxRequestBytes) {
      client.out += errorReply("request longer than " + std::to_string(velaclock::maxRequestBytes) +
                               " bytes; connection closed")
                        .dump() +
                    "\n";
      client.in.clear();
      client.closing = true;
      return;
    }
  }
}

void ControlServer::answer(Client& client, const std::string& line) {
  nlohmann::ordered_json reply;
  const nlohmann::json request = nlohmann::json::parse(line, nullptr, false);
  if (request.is_discarded() || !request.is_object()) {
    reply = errorReply("request is not a JSON object on one line");
  } else {
    try {
      reply = handler_(request);
    } catch (const std::exception& error) {
      reply = errorReply(error.what());
    }
  }
  client.out += reply.dump() + "\n";
}

void ControlServer::flush(int fd, Client& client) {
  while (!client.out.empty()) {
    const ssize_t n = send(fd, client.out.data(), client.out.size(), MSG_NOSIGNAL);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) break;
    if (n < 0) return drop(fd);
    client.out.erase(0, static_cast<std::size_t>(n));
  }
  if (client.out.empty() && client.closing) return drop(fd);
  const bool wantsWrite = !client.out.empty();
  if (wantsWrite == client.wantsWrite) return;
  client.wantsWrite = wantsWrite;
  loop_.fdIs(fd, wantsWrite ? EPOLLIN | EPOLLOUT : EPOLLIN,
             [this, fd](std::uint32_t events) { serve(fd, events); });
}

void ControlServer::drop(int fd) {
  loop_.fdDel(fd);
  close(fd);
  clients_.erase(fd);
}

}  // namespace velaclockd
