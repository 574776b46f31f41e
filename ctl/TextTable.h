#pragma once

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace velaclockctl {

// `text` with each control character and backslash escaped (\n, \t, \r, \\, \xNN), so that a
// name cannot break a line of human output or write to the terminal.
std::string printable(const std::string& text);

// A table of text, printed with its columns aligned under a header row; cells are escaped as
// printable() does (the JSON rows keep the text exactly).
class TextTable {
 public:
  explicit TextTable(std::vector<std::string> header) : rows_{std::move(header)} {}
  void rowIs(std::vector<std::string> row) { rows_.push_back(std::move(row)); }
  std::string text() const;
  // The rows as JSON for scripts: one object per row, its members named by the header, with
  // null where the text shows "-".
  nlohmann::ordered_json json() const;

 private:
  std::vector<std::vector<std::string>> rows_;
};

}  // namespace velaclockctl
