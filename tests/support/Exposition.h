#pragma once

#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <sstream>
#include <string>

// The samples of a Prometheus text exposition, "name{labels}" to value. Fails the test on a line
// of the wrong shape, a sample of a family with no TYPE before it, or a histogram whose buckets
// fall or whose +Inf bucket is not its count.
inline std::map<std::string, double> parseExposition(const std::string& text) {
  static const std::regex typeLine(
      R"(# TYPE ([a-zA-Z_:][a-zA-Z0-9_:]*) (counter|gauge|histogram))");
  static const std::regex helpLine(R"(# HELP [a-zA-Z_:][a-zA-Z0-9_:]* .+)");
  static const std::regex sampleLine(
      R"re(([a-zA-Z_:][a-zA-Z0-9_:]*)(\{([a-zA-Z_][a-zA-Z0-9_]*="([^"\\]|\\.)*",?)*\})? (\S+))re");
  std::map<std::string, std::string> types;
  std::map<std::string, double> samples;
  double lastBucket = 0;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    std::smatch match;
    if (std::regex_match(line, match, typeLine)) {
      EXPECT_EQ(types.count(match[1]), 0u) << "a second TYPE: " << line;
      types[match[1]] = match[2];
      lastBucket = 0;
      continue;
    }
    if (std::regex_match(line, helpLine)) continue;
    if (!std::regex_match(line, match, sampleLine)) {
      ADD_FAILURE() << "not an exposition line: `" << line << "`";
      continue;
    }
    const std::string name = match[1];
    const double value = std::stod(match[5]);
    std::string family = name;
    for (const char* suffix : {"_bucket", "_sum", "_count"}) {
      const std::string s = suffix;
      if (!types.count(family) && name.size() > s.size() &&
          name.compare(name.size() - s.size(), s.size(), s) == 0) {
        family = name.substr(0, name.size() - s.size());
      }
    }
    EXPECT_EQ(types.count(family), 1u) << "no TYPE before " << line;
    if (name != family && name.ends_with("_bucket")) {
      EXPECT_GE(value, lastBucket) << line;
      lastBucket = value;
    }
    samples[name + match[2].str()] = value;
  }
  for (const auto& [family, type] : types) {
    if (type != "histogram") continue;
    EXPECT_EQ(samples[family + "_bucket{le=\"+Inf\"}"], samples[family + "_count"]) << family;
  }
  return samples;
}
