#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "Corral/EntityManager.h"
#include "Kel/Entity.h"
#include "host/DeviceDescription.h"

namespace velaclockd {

// A simulated register bank of the hardware section.
struct HamDescription {
  Kel::String name;                  // a safe file name: it names the bank's register file
  std::uint32_t registers = 256;     // addresses 0 to registers-1, at most 1 MiB of them
  bool persistent = false;           // kept in a file, so it survives a restart of velaclockd
  std::vector<std::uint8_t> values;  // initial contents of a new bank by address (zero beyond)
  std::map<std::uint32_t, std::pair<std::uint8_t, std::uint8_t>> stuckBits;  // mask, value
  std::vector<std::uint32_t> ppsCounters;  // 16-bit PPS counter registers
};

// A general-purpose output line of the hardware section and its level at power-up.
struct GpoDescription {
  Kel::String name;
  bool asserted = false;
};

// A whole platform description: state-database entities by path, and the hardware, simulated
// (the default) or real.
//   entities:
//     <path>: {type: <entity type>, <attribute>: <value>, <collection>: {<key>: {...}}}
//   hardware:
//     hams: {<ham name>: {registers: N, persistent: bool, values: <values>,
//                          stuckBits: {addr: {mask: m, value: v}}, ppsCounters: [addr]}
//                      | {backend: mmio, pci: "vvvv:dddd" | pciAddress: "0000:bb:dd.f", bar: N,
//                         offset: N, size: N}
//                      | {backend: mmio, path: FILE, map: N, offset: N, size: N}
//                      | {backend: i2c, bus: N | busName: NAME, address: 0x08-0x77}}
//       <values>: {addr: value, ...}, or runs (as a save writes them):
//                 [[addr, count, value], [addr, "hex bytes"], ...]
//     gpo:  {<line name>: {asserted: bool}
//                       | {backend: pca9554, bus: N | busName: NAME, address: A, line: 0-7}
//                       | {backend: gpio, chip: CHIP, line: N | lineName: NAME, activeLow: bool}}
// Ham and line names are letters, digits, '_', '.' and '-', not starting with '.'. Anchors and
// aliases are refused, and the whole text is at most maxDescriptionBytes (DescriptionText.h).
struct PlatformDescription {
  std::vector<std::pair<Kel::String, Kel::Ptr<Kel::Entity>>> entities;
  std::vector<HamDescription> hams;
  std::vector<GpoDescription> gpos;
  std::vector<DeviceHamDescription> deviceHams;
  std::vector<DeviceLineDescription> deviceLines;
  // What was loaded as given but is probably not meant, "<file>: warning: <what>" each.
  std::vector<std::string> warnings;
};

// Parses a description; `file` names it in messages. Each warning is also written to
// `warningsTo` (a line each) unless it is null. Throws DescriptionError.
PlatformDescription parsePlatformDescription(const std::string& text, const std::string& file,
                                             std::FILE* warningsTo = stderr);
// Reads and parses the file at `path`. Throws DescriptionError, also when it cannot be read or
// is larger than a description may be.
PlatformDescription readPlatformDescription(const std::filesystem::path& path);

// Stores the entities in `database` and puts the hardware in place; persistent register banks
// live in `registerDirectory`. Throws Fru::DeviceError when a real device cannot be used (and
// then installs nothing), std::system_error when a register file cannot be made.
void install(const PlatformDescription& description, Corral::EntityManager& database,
             const std::filesystem::path& registerDirectory);

}  // namespace velaclockd
