// velaclockctl: the operator's command line for velaclockd.
#include <signal.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <thread>

#include "ctl/Client.h"
#include "ctl/PpsAge.h"
#include "ctl/PpsRecord.h"
#include "ctl/Show.h"
#include "velaclock/ControlProtocol.h"

namespace velaclockctl {

namespace {

struct Command {
  std::string socket;
  std::string instance = "default";
  std::string table;
  std::string path;
  std::vector<std::string> words;  // set: [COLLECTION KEY] ATTR=VALUE...; del: COLLECTION KEY
  std::string type;
  std::string filter;
  std::string ham;
  bool follow = false;
  std::string signal;  // sim: the simulated signal
  std::string fault;   // sim: what to do to it
};

std::filesystem::path socketOf(const Command& command) {
  return command.socket.empty() ? velaclock::socketPath(command.instance)
                                : std::filesystem::path(command.socket);
}

// Splits `set` words into an optional COLLECTION KEY and the ATTR=VALUE pairs.
nlohmann::ordered_json setRequest(const Command& command) {
  nlohmann::ordered_json request{{"op", "set"}, {"path", command.path}};
  std::size_t first = 0;
  if (!command.words.empty() && command.words[0].find('=') == std::string::npos) {
    if (command.words.size() < 2 || command.words[1].find('=') != std::string::npos) {
      throw CLI::ValidationError("set", "give COLLECTION and KEY, then ATTR=VALUE...");
    }
    request["collection"] = command.words[0];
    request["key"] = command.words[1];
    first = 2;
  }
  if (!command.type.empty()) {
    if (first == 0) throw CLI::ValidationError("set", "--type needs COLLECTION KEY");
    request["type"] = command.type;
  }
  nlohmann::ordered_json attributes = nlohmann::ordered_json::object();
  for (std::size_t i = first; i < command.words.size(); ++i) {
    const auto& word = command.words[i];
    const auto equals = word.find('=');
    if (equals == std::string::npos || equals == 0) {
      throw CLI::ValidationError("set", "expected ATTR=VALUE, not `" + word + "`");
    }
    attributes[word.substr(0, equals)] = word.substr(equals + 1);
  }
  request["attributes"] = attributes;
  return request;
}

void printRegisters(const nlohmann::ordered_json& reply) {
  const std::string hex = reply["registers"];
  std::printf("%s: %u registers (rows of zeros left out)\n",
              reply["ham"].get<std::string>().c_str(), reply["size"].get<unsigned>());
  for (std::size_t row = 0; row * 32 < hex.size(); ++row) {
    const std::string bytes = hex.substr(row * 32, 32);
    if (bytes.find_first_not_of('0') == std::string::npos) continue;
    std::printf("%04zx:", row * 16);
    for (std::size_t i = 0; i < bytes.size(); i += 2)
      std::printf(" %s", bytes.substr(i, 2).c_str());
    std::printf("\n");
  }
}

int pps(const Command& command) {
  std::uint64_t shown = 0, writer = 0;
  for (;;) {
    std::string why;
    const auto record = readPpsRecord(command.instance, why);
    if (!record && !command.follow) {
      std::fprintf(stderr, "velaclockctl: %s\n", why.c_str());
      return exitRefused;
    }
    if (record && (record->info.published != shown || record->info.writer_id != writer)) {
      shown = record->info.published;
      writer = record->info.writer_id;
      const double age = edgeAgeSeconds(record->edge.edge_timestamp_ns, utcNowNanoseconds());
      std::printf("edge %s  poll %s  age %s  (edge %llu ns, record %llu of writer %llx)\n",
                  utcNanoseconds(record->edge.edge_timestamp_ns).c_str(),
                  utcNanoseconds(record->edge.poll_timestamp_ns).c_str(), edgeAgeText(age).c_str(),
                  static_cast<unsigned long long>(record->edge.edge_timestamp_ns),
                  static_cast<unsigned long long>(shown), static_cast<unsigned long long>(writer));
      std::fflush(stdout);
    }
    if (!command.follow) return exitOk;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

void printPulse(const nlohmann::ordered_json& reply) {
  std::printf("simulated PPS pulse: %s", reply["stopped"].get<bool>() ? "stopped" : "running");
  if (reply["heldCount"].is_number()) {
    std::printf(", count held at %d ms", reply["heldCount"].get<int>());
  }
  std::printf("\n");
}

int run(CLI::App& app, const Command& command) {
  const std::string name = app.get_subcommands().front()->get_name();
  if (name == "pps") return pps(command);
  Client client(socketOf(command));
  if (name == "show") {
    std::cout << showTables(client, command.table, command.instance);
  } else if (name == "get") {
    std::cout << client.request({{"op", "get"}, {"path", command.path}})["entity"].dump(2) << "\n";
  } else if (name == "set") {
    std::cout << client.request(setRequest(command))["entity"].dump(2) << "\n";
  } else if (name == "del") {
    client.request({{"op", "del"},
                    {"path", command.path},
                    {"collection", command.words.at(0)},
                    {"key", command.words.at(1)}});
  } else if (name == "trace") {
    std::cout << "trace filter: "
              << client.request({{"op", "trace"}, {"filter", command.filter}})["filter"]
                     .get<std::string>()
              << "\n";
  } else if (name == "regs") {
    printRegisters(client.request({{"op", "regs"}, {"ham", command.ham}}));
  } else if (name == "paths") {
    const auto reply = client.request({{"op", "paths"}});
    for (const auto& entry : reply["paths"]) {
      std::cout << entry["path"].get<std::string>() << "  " << entry["type"].get<std::string>()
                << "\n";
    }
  } else if (name == "sim") {
    printPulse(
        client.request({{"op", "sim"}, {"signal", command.signal}, {"action", command.fault}}));
  }
  return exitOk;
}

// The subcommands and options, filling `command`.
void defineCommandLine(CLI::App& app, Command& command) {
  app.require_subcommand(1);
  auto* socket = app.add_option("--socket", command.socket, "control socket path");
  app.add_option("--instance", command.instance, "daemon instance (default: default)")
      ->excludes(socket);

  auto* show =
      app.add_subcommand("show", "tables: sources, sinks, muxes, pps, ports (all when none)");
  show->add_option("table", command.table)
      ->check(CLI::IsMember({"sources", "sinks", "muxes", "pps", "ports"}));
  app.add_subcommand("get", "print the entity at PATH as JSON")
      ->add_option("PATH", command.path)
      ->required();
  auto* set = app.add_subcommand(
      "set", "set attributes of PATH, or of an entry of one of its collections (made when absent)");
  set->add_option("PATH", command.path)->required();
  set->add_option("args", command.words, "[COLLECTION KEY] ATTR=VALUE...")->required();
  set->add_option("--type", command.type,
                  "type of a new entry, e.g. "
                  "Hardware::Clocking::PpsGnssInPortConfig");
  auto* del = app.add_subcommand("del", "delete the entry KEY of COLLECTION at PATH");
  del->add_option("PATH", command.path)->required();
  del->add_option("COLLECTION KEY", command.words)->required()->expected(2);
  app.add_subcommand("trace", "set the daemon's trace filter, e.g. 'VelaClockAgent/0-9'")
      ->add_option("FILTER", command.filter)
      ->required();
  app.add_subcommand("pps",
                     "print the latest PPS edge from shared memory, its age and whether it is "
                     "fresh (newer than 1.5 s)")
      ->add_flag("--follow", command.follow, "keep printing each new edge");
  app.add_subcommand("regs", "dump a simulated register bank")
      ->add_option("HAM", command.ham)
      ->required();
  app.add_subcommand("paths", "list the state database's paths and types");
  auto* sim = app.add_subcommand(
      "sim", "break the simulated PPS pulse on purpose (refused on real hardware)");
  sim->add_option("SIGNAL", command.signal, "the simulated signal: pps")
      ->required()
      ->check(CLI::IsMember({"pps"}));
  sim->add_option("FAULT", command.fault,
                  "stop, start (also ends saturate), glitch (one spurious edge) or saturate "
                  "(hold the count past 1020 ms)")
      ->required()
      ->check(CLI::IsMember({"stop", "start", "glitch", "saturate"}));
}

}  // namespace

}  // namespace velaclockctl

int main(int argc, char** argv) {
  using namespace velaclockctl;
  try {
    Command command;
    CLI::App app{"velaclockctl: look at and change what velaclockd's agent works on"};
    defineCommandLine(app, command);
    try {
      app.parse(argc, argv);
      return run(app, command);
    } catch (const CLI::ParseError& error) {
      return app.exit(error) == 0 ? exitOk : exitUsage;
    }
  } catch (const NoDaemon& error) {
    std::fprintf(stderr, "velaclockctl: %s\n", error.what());
    return exitNoDaemon;
  } catch (const Refused& error) {
    std::fprintf(stderr, "velaclockctl: refused: %s\n", error.what());
    return exitRefused;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "velaclockctl: %s\n", error.what());
    return exitNoDaemon;
  }
}
