#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

// Exact sequences that other tools match on (trace lines, above all) are kept as data: one line
// per line in tests/golden/<name>, where "{...}" stands for any text (an address, a time). A
// mismatch names the first line that differs and shows both sides around it. With
// VELACLOCK_UPDATE_GOLDEN set in the environment, the file is written from what was seen instead.
inline ::testing::AssertionResult matchesGolden(const std::vector<std::string>& seen,
                                                const std::string& name) {
  const std::filesystem::path file = std::filesystem::path(VELACLOCK_GOLDEN_DIR) / name;
  if (std::getenv("VELACLOCK_UPDATE_GOLDEN")) {
    std::filesystem::create_directories(file.parent_path());
    std::ofstream out(file);
    for (const auto& line : seen) out << line << "\n";
    return ::testing::AssertionSuccess() << "written " << file;
  }
  std::vector<std::string> golden;
  std::ifstream in(file);
  if (!in) return ::testing::AssertionFailure() << "no golden file " << file;
  for (std::string line; std::getline(in, line);) golden.push_back(line);
  const auto matches = [](const std::string& expected, const std::string& actual) {
    const std::string wildcard = "{...}";
    const auto at = expected.find(wildcard);
    if (at == std::string::npos) return expected == actual;
    const std::string tail = expected.substr(at + wildcard.size());
    return actual.size() >= at + tail.size() && actual.compare(0, at, expected, 0, at) == 0 &&
           actual.compare(actual.size() - tail.size(), tail.size(), tail) == 0;
  };
  for (std::size_t i = 0; i < std::max(golden.size(), seen.size()); ++i) {
    const std::string expected = i < golden.size() ? golden[i] : "(end)";
    const std::string actual = i < seen.size() ? seen[i] : "(end)";
    if (i < golden.size() && i < seen.size() && matches(expected, actual)) continue;
    return ::testing::AssertionFailure()
           << file.string() << ":" << i + 1 << " differs\n  golden: " << expected
           << "\n  seen:   " << actual << "\n(" << seen.size() << " lines seen, " << golden.size()
           << " in the file; VELACLOCK_UPDATE_GOLDEN=1 rewrites it)";
  }
  return ::testing::AssertionSuccess();
}
