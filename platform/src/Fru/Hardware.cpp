#include "Fru/Hardware.h"

#include "Fru/Gpo.h"
#include "Fru/Ham.h"
#include "Kel/TypeInfo.h"

namespace Fru {

namespace {
std::map<Kel::String, Kel::Ptr<HamImpl>>& backends() {
  static std::map<Kel::String, Kel::Ptr<HamImpl>> all;
  return all;
}

std::map<Kel::String, Kel::Ptr<OutputLine>>& lineDrivers() {
  static std::map<Kel::String, Kel::Ptr<OutputLine>> all;
  return all;
}

[[maybe_unused]] const bool registered = (Kel::kelModuleIs<Ham, Gpo>("Fru"), true);
}  // namespace

void hamImplIs(const Kel::String& hamName, const Kel::Ptr<HamImpl>& impl) {
  if (impl) {
    backends()[hamName] = impl;
  } else {
    backends().erase(hamName);
  }
}

Kel::Ptr<HamImpl> describedHamImpl(const Kel::String& hamName) {
  const auto it = backends().find(hamName);
  return it == backends().end() ? nullptr : it->second;
}

const std::map<Kel::String, Kel::Ptr<HamImpl>>& hamImpls() {
  return backends();
}

void hamImplsDelAll() {
  backends().clear();
}

void outputLineIs(const Kel::String& name, const Kel::Ptr<OutputLine>& line) {
  if (line) {
    lineDrivers()[name] = line;
  } else {
    lineDrivers().erase(name);
  }
}

Kel::Ptr<OutputLine> describedOutputLine(const Kel::String& name) {
  const auto it = lineDrivers().find(name);
  return it == lineDrivers().end() ? nullptr : it->second;
}

const std::map<Kel::String, Kel::Ptr<OutputLine>>& outputLines() {
  return lineDrivers();
}

void outputLinesDelAll() {
  lineDrivers().clear();
}

}  // namespace Fru
