#pragma once

#include <CLI/CLI.hpp>
#include <cmath>
#include <string>

#include "velaclock/ControlProtocol.h"

// Checks of command-line values that velaclockd and velaclockctl share.
namespace velaclock {

// A number of seconds: finite and positive (CLI::PositiveNumber lets "nan" and "inf" through).
inline const CLI::Validator finitePositiveSeconds(
    [](const std::string& text) -> std::string {
      double seconds = 0;
      if (!CLI::detail::lexical_cast(text, seconds) || !std::isfinite(seconds) || seconds <= 0) {
        return "expected a finite positive number of seconds, not `" + text + "`";
      }
      return {};
    },
    "SECONDS");

// An instance name (see instanceNameError).
inline const CLI::Validator instanceName(
    [](const std::string& text) { return instanceNameError(text); }, "NAME");

// A value that may not be empty, such as a file name.
inline const CLI::Validator nonEmpty(
    [](const std::string& text) -> std::string {
      return text.empty() ? "expected a value, not an empty string" : "";
    },
    "");

}  // namespace velaclock
