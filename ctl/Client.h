#pragma once

#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>

#include "ctl/Reply.h"

namespace velaclockctl {

// Exit statuses of velaclockctl.
inline constexpr int exitOk = 0;
inline constexpr int exitRefused = 1;   // the daemon refused the request
inline constexpr int exitUsage = 2;     // bad command line
inline constexpr int exitNoDaemon = 3;  // no daemon answers on the socket, or not validly

// How long velaclockctl waits for the daemon at each step (connect, send, reply) by default.
inline constexpr double defaultTimeoutSeconds = 5.0;

// One connection to velaclockd's control socket. Every wait is bounded by the timeout, so a
// daemon that stops answering ends in NoDaemon rather than a hang.
class Client {
 public:
  // Connects within `timeoutSeconds`; throws NoDaemon.
  Client(const std::filesystem::path& socket, double timeoutSeconds);
  ~Client();
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  // Sends one request (its "op" names it in messages) and returns the reply of a request that
  // succeeded. A daemon too busy to take it is asked again on a new connection until the
  // timeout. Throws Refused with the daemon's reason (also when the daemon sent the client away
  // before taking the request for another reason), NoDaemon when the connection fails, the
  // daemon does not answer (or stays too busy) within the timeout, or what it answers is not a
  // reply.
  Reply request(const nlohmann::ordered_json& request);
  // The next line a stream sends (after a request that turned the connection into one), waiting
  // as long as it takes; nullopt when the daemon ends the stream. Throws NoDaemon when the line
  // is not a JSON object.
  std::optional<Json> nextStreamLine();

 private:
  class Deadline;
  void connectToDaemon();
  void disconnect();
  std::string exchange(const nlohmann::ordered_json& request, const Deadline& deadline);
  bool sendLine(const std::string& line, const Deadline& deadline);
  bool readLine(std::string& line, const Deadline& deadline);
  Reply checkedReply(const std::string& line, const std::string& op) const;

  std::filesystem::path socket_;
  double timeoutSeconds_;
  int fd_ = -1;
  std::string buffer_;
};

}  // namespace velaclockctl
