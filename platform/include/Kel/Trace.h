#pragma once

#include <cstdint>
#include <functional>
#include <ios>
#include <sstream>
#include <string>
#include <string_view>

#include "Kel/String.h"

namespace Kel {

// The enabled levels (0 to 9) of one trace facility.
class TraceHandle {
 public:
  explicit TraceHandle(String facility, std::uint16_t levels = 0)
      : facility_(std::move(facility)), levels_(levels) {}
  const String& facility() const noexcept { return facility_; }
  bool enabled(int level) const noexcept {
    return level >= 0 && level <= 9 && ((levels_ >> level) & 1U);
  }
  std::uint16_t levels() const noexcept { return levels_; }
  void levelsIs(std::uint16_t levels) noexcept { levels_ = levels; }

 private:
  String facility_;
  std::uint16_t levels_;
};

// The handle of `facility`, made (under the current filter) on first use; it lives as long as the
// process. The first call of any trace function reads the filter from the environment (TRACE).
TraceHandle& traceHandle(std::string_view facility);

// Sets the trace filter of every handle, present and future. The filter is a comma-separated list
// of `Facility/LEVELS` terms: LEVELS is digits and ranges with no separators ("0-9", "07", "0-57"),
// a bare `Facility` enables 0-9, and `*` (or any fnmatch pattern) matches several facilities. A
// facility gets the union of the levels of every term that matches it. An invalid filter changes
// nothing and returns false with the reason in `error`.
bool traceFilterIs(std::string_view filter, std::string* error = nullptr);
const String& traceFilter();

// Where trace lines go: by default stderr, or appended to the file named by TRACEFILE. A test can
// install its own sink (null restores the default); the previous sink is returned.
using TraceSink = std::function<void(std::string_view line)>;
TraceSink traceSinkIs(TraceSink sink);
// Opens the file named by TRACEFILE again (after it was rotated away); trace lines go to the new
// file from then on. Without TRACEFILE, or when it cannot be opened, nothing changes.
void traceFileReopen();

// Builds one trace line and emits it when destroyed:
//   <UTC ISO-8601 with microseconds> <pid> <Facility>/<level> <file>:<line> <function> <message>
// Values are inserted as into an ostream, except that 8-bit integers are shown as numbers and
// booleans as true or false.
class TraceHelper {
 public:
  TraceHelper(const TraceHandle& handle, int level, const char* file, int line,
              const char* function);
  ~TraceHelper();
  TraceHelper(const TraceHelper&) = delete;
  TraceHelper& operator=(const TraceHelper&) = delete;

  template <class T>
  TraceHelper& operator<<(const T& value) {
    message_ << value;
    return *this;
  }
  TraceHelper& operator<<(unsigned char value) {
    message_ << static_cast<unsigned>(value);
    return *this;
  }
  TraceHelper& operator<<(signed char value) {
    message_ << static_cast<int>(value);
    return *this;
  }
  TraceHelper& operator<<(std::ios_base& (*manipulator)(std::ios_base&)) {
    message_ << manipulator;
    return *this;
  }

 private:
  const TraceHandle& handle_;
  int level_;
  const char* file_;
  int line_;
  const char* function_;
  std::ostringstream message_;
};

// Reports a failed invariant: its text, file, line and operation, at level 0 of `handle` and on
// stderr. The caller then abandons the path it was on; the process goes on.
void invariantFailed(const TraceHandle& handle, std::string_view invariant, const char* file,
                     int line, const char* function);

// The time part of a trace line for UTC seconds `utc`: "2026-12-06T19:33:52.123456Z".
std::string traceTimestamp(double utc);

}  // namespace Kel

// Traces one message at `level` of `handle` when that level is enabled; otherwise the operands
// after the macro are not evaluated at all:  KEL_TRACE(handle, 0) << "text " << value;
// As KEL_TRACE, naming `function` as the line's origin: for a helper that traces on behalf of the
// operation it serves.
#define KEL_TRACE_FOR(handle, level, function) \
  if (!(handle).enabled(level)) {              \
  } else                                       \
    ::Kel::TraceHelper((handle), (level), __FILE__, __LINE__, (function))

// Reports the failed invariant `text` from the calling operation (see invariantFailed).
#define KEL_INVARIANT_FAILED(handle, text) \
  ::Kel::invariantFailed((handle), (text), __FILE__, __LINE__, __func__)

#define KEL_TRACE(handle, level)  \
  if (!(handle).enabled(level)) { \
  } else                          \
    ::Kel::TraceHelper((handle), (level), __FILE__, __LINE__, __func__)
