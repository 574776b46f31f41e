#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace velaclockctl {

using Json = nlohmann::ordered_json;

// No daemon answers on the socket (or it hung up, or stayed silent), or what it answered is not a
// valid reply.
class NoDaemon : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The daemon said no; the message is its reason.
class Refused : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The JSON types a reply's parts are checked against.
enum class Shape {
  object,
  array,
  string,
  unsignedNumber,
  boolean,
};

// The reply to a request that succeeded. Its parts are checked before use: a daemon of another
// version, or something else on the socket, ends in a clear NoDaemon, not a crash.
class Reply {
 public:
  Reply(Json json, std::string op) : json_(std::move(json)), op_(std::move(op)) {}

  // The member `name` when it is there with `shape`; throws NoDaemon otherwise.
  const Json& member(const char* name, Shape shape) const;
  // Whether the reply has the member `name`, which member() then checks.
  bool has(const char* name) const { return json_.contains(name); }
  // `value`, a part of this reply that `what` describes, when it has `shape`; throws NoDaemon.
  const Json& expect(const Json& value, Shape shape, std::string_view what) const;

 private:
  Json json_;
  std::string op_;
};

}  // namespace velaclockctl
