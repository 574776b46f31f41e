#include "ctl/CommandLine.h"

#include <signal.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <optional>
#include <thread>

#include "ctl/Client.h"
#include "ctl/Files.h"
#include "ctl/Metrics.h"
#include "ctl/PpsAge.h"
#include "ctl/PpsRecord.h"
#include "ctl/Route.h"
#include "ctl/Show.h"
#include "ctl/Tree.h"
#include "ctl/Watch.h"
#include "velaclock/CommandLine.h"
#include "velaclock/ControlProtocol.h"

namespace velaclockctl {

namespace {

struct Command {
  std::string socket;
  std::string instance = "default";
  double timeout = defaultTimeoutSeconds;  // s
  std::string table;
  std::string path;
  std::vector<std::string> words;  // set: [COLLECTION KEY] ATTR=VALUE...; del: COLLECTION KEY
  std::string type;
  std::string filter;
  std::string ham;
  bool follow = false;
  bool json = false;
  bool dot = false;                // show tree: as Graphviz
  std::vector<std::string> paths;  // watch
  std::string sink, source;        // route
  bool apply = false;
  std::string file;    // save, metrics: where to (stdout when empty)
  std::string signal;  // sim: the simulated signal
  std::string fault;   // sim: what to do to it
};

std::filesystem::path socketOf(const Command& command) {
  return command.socket.empty() ? velaclock::socketPath(command.instance)
                                : std::filesystem::path(command.socket);
}

// Splits `set` words into an optional COLLECTION KEY and the ATTR=VALUE pairs.
Json setRequest(const Command& command) {
  Json request{{"op", "set"}, {"path", command.path}};
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
  Json attributes = Json::object();
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

void printRegisters(const Reply& reply) {
  const std::string hex = reply.member("registers", Shape::string).get<std::string>();
  std::printf("%s: %llu registers (rows of zeros left out)\n",
              reply.member("ham", Shape::string).get<std::string>().c_str(),
              static_cast<unsigned long long>(
                  reply.member("size", Shape::unsignedNumber).get<std::uint64_t>()));
  for (std::size_t row = 0; row * 32 < hex.size(); ++row) {
    const std::string bytes = hex.substr(row * 32, 32);
    if (bytes.find_first_not_of('0') == std::string::npos) continue;
    std::printf("%04zx:", row * 16);
    for (std::size_t i = 0; i < bytes.size(); i += 2)
      std::printf(" %s", bytes.substr(i, 2).c_str());
    std::printf("\n");
  }
}

void printPaths(const Reply& reply) {
  for (const auto& entry : reply.member("paths", Shape::array)) {
    reply.expect(entry, Shape::object, "each of `paths`");
    const auto part = [&](const char* name) {
      const auto it = entry.find(name);
      return reply
          .expect(it == entry.end() ? Json() : *it, Shape::string,
                  std::string("`") + name + "` of each of `paths`")
          .get<std::string>();
    };
    std::cout << part("path") << "  " << part("type") << "\n";
  }
}

// What `pps` exits with when the record cannot be shown: a missing or foreign table means no
// daemon of this identity; an empty or busy one is the daemon's "not now".
int ppsFailureStatus(PpsReadStatus status) {
  switch (status) {
    case PpsReadStatus::noTable:
    case PpsReadStatus::badTable:
      return exitNoDaemon;
    case PpsReadStatus::ok:
    case PpsReadStatus::notPublished:
    case PpsReadStatus::busy:
      return exitRefused;
  }
  return exitNoDaemon;
}

// Whether a daemon takes connections on `socket`: the writer of the instance's tables runs.
bool daemonAnswers(const std::filesystem::path& socket) {
  try {
    Client probe(socket, 1.0);
    return true;
  } catch (const NoDaemon&) {
    return false;
  }
}

void printEdge(const PpsRecord& record) {
  const auto& edge = record.edge;
  const double age = edgeAgeSeconds(edge.edge_timestamp_ns, utcNowNanoseconds());
  std::printf("edge %s  poll %s  age %s  (edge %llu ns, record %llu of writer %llx)\n",
              utcNanoseconds(edge.edge_timestamp_ns).c_str(),
              utcNanoseconds(edge.poll_timestamp_ns).c_str(), edgeAgeText(age).c_str(),
              static_cast<unsigned long long>(edge.edge_timestamp_ns),
              static_cast<unsigned long long>(record.info.published),
              static_cast<unsigned long long>(record.info.writer_id));
  std::fflush(stdout);
}

// Prints each new edge as it is published. When none comes for longer than an edge stays fresh,
// it says so once, and whether the writer is gone (no daemon answers), so that the last line
// shown never stands for what is no longer true; edges are printed again when they come back.
int followPps(const Command& command) {
  std::uint64_t shown = 0, writer = 0;
  auto lastNews = std::chrono::steady_clock::now();
  bool quietSaid = false, goneSaid = false;
  for (;; std::this_thread::sleep_for(std::chrono::milliseconds(50))) {
    const PpsReading reading = readPpsRecord(command.instance);
    const auto& info = reading.record.info;
    if (reading.status == PpsReadStatus::ok &&
        (info.published != shown || info.writer_id != writer)) {
      shown = info.published;
      writer = info.writer_id;
      printEdge(reading.record);
      lastNews = std::chrono::steady_clock::now();
      quietSaid = goneSaid = false;
      continue;
    }
    if (std::chrono::steady_clock::now() - lastNews <
        std::chrono::duration<double>(freshEdgeAgeSeconds)) {
      continue;
    }
    lastNews = std::chrono::steady_clock::now();  // looked again a second and a half from now
    if (!daemonAnswers(socketOf(command))) {
      if (!goneSaid) {
        std::printf("no velaclockd answers for instance %s: the writer is gone; waiting for it\n",
                    command.instance.c_str());
        std::fflush(stdout);
      }
      goneSaid = true;
    } else if (!quietSaid && writer != 0) {
      std::printf("no new edge for %.1f s: the latest one above is stale\n", freshEdgeAgeSeconds);
      std::fflush(stdout);
      quietSaid = true;
      goneSaid = false;
    }
  }
}

int pps(const Command& command) {
  if (command.follow) return followPps(command);
  const PpsReading reading = readPpsRecord(command.instance);
  if (reading.status != PpsReadStatus::ok) {
    std::fprintf(stderr, "velaclockctl: %s\n", reading.why.c_str());
    return ppsFailureStatus(reading.status);
  }
  printEdge(reading.record);
  return exitOk;
}

void printPulse(const Reply& reply) {
  std::printf("simulated PPS pulse: %s",
              reply.member("stopped", Shape::boolean).get<bool>() ? "stopped" : "running");
  if (reply.has("heldCount")) {
    std::printf(", count held at %llu ms",
                static_cast<unsigned long long>(
                    reply.member("heldCount", Shape::unsignedNumber).get<std::uint64_t>()));
  }
  std::printf("\n");
}

// `text` to stdout, or to `file` whole or not at all.
void writeOut(const std::string& file, const std::string& text) {
  if (file.empty()) {
    std::cout << text;
  } else {
    writeFileAtomically(file, text);
  }
}

int run(CLI::App& app, const Command& command) {
  const std::string name = app.get_subcommands().front()->get_name();
  if (name == "pps") return pps(command);
  // What cannot be sent, or written, is refused before the daemon is asked for anything.
  if (!command.file.empty()) fileDestination(command.file);
  const Json set = name == "set" ? setRequest(command) : Json();
  Client client(socketOf(command), command.timeout);
  if (name == "show" && command.table == "tree") {
    std::cout << showTree(client, command.json, command.dot);
  } else if (name == "show") {
    std::cout << (command.json
                      ? showTablesJson(client, command.table, command.instance).dump(2) + "\n"
                      : showTables(client, command.table, command.instance));
  } else if (name == "get") {
    std::cout << client.request({{"op", "get"}, {"path", command.path}})
                     .member("entity", Shape::object)
                     .dump(2)
              << "\n";
  } else if (name == "set") {
    std::cout << client.request(set).member("entity", Shape::object).dump(2) << "\n";
  } else if (name == "del") {
    client.request({{"op", "del"},
                    {"path", command.path},
                    {"collection", command.words.at(0)},
                    {"key", command.words.at(1)}});
  } else if (name == "trace") {
    std::cout << "trace filter: "
              << client.request({{"op", "trace"}, {"filter", command.filter}})
                     .member("filter", Shape::string)
                     .get<std::string>()
              << "\n";
  } else if (name == "regs") {
    printRegisters(client.request({{"op", "regs"}, {"ham", command.ham}}));
  } else if (name == "paths") {
    printPaths(client.request({{"op", "paths"}}));
  } else if (name == "watch") {
    return watchChanges(client, command.paths, command.json);
  } else if (name == "route") {
    return explainRoute(client, command.sink, command.source, command.apply);
  } else if (name == "save") {
    writeOut(
        command.file,
        client.request({{"op", "save"}}).member("description", Shape::string).get<std::string>());
  } else if (name == "metrics") {
    writeOut(command.file, metricsText(client));
  } else if (name == "sim") {
    printPulse(
        client.request({{"op", "sim"}, {"signal", command.signal}, {"action", command.fault}}));
  }
  return exitOk;
}

// The operator's tools beyond reading and writing entities: watch, route, save, metrics, sim.
void defineToolkit(CLI::App& app, Command& command) {
  auto* watch = app.add_subcommand(
      "watch", "print each change of the entities at PATH... (all when none) as it happens");
  watch->add_option("PATH", command.paths);
  watch->add_flag("--json", command.json, "one JSON object per change");
  auto* route = app.add_subcommand(
      "route", "explain how SOURCE would reach SINK through the muxes; nothing is programmed");
  route->add_option("SINK", command.sink)->required();
  route->add_option("SOURCE", command.source)->required();
  route->add_flag("--apply", command.apply, "then file SINK's source, as set would");
  app.add_subcommand("save",
                     "write the state database as a platform description that velaclockd "
                     "--platform loads back (to stdout without FILE)")
      ->add_option("FILE", command.file);
  app.add_subcommand("metrics",
                     "print the agent's counters in the Prometheus text format (to stdout "
                     "without --output)")
      ->add_option("--output", command.file,
                   "write them to FILE atomically, e.g. for node_exporter's textfile collector");
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

// The subcommands and options, filling `command`.
void defineCommandLine(CLI::App& app, Command& command) {
  app.require_subcommand(1);
  app.add_option("--socket", command.socket,
                 "control socket path; default: the instance's socket in the runtime directory")
      ->check(velaclock::nonEmpty);
  app.add_option("--instance", command.instance,
                 "daemon instance: its socket, unless --socket says otherwise, and its shared "
                 "memory (default: default)")
      ->check(velaclock::instanceName);
  app.add_option("--timeout", command.timeout,
                 "seconds to wait for the daemon to let us in, take a request and answer it "
                 "(default: 5)")
      ->check(velaclock::finitePositiveSeconds);

  auto* show = app.add_subcommand(
      "show", "tables: sources, sinks, muxes, pps, ports (all when none); tree: the clock trees");
  show->add_option("table", command.table)
      ->check(CLI::IsMember({"sources", "sinks", "muxes", "pps", "ports", "tree"}));
  show->add_flag("--json", command.json, "the rows as JSON objects, with the same columns");
  show->add_flag("--dot", command.dot, "show tree: the clock trees as a Graphviz graph")
      ->excludes("--json");
  show->callback([&command] {
    if (command.dot && command.table != "tree") {
      throw CLI::ValidationError("--dot", "draws the clock trees: give it with `show tree`");
    }
  });
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
  app.add_subcommand("regs", "dump a register bank (a real one is read)")
      ->add_option("HAM", command.ham)
      ->required();
  app.add_subcommand("paths", "list the state database's paths and types");
  defineToolkit(app, command);
}

// The first command-line argument that is not valid UTF-8, shown with U+FFFD in place of what is
// not: requests carry only UTF-8 text, so such an argument cannot be sent.
std::optional<std::string> nonUtf8Argument(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const Json word = argv[i];
    try {
      [[maybe_unused]] const std::string checked = word.dump();
    } catch (const Json::type_error&) {
      return word.dump(-1, ' ', false, Json::error_handler_t::replace);
    }
  }
  return std::nullopt;
}

// Reports a command-line error; a word where a command belongs is named as an unknown command.
int usageError(CLI::App& app, const CLI::ParseError& error) {
  const auto remaining = app.remaining();
  if (app.get_subcommands().empty() && !remaining.empty() &&
      dynamic_cast<const CLI::RequiredError*>(&error)) {
    std::string known;
    for (const CLI::App* sub : app.get_subcommands([](const CLI::App*) { return true; })) {
      known += (known.empty() ? "" : ", ") + sub->get_name();
    }
    std::fprintf(stderr, "velaclockctl: unknown command `%s`: expected %s\n",
                 remaining.front().c_str(), known.c_str());
    return exitUsage;
  }
  return app.exit(error) == 0 ? exitOk : exitUsage;
}

}  // namespace

int runCommandLine(int argc, char** argv) {
  if (const auto word = nonUtf8Argument(argc, argv)) {
    std::fprintf(stderr, "velaclockctl: argument %s is not valid UTF-8, which requests must be\n",
                 word->c_str());
    return exitUsage;
  }
  try {
    Command command;
    CLI::App app{"velaclockctl: look at and change what velaclockd's agent works on"};
    defineCommandLine(app, command);
    try {
      app.parse(argc, argv);
      return run(app, command);
    } catch (const CLI::ParseError& error) {
      return usageError(app, error);
    }
  } catch (const NoDaemon& error) {
    std::fprintf(stderr, "velaclockctl: %s\n", error.what());
    return exitNoDaemon;
  } catch (const Refused& error) {
    std::fprintf(stderr, "velaclockctl: refused: %s\n", error.what());
    return exitRefused;
  } catch (const LocalFileError& error) {
    std::fprintf(stderr, "velaclockctl: %s\n", error.what());
    return exitUsage;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "velaclockctl: %s\n", error.what());
    return exitNoDaemon;
  }
}

}  // namespace velaclockctl
