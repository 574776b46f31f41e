#include "ctl/TextTable.h"

#include <fmt/format.h>

#include <algorithm>

namespace velaclockctl {

namespace {
// The columns `text` takes on a terminal: one per character, UTF-8 continuation bytes taking none
// (the tree's line drawing is three bytes a character).
std::size_t columns(const std::string& text) {
  return static_cast<std::size_t>(
      std::count_if(text.begin(), text.end(), [](char c) { return (c & 0xC0) != 0x80; }));
}
}  // namespace

std::string printable(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '\\') {
      out += "\\\\";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c == '\r') {
      out += "\\r";
    } else if (byte < 0x20 || byte == 0x7f) {
      out += fmt::format("\\x{:02x}", byte);
    } else {
      out += c;
    }
  }
  return out;
}

std::string TextTable::text() const {
  std::vector<std::vector<std::string>> cells;
  std::vector<std::size_t> widths;
  for (const auto& row : rows_) {
    auto& shown = cells.emplace_back();
    widths.resize(std::max(widths.size(), row.size()));
    for (std::size_t i = 0; i < row.size(); ++i) {
      shown.push_back(printable(row[i]));
      widths[i] = std::max(widths[i], columns(shown[i]));
    }
  }
  std::string out;
  for (const auto& row : cells) {
    std::string line;
    for (std::size_t i = 0; i < row.size(); ++i) {
      line += row[i];
      if (i + 1 < row.size()) line += std::string(widths[i] - columns(row[i]) + 2, ' ');
    }
    out += line + "\n";
  }
  return out;
}

nlohmann::ordered_json TextTable::json() const {
  auto rows = nlohmann::ordered_json::array();
  const auto& header = rows_.front();
  for (std::size_t r = 1; r < rows_.size(); ++r) {
    auto& row = rows.emplace_back(nlohmann::ordered_json::object());
    for (std::size_t i = 0; i < header.size() && i < rows_[r].size(); ++i) {
      const std::string& value = rows_[r][i];
      row[header[i]] = value == "-" ? nlohmann::ordered_json() : nlohmann::ordered_json(value);
    }
  }
  return rows;
}

}  // namespace velaclockctl
