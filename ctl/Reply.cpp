#include "ctl/Reply.h"

#include <fmt/format.h>

namespace velaclockctl {

namespace {
constexpr std::size_t maxQuotedBytes = 160;

bool hasShape(const Json& value, Shape shape) {
  switch (shape) {
    case Shape::object:
      return value.is_object();
    case Shape::array:
      return value.is_array();
    case Shape::string:
      return value.is_string();
    case Shape::unsignedNumber:
      return value.is_number_unsigned();
    case Shape::boolean:
      return value.is_boolean();
  }
  return false;
}

const char* describe(Shape shape) {
  switch (shape) {
    case Shape::object:
      return "an object";
    case Shape::array:
      return "an array";
    case Shape::string:
      return "a string";
    case Shape::unsignedNumber:
      return "an unsigned number";
    case Shape::boolean:
      return "true or false";
  }
  return "?";
}

// The reply as the message quotes it: short enough for one line.
std::string quoted(const Json& reply) {
  std::string text = reply.dump(-1, ' ', false, Json::error_handler_t::replace);
  if (text.size() > maxQuotedBytes) text = text.substr(0, maxQuotedBytes) + "...";
  return text;
}
}  // namespace

const Json& Reply::member(const char* name, Shape shape) const {
  static const Json missing;  // null: no shape, so a missing member is refused as a wrong one
  const auto it = json_.find(name);
  return expect(it == json_.end() ? missing : *it, shape, fmt::format("`{}`", name));
}

const Json& Reply::expect(const Json& value, Shape shape, std::string_view what) const {
  if (!hasShape(value, shape)) {
    throw NoDaemon(fmt::format("velaclockd answered {} to `{}`: expected {} to be {}",
                               quoted(json_), op_, what, describe(shape)));
  }
  return value;
}

}  // namespace velaclockctl
