#pragma once

#include <stdexcept>
#include <string>

#include <yaml-cpp/yaml.h>

namespace velaclockd {

// A platform description that cannot be used; the message names file, line and column and what
// was expected there.
class DescriptionError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Throws a DescriptionError for `node` of `file`.
[[noreturn]] void descriptionError(const std::string& file, const YAML::Node& node,
                                   const std::string& what);
[[noreturn]] void descriptionError(const std::string& file, const YAML::Mark& mark,
                                   const std::string& what);

}  // namespace velaclockd
