#pragma once

#include <algorithm>
#include <string>
#include <vector>

#include "Kel/Trace.h"

// Captures the trace lines emitted while it lives, under the filter it is given.
class CapturedTrace {
 public:
  explicit CapturedTrace(const char* filter = "*") {
    Kel::traceFilterIs(filter);
    previous_ = Kel::traceSinkIs([this](std::string_view line) { lines.emplace_back(line); });
  }
  ~CapturedTrace() {
    Kel::traceSinkIs(previous_);
    Kel::traceFilterIs("");
  }
  CapturedTrace(const CapturedTrace&) = delete;
  CapturedTrace& operator=(const CapturedTrace&) = delete;

  // The message part of each line: what follows "<file>:<line> <function> ".
  std::vector<std::string> messages() const {
    std::vector<std::string> out;
    for (const auto& line : lines) {
      std::size_t at = 0;
      for (int field = 0; field < 5 && at != std::string::npos; ++field) {
        at = line.find(' ', at + 1);
      }
      out.push_back(at == std::string::npos ? line : line.substr(at + 1));
    }
    return out;
  }
  // The origin of each line: its "<file>:<line> <function>".
  std::vector<std::string> origins() const {
    std::vector<std::string> out;
    for (const auto& line : lines) {
      std::size_t begin = 0;
      for (int field = 0; field < 3 && begin != std::string::npos; ++field) {
        begin = line.find(' ', begin + 1);
      }
      const std::size_t end = begin == std::string::npos ? begin : line.find(' ', begin + 1);
      const std::size_t last = end == std::string::npos ? end : line.find(' ', end + 1);
      out.push_back(last == std::string::npos ? line : line.substr(begin + 1, last - begin - 1));
    }
    return out;
  }
  // How many messages contain `text`.
  std::size_t count(const std::string& text) const {
    const auto all = messages();
    return static_cast<std::size_t>(
        std::count_if(all.begin(), all.end(),
                      [&](const std::string& m) { return m.find(text) != std::string::npos; }));
  }

  std::vector<std::string> lines;

 private:
  Kel::TraceSink previous_;
};
