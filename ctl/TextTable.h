#pragma once

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace velaclockctl {

// A table of text, printed with its columns aligned under a header row.
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
