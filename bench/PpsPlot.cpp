#include "PpsPlot.h"

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace ppsbench {

namespace {

// A log scale shows an error of 0 at the floor of the axis.
constexpr double floorUs = 0.01;

// gnuplot's string quoting: a double-quoted string with backslash escapes.
std::string quoted(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

// One data block per method: "seconds error" rows, then "error share" rows of its sorted errors,
// the blocks separated by two blank lines so that `index` picks them.
void writeData(const std::vector<PlottedMethod>& methods, const std::filesystem::path& file) {
  std::ofstream out(file);
  for (const PlottedMethod& method : methods) {
    for (std::size_t i = 0; i < method.seconds.size(); ++i) {
      out << method.seconds[i] << ' ' << std::max(method.errorsUs[i], floorUs) << '\n';
    }
    out << "\n\n";
    std::vector<double> sorted = method.errorsUs;
    std::sort(sorted.begin(), sorted.end());
    for (std::size_t i = 0; i < sorted.size(); ++i) {
      out << std::max(sorted[i], floorUs) << ' '
          << static_cast<double>(i + 1) / static_cast<double>(sorted.size()) << '\n';
    }
    out << "\n\n";
  }
  if (!out) throw std::runtime_error("cannot write the plot's data to " + file.string());
}

std::string script(const std::vector<PlottedMethod>& methods, const std::string& title,
                   const std::filesystem::path& data, const std::string& file) {
  // Block 2i of the data holds method i's errors over time, block 2i+1 their distribution.
  const auto block = [&](std::size_t index) {
    return quoted(data.string()) + " index " + std::to_string(index);
  };
  std::string over = "plot ", shares = "plot ";
  for (std::size_t i = 0; i < methods.size(); ++i) {
    const std::string separator = i ? ", " : "";
    const std::string name = " title " + quoted(methods[i].name);
    over += separator;
    over += block(2 * i) + " using 1:2 with points pt 7 ps 0.6" + name;
    shares += separator;
    shares += block(2 * i + 1) + " using 1:2 with steps lw 2" + name;
  }
  const bool png = file.ends_with(".png");
  return std::string(png ? "set terminal pngcairo noenhanced size 1100,900 font 'Helvetica,10'\n"
                         : "set terminal svg noenhanced size 1100,900 dynamic font 'Helvetica,12' "
                           "background '#ffffff'\n") +
         "set output " + quoted(file) +
         "\n"
         "set multiplot layout 2,1 title " +
         quoted(title) +
         "\n"
         "set logscale y\nset grid\nset key outside right\n"
         "set xlabel 'time since the run began (s)'\nset ylabel '|edge error| (µs)'\n"
         "set title 'edge error of each published edge'\n" +
         over +
         "\n"
         "unset logscale\nset logscale x\nset yrange [0:1]\n"
         "set xlabel '|edge error| (µs)'\nset ylabel 'share of edges within'\n"
         "set title 'distribution of the edge error'\n" +
         shares +
         "\n"
         "unset multiplot\n";
}

}  // namespace

void plotEdges(const std::vector<PlottedMethod>& methods, const std::string& title,
               const std::string& file) {
  const auto scratch =
      std::filesystem::temp_directory_path() / ("pps_bench-plot-" + std::to_string(getpid()));
  std::filesystem::create_directories(scratch);
  const auto data = scratch / "edges.dat";
  const auto commands = scratch / "plot.gp";
  writeData(methods, data);
  std::ofstream(commands) << script(methods, title, data, file);
  const pid_t child = fork();
  if (child == 0) {
    execlp("gnuplot", "gnuplot", commands.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  waitpid(child, &status, 0);
  std::filesystem::remove_all(scratch);
  if (!WIFEXITED(status) || WEXITSTATUS(status) == 127) {
    throw std::runtime_error("--plot needs gnuplot (scripts/bootstrap installs gnuplot-nox)");
  }
  if (WEXITSTATUS(status) != 0) throw std::runtime_error("gnuplot could not draw " + file);
}

}  // namespace ppsbench
