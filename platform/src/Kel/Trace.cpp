#include "Kel/Trace.h"

#include <fmt/format.h>
#include <fnmatch.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "Kel/Time.h"

namespace Kel {

namespace {

struct FilterTerm {
  String pattern;
  std::uint16_t levels;
};

std::optional<std::uint16_t> parseLevels(std::string_view text) {
  if (text.empty()) return std::nullopt;
  std::uint16_t levels = 0;
  for (std::size_t i = 0; i < text.size();) {
    if (!std::isdigit(static_cast<unsigned char>(text[i]))) return std::nullopt;
    int first = text[i] - '0';
    int last = first;
    if (i + 2 < text.size() && text[i + 1] == '-') {
      if (!std::isdigit(static_cast<unsigned char>(text[i + 2]))) return std::nullopt;
      last = text[i + 2] - '0';
      if (last < first) return std::nullopt;
      i += 3;
    } else {
      i += 1;
    }
    for (int level = first; level <= last; ++level) levels |= std::uint16_t(1U << level);
  }
  return levels;
}

bool validPattern(std::string_view pattern) {
  // Not strchr: it finds the terminating NUL, and a NUL would cut the pattern short for fnmatch.
  constexpr std::string_view punctuation = "_*?:.-";
  if (pattern.empty()) return false;
  for (const char c : pattern) {
    if (!std::isalnum(static_cast<unsigned char>(c)) &&
        punctuation.find(c) == std::string_view::npos) {
      return false;
    }
  }
  return true;
}

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) {
    text.remove_prefix(1);
  }
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) {
    text.remove_suffix(1);
  }
  return text;
}

std::optional<std::vector<FilterTerm>> parseFilter(std::string_view filter, std::string* error) {
  std::vector<FilterTerm> terms;
  if (trimmed(filter).empty()) return terms;
  while (true) {
    const std::size_t comma = filter.find(',');
    const std::string_view term = trimmed(filter.substr(0, comma));
    const std::size_t slash = term.find('/');
    const std::string_view pattern = term.substr(0, slash);
    std::optional<std::uint16_t> levels = std::uint16_t(0x3FF);
    if (slash != std::string_view::npos) levels = parseLevels(term.substr(slash + 1));
    if (!validPattern(pattern) || !levels) {
      if (error) {
        *error = fmt::format(
            "bad trace filter term \"{}\": expected Facility or Facility/LEVELS, where LEVELS is "
            "digits and ranges such as 0-9, 07 or 0-57",
            term);
      }
      return std::nullopt;
    }
    terms.push_back({String(pattern), *levels});
    if (comma == std::string_view::npos) break;
    filter.remove_prefix(comma + 1);
  }
  return terms;
}

class TraceFacility {
 public:
  TraceFacility() {
    reopenFile();
    if (const char* filter = std::getenv("TRACE")) {
      std::string error;
      if (!filterIs(filter, &error)) std::fprintf(stderr, "TRACE: %s\n", error.c_str());
    }
  }
  ~TraceFacility() {
    if (file_) std::fclose(file_);
  }

  TraceHandle& handle(std::string_view facility) {
    auto it = handles_.find(facility);
    if (it == handles_.end()) {
      auto handle = std::make_unique<TraceHandle>(String(facility), levelsFor(facility));
      it = handles_.emplace(String(facility), std::move(handle)).first;
    }
    return *it->second;
  }

  bool filterIs(std::string_view filter, std::string* error) {
    auto terms = parseFilter(filter, error);
    if (!terms) return false;
    terms_ = std::move(*terms);
    filter_ = String(filter);
    for (auto& [facility, handle] : handles_) handle->levelsIs(levelsFor(facility));
    return true;
  }
  const String& filter() const { return filter_; }

  TraceSink sinkIs(TraceSink sink) { return std::exchange(sink_, std::move(sink)); }

  // Opens the file named by TRACEFILE anew, as rotated logs want; the file in use stays when the
  // new one cannot be opened.
  void reopenFile() {
    const char* name = std::getenv("TRACEFILE");
    if (!name || !*name) return;
    std::FILE* reopened = std::fopen(name, "ae");
    if (!reopened) {
      std::fprintf(stderr, "TRACEFILE: cannot open %s: %s\n", name, std::strerror(errno));
      return;
    }
    if (file_) std::fclose(file_);
    file_ = reopened;
  }

  void emit(std::string_view line) {
    if (sink_) {
      sink_(line);
      return;
    }
    std::FILE* out = file_ ? file_ : stderr;
    std::fwrite(line.data(), 1, line.size(), out);
    std::fputc('\n', out);
    std::fflush(out);
  }

 private:
  std::uint16_t levelsFor(std::string_view facility) const {
    const String name(facility);
    std::uint16_t levels = 0;
    for (const FilterTerm& term : terms_) {
      if (fnmatch(term.pattern.c_str(), name.c_str(), 0) == 0) levels |= term.levels;
    }
    return levels;
  }

  std::map<String, std::unique_ptr<TraceHandle>, std::less<>> handles_;
  std::vector<FilterTerm> terms_;
  String filter_;
  TraceSink sink_;
  std::FILE* file_ = nullptr;
};

TraceFacility& facility() {
  static TraceFacility theFacility;
  return theFacility;
}

}  // namespace

TraceHandle& traceHandle(std::string_view name) {
  return facility().handle(name);
}

bool traceFilterIs(std::string_view filter, std::string* error) {
  return facility().filterIs(filter, error);
}

const String& traceFilter() {
  return facility().filter();
}

TraceSink traceSinkIs(TraceSink sink) {
  return facility().sinkIs(std::move(sink));
}

void traceFileReopen() {
  facility().reopenFile();
}

void invariantFailed(const TraceHandle& handle, std::string_view invariant, const char* file,
                     int line, const char* function) {
  const std::string report =
      fmt::format("invariant failed: {} ({}:{} {})", invariant, file, line, function);
  KEL_TRACE(handle, 0) << report;
  std::fprintf(stderr, "%s: %s\n", handle.facility().c_str(), report.c_str());
}

std::string traceTimestamp(double utc) {
  double whole = std::floor(utc);
  auto micros = static_cast<long>(std::llround((utc - whole) * 1e6));
  if (micros == 1000000) {
    whole += 1;
    micros = 0;
  }
  const auto seconds = static_cast<std::time_t>(whole);
  std::tm tm{};
  gmtime_r(&seconds, &tm);
  return fmt::format("{:04}-{:02}-{:02}T{:02}:{:02}:{:02}.{:06}Z", tm.tm_year + 1900, tm.tm_mon + 1,
                     tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, micros);
}

TraceHelper::TraceHelper(const TraceHandle& handle, int level, const char* file, int line,
                         const char* function)
    : handle_(handle), level_(level), file_(file), line_(line), function_(function) {
  message_ << std::boolalpha;
}

TraceHelper::~TraceHelper() {
  facility().emit(fmt::format("{} {} {}/{} {}:{} {} {}", traceTimestamp(System::currentTimeUtc()),
                              getpid(), handle_.facility(), level_, file_, line_, function_,
                              message_.str()));
}

}  // namespace Kel
