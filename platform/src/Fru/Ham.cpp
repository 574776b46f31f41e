#include "Fru/Ham.h"

#include "Fru/Hardware.h"
#include "Fru/SimRegisterBank.h"
#include "Kel/Trace.h"

namespace Fru {

namespace {
// Registers of a Ham that the hardware description does not name.
constexpr std::uint32_t undescribedBankSize = 256;
}  // namespace

std::ostream& operator<<(std::ostream& out, HamType type) {
  switch (type) {
    case HamType::none:
      return out << "none";
    case HamType::i2cBus:
      return out << "i2cBus";
    case HamType::i2cDevice:
      return out << "i2cDevice";
    case HamType::pciDevice:
      return out << "pciDevice";
    case HamType::memoryMapped:
      return out << "memoryMapped";
    case HamType::gpioController:
      return out << "gpioController";
  }
  return out << static_cast<unsigned>(type);
}

std::ostream& operator<<(std::ostream& out, AccessStatus status) {
  switch (status) {
    case AccessStatus::ok:
      return out << "ok";
    case AccessStatus::noDevice:
      return out << "noDevice";
    case AccessStatus::badAddress:
      return out << "badAddress";
  }
  return out << static_cast<unsigned>(status);
}

Ham::Ham(Kel::String name, HamType type, Kel::Ptr<Ham> parent, std::uint32_t busId,
         std::uint32_t address, const Kel::String& description)
    : Kel::Entity(std::move(name)), parent_(std::move(parent)) {
  hamTypeIs(type);
  busIdIs(busId);
  addressIs(address);
  descriptionIs(description);
}

Kel::Ptr<HamImpl> Ham::hamImpl() const {
  if (auto impl = describedHamImpl(name())) return impl;
  // Real hardware always answers; give an undescribed Ham plain registers and say so.
  static Kel::TraceHandle& trace = Kel::traceHandle("Fru");
  KEL_TRACE(trace, 0) << "Ham " << name() << " is not in the hardware description; using "
                      << undescribedBankSize << " in-memory registers";
  auto bank = Kel::makePtr<SimRegisterBank>(name(), undescribedBankSize);
  hamImplIs(name(), bank);
  return bank;
}

}  // namespace Fru
