#pragma once

#include <string>
#include <vector>

// Draws pps_bench's edges with gnuplot: each method's edge error over the run, and the
// distribution of its errors (the share of edges within each error), one SVG file.
namespace ppsbench {

struct PlottedMethod {
  std::string name;
  std::vector<double> seconds;   // when each edge came, since the run began
  std::vector<double> errorsUs;  // |edge - true edge| of each edge, in µs
};

// Writes `file` through gnuplot; throws std::runtime_error saying why when it cannot.
void plotEdges(const std::vector<PlottedMethod>& methods, const std::string& title,
               const std::string& file);

}  // namespace ppsbench
