#include "ctl/Client.h"

#include <fcntl.h>
#include <fmt/format.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <thread>

#include "velaclock/ControlProtocol.h"

namespace velaclockctl {

// The end of one wait for the daemon.
class Client::Deadline {
 public:
  explicit Deadline(double seconds)
      : end_(std::chrono::steady_clock::now() +
             std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                 std::chrono::duration<double>(seconds))) {}
  // No end: a stream may stay quiet as long as nothing changes.
  static Deadline never() {
    Deadline deadline(0);
    deadline.never_ = true;
    return deadline;
  }
  // Sleeps for `pause`, or less if the deadline comes first; false when it has come.
  bool sleepFor(std::chrono::milliseconds pause) const {
    const auto now = std::chrono::steady_clock::now();
    if (never_) {
      std::this_thread::sleep_for(pause);
      return true;
    }
    if (now >= end_) return false;
    std::this_thread::sleep_until(std::min(end_, now + pause));
    return std::chrono::steady_clock::now() < end_;
  }
  // Waits until `fd` is ready for `events`; false when the deadline passes first.
  bool waitFor(int fd, short events) const {
    if (never_) {
      pollfd watched{fd, events, 0};
      while (poll(&watched, 1, -1) < 0 && errno == EINTR) {
      }
      return true;
    }
    for (;;) {
      const auto left = end_ - std::chrono::steady_clock::now();
      if (left <= std::chrono::steady_clock::duration::zero()) return false;
      const auto milliseconds = std::chrono::ceil<std::chrono::milliseconds>(left).count();
      pollfd watched{fd, events, 0};
      const int ready = poll(&watched, 1, static_cast<int>(milliseconds));
      if (ready > 0) return true;
      if (ready < 0 && errno != EINTR) return true;  // the next call reports the error
    }
  }

 private:
  std::chrono::steady_clock::time_point end_;
  bool never_ = false;
};

namespace {
// The longest pause between two tries of a request the daemon was too busy to take.
constexpr auto maxRetryPause = std::chrono::milliseconds(200);

timeval asTimeval(double seconds) {
  const double whole = std::floor(seconds);
  return {static_cast<time_t>(whole), static_cast<suseconds_t>((seconds - whole) * 1e6)};
}
}  // namespace

Client::Client(const std::filesystem::path& socket, double timeoutSeconds)
    : socket_(socket), timeoutSeconds_(timeoutSeconds) {
  connectToDaemon();
}

Client::~Client() {
  disconnect();
}

void Client::disconnect() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

void Client::connectToDaemon() {
  disconnect();
  buffer_.clear();
  fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const auto address = velaclock::socketAddress(socket_);
  if (fd_ < 0 || !address) {
    disconnect();
    throw NoDaemon("cannot use control socket " + socket_.string());
  }
  // A Unix socket's connect waits for room in the daemon's backlog; poll cannot wait for that,
  // but the send timeout bounds it (it then fails with EAGAIN).
  const timeval limit = asTimeval(timeoutSeconds_);
  setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
  if (connect(fd_, reinterpret_cast<const sockaddr*>(&*address), sizeof *address) < 0) {
    const int error = errno;
    disconnect();
    if (error == EAGAIN) {
      throw NoDaemon(fmt::format("velaclockd on {} did not let us in within {:g} s",
                                 socket_.string(), timeoutSeconds_));
    }
    throw NoDaemon(
        fmt::format("no velaclockd answers on {}: {}", socket_.string(), std::strerror(error)));
  }
  fcntl(fd_, F_SETFL, fcntl(fd_, F_GETFL) | O_NONBLOCK);
}

Reply Client::request(const Json& request) {
  const std::string op = request.value("op", "");
  const Deadline deadline(timeoutSeconds_);
  // A daemon too busy to take the request says so ("retry") before it reads anything: the same
  // request goes again on a new connection, a little later each time, until the timeout.
  for (auto pause = std::chrono::milliseconds(10);; pause = std::min(pause * 2, maxRetryPause)) {
    std::string line = exchange(request, deadline);
    const Json reply = Json::parse(line, nullptr, false);
    if (!reply.is_object() || !reply.value("retry", false)) return checkedReply(line, op);
    if (!deadline.sleepFor(pause)) {
      throw NoDaemon(fmt::format("velaclockd on {} stayed too busy to take `{}` for {:g} s: {}",
                                 socket_.string(), op, timeoutSeconds_,
                                 reply.value("error", std::string())));
    }
    connectToDaemon();
  }
}

// Sends one request and reads the line that answers it.
std::string Client::exchange(const Json& request, const Deadline& deadline) {
  // A daemon that sends us away closes before reading; what it said is still to be read.
  const bool sent = sendLine(request.dump() + "\n", deadline);
  std::string line;
  if (!readLine(line, deadline)) {
    throw NoDaemon(fmt::format("velaclockd on {} hung up {}", socket_.string(),
                               sent ? "without answering" : "before taking the request"));
  }
  return line;
}

std::optional<Json> Client::nextStreamLine() {
  std::string line;
  if (!readLine(line, Deadline::never())) return std::nullopt;
  Json json = Json::parse(line, nullptr, false);
  if (!json.is_object()) {
    throw NoDaemon(fmt::format("velaclockd on {} sent a stream line that is not a JSON object",
                               socket_.string()));
  }
  return json;
}

// Sends all of `line`; false when the daemon hung up first.
bool Client::sendLine(const std::string& line, const Deadline& deadline) {
  for (std::size_t sent = 0; sent < line.size();) {
    const ssize_t n = send(fd_, line.data() + sent, line.size() - sent, MSG_NOSIGNAL);
    if (n > 0) {
      sent += static_cast<std::size_t>(n);
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (!deadline.waitFor(fd_, POLLOUT)) {
        throw NoDaemon(fmt::format("velaclockd on {} did not take the request within {:g} s",
                                   socket_.string(), timeoutSeconds_));
      }
    } else if (n < 0 && errno != EINTR) {
      return false;
    }
  }
  return true;
}

// Reads the next line (without its newline); false at the end of the stream.
bool Client::readLine(std::string& line, const Deadline& deadline) {
  std::size_t end;
  std::size_t searched = 0;  // a long reply (a save) is searched once, not once per chunk
  while ((end = buffer_.find('\n', searched)) == std::string::npos) {
    searched = buffer_.size();
    char chunk[65536];
    const ssize_t n = read(fd_, chunk, sizeof chunk);
    if (n > 0) {
      buffer_.append(chunk, static_cast<std::size_t>(n));
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (!deadline.waitFor(fd_, POLLIN)) {
        throw NoDaemon(fmt::format("velaclockd on {} did not answer within {:g} s",
                                   socket_.string(), timeoutSeconds_));
      }
    } else if (n == 0 || errno != EINTR) {
      return false;
    }
  }
  line = buffer_.substr(0, end);
  buffer_.erase(0, end + 1);
  return true;
}

Reply Client::checkedReply(const std::string& line, const std::string& op) const {
  Json json = Json::parse(line, nullptr, false);
  if (json.is_discarded()) {
    throw NoDaemon(fmt::format("velaclockd on {} answered `{}` with something that is not JSON",
                               socket_.string(), op));
  }
  Reply reply(json, op);
  reply.expect(json, Shape::object, "the reply");
  if (reply.member("ok", Shape::boolean).get<bool>()) return reply;
  throw Refused(reply.member("error", Shape::string).get<std::string>());
}

}  // namespace velaclockctl
