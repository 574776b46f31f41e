#pragma once

#include "Fru/HamImpl.h"
#include "Pps/Counter/Hal.h"

namespace Pps::Counter {

// The counter of the Lumen timing FPGA: a 16-bit register at `counterBase` of the FPGA's
// memory-mapped window, reached through the backend that the hardware description names
// "LumenFpga". Valid when that register answers.
class LumenHal : public Hal {
 public:
  static constexpr const char* registerWindow = "LumenFpga";

  explicit LumenHal(std::uint32_t counterBase);
  std::uint16_t ppsCount() override;
  bool followsSimPulse() const override;
  std::uint32_t counterBase() const { return counterBase_; }

  static const Kel::TypeInfo& typeInfo();
  static void kelDescribe(Kel::TypeBuilder<LumenHal>& builder);
  const Kel::TypeInfo& fwkType() const override;

 private:
  std::uint32_t counterBase_;
  Kel::Ptr<Fru::HamImpl> window_;
};

}  // namespace Pps::Counter
