#pragma once

#include <memory>
#include <string>

#include "host/ControlServer.h"

// A connection that keeps the reply the daemon would send it, for driving a request (a save, say)
// in-process. It never streams.
class ReplyCollector : public velaclockd::Connection {
 public:
  bool streamIs(std::unique_ptr<velaclockd::Stream>) override { return false; }
  bool streaming() const override { return false; }
  bool push(const nlohmann::ordered_json&) override { return false; }
  void streamEnds(const std::string&) override {}
  void replyLater(std::unique_ptr<velaclockd::PendingReply> pending) override {
    pending_ = std::move(pending);
  }
  void replyIs(std::string line) override { reply = std::move(line); }
  std::string reply;  // the reply line, once made

 private:
  std::unique_ptr<velaclockd::PendingReply> pending_;
};
