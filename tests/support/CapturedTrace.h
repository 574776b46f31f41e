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

  // The message part of each line: what follows "<time> <pid> <facility>/<level> <file>:<line>
  // <function> ".
  std::vector<std::string> messages() const { return fields(5, -1); }
  // The origin of each line: its "<file>:<line> <function>".
  std::vector<std::string> origins() const { return fields(3, 5); }
  // How many messages contain `text`.
  std::size_t count(const std::string& text) const {
    const auto all = messages();
    return static_cast<std::size_t>(
        std::count_if(all.begin(), all.end(),
                      [&](const std::string& m) { return m.find(text) != std::string::npos; }));
  }

  std::vector<std::string> lines;

 private:
  // Of each line, the text from its field `first` to before its field `end`, or to its end for -1
  // (fields count from 0 and are separated by blanks; the message, which has blanks of its own, is
  // the last).
  std::vector<std::string> fields(int first, int end) const {
    std::vector<std::string> out;
    for (const auto& line : lines) {
      const std::size_t begin = blankBefore(line, first);
      const std::size_t stop = end < 0 ? std::string::npos : blankBefore(line, end);
      out.push_back(begin == std::string::npos ? line : line.substr(begin + 1, stop - begin - 1));
    }
    return out;
  }
  // Where the blank before field `field` of `line` is, or npos.
  static std::size_t blankBefore(const std::string& line, int field) {
    std::size_t at = 0;
    for (int i = 0; i < field && at != std::string::npos; ++i) at = line.find(' ', at + 1);
    return at;
  }

  Kel::TraceSink previous_;
};
