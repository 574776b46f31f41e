#pragma once

#include <filesystem>
#include <functional>
#include <map>
#include <string>

#include <nlohmann/json.hpp>

#include "Kel/Activity.h"

namespace velaclockd {

// Serves the control protocol on a Unix stream socket, on the event thread: one JSON request per
// line, one reply line each. Requests are bounded in size, clients in number, and only the
// daemon's own user or root may connect. A malformed request gets an error reply and the
// connection goes on; an over-long one closes it.
class ControlServer {
 public:
  using Handler = std::function<nlohmann::ordered_json(const nlohmann::json& request)>;
  static constexpr std::size_t maxClients = 16;

  // Listens on `socketPath` (mode 0600), replacing a stale socket file there. The caller has made
  // the directory safe and holds the instance's lock. Throws std::system_error.
  ControlServer(std::filesystem::path socketPath, Handler handler, Kel::ActivityManager& loop);
  ~ControlServer();
  ControlServer(const ControlServer&) = delete;
  ControlServer& operator=(const ControlServer&) = delete;

  const std::filesystem::path& socketPath() const { return socketPath_; }

 private:
  struct Client {
    std::string in;
    std::string out;
    bool closing = false;     // close once `out` is written
    bool wantsWrite = false;  // watched for writability while `out` waits
  };
  void acceptClient();
  void serve(int fd, std::uint32_t events);
  void readRequests(int fd, Client& client);
  void answer(Client& client, const std::string& line);
  void flush(int fd, Client& client);
  void refuse(int fd, const std::string& error);
  void drop(int fd);

  std::filesystem::path socketPath_;
  Handler handler_;
  Kel::ActivityManager& loop_;
  int listener_ = -1;
  std::map<int, Client> clients_;
};

// The reply to a request that failed.
nlohmann::ordered_json errorReply(const std::string& error);

}  // namespace velaclockd
