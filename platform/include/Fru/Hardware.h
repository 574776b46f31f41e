#pragma once

#include <map>

#include "Fru/HamImpl.h"
#include "Fru/OutputLine.h"
#include "Kel/String.h"

namespace Fru {

// The register backends of the platform, by Ham name, as the host's hardware description gives
// them. One set per process.
void hamImplIs(const Kel::String& hamName, const Kel::Ptr<HamImpl>& impl);
// The backend described for `hamName`, or null.
Kel::Ptr<HamImpl> describedHamImpl(const Kel::String& hamName);
// Every described backend, by Ham name.
const std::map<Kel::String, Kel::Ptr<HamImpl>>& hamImpls();
// Forgets every backend (hosts and tests that describe the hardware again).
void hamImplsDelAll();

// The drivers of the platform's real output lines, by line name; a line without one is simulated.
void outputLineIs(const Kel::String& name, const Kel::Ptr<OutputLine>& line);
// The driver described for `name`, or null.
Kel::Ptr<OutputLine> describedOutputLine(const Kel::String& name);
// Every described line driver, by line name.
const std::map<Kel::String, Kel::Ptr<OutputLine>>& outputLines();
void outputLinesDelAll();

}  // namespace Fru
