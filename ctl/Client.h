#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>

#include <nlohmann/json.hpp>

namespace velaclockctl {

// Exit statuses of velaclockctl.
inline constexpr int exitOk = 0;
inline constexpr int exitRefused = 1;   // the daemon refused the request
inline constexpr int exitUsage = 2;     // bad command line
inline constexpr int exitNoDaemon = 3;  // no daemon answers on the socket

// No daemon answers on the socket (or it hung up).
class NoDaemon : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The daemon said no; the message is its reason.
class Refused : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// One connection to velaclockd's control socket.
class Client {
 public:
  // Connects; throws NoDaemon.
  explicit Client(const std::filesystem::path& socket);
  ~Client();
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  // Sends one request and returns the reply of a request that succeeded; throws Refused with
  // the daemon's reason, NoDaemon when the connection fails.
  nlohmann::ordered_json request(const nlohmann::ordered_json& request);

 private:
  std::filesystem::path socket_;
  int fd_;
  std::string buffer_;
};

}  // namespace velaclockctl
