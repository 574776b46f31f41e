#include "ctl/Client.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace velaclockctl {

Client::Client(const std::filesystem::path& socket)
    : socket_(socket), fd_(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (fd_ < 0 || socket.native().size() >= sizeof address.sun_path) {
    throw NoDaemon("cannot use control socket " + socket.string());
  }
  std::strcpy(address.sun_path, socket.c_str());
  if (connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) < 0) {
    const std::string reason = std::strerror(errno);
    close(fd_);
    throw NoDaemon("no velaclockd answers on " + socket.string() + ": " + reason);
  }
}

Client::~Client() {
  close(fd_);
}

nlohmann::ordered_json Client::request(const nlohmann::ordered_json& request) {
  const std::string line = request.dump() + "\n";
  for (std::size_t sent = 0; sent < line.size();) {
    const ssize_t n = send(fd_, line.data() + sent, line.size() - sent, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw NoDaemon("velaclockd on " + socket_.string() + " hung up");
    sent += static_cast<std::size_t>(n);
  }
  std::size_t end;
  while ((end = buffer_.find('\n')) == std::string::npos) {
    char chunk[65536];
    const ssize_t n = read(fd_, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw NoDaemon("velaclockd on " + socket_.string() + " hung up");
    buffer_.append(chunk, static_cast<std::size_t>(n));
  }
  nlohmann::ordered_json reply =
      nlohmann::ordered_json::parse(buffer_.substr(0, end), nullptr, false);
  buffer_.erase(0, end + 1);
  if (reply.is_discarded() || !reply.is_object()) {
    throw NoDaemon("velaclockd on " + socket_.string() + " answered with something not JSON");
  }
  if (!reply.value("ok", false)) throw Refused(reply.value("error", "refused"));
  return reply;
}

}  // namespace velaclockctl
