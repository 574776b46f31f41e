#pragma once

#include "Pps/Counter/Hal.h"

namespace Pps::Counter {

// A counter with no hardware behind it: the count of the process's simulated pulse. Always valid.
class MockHal : public Hal {
 public:
  MockHal();
  std::uint16_t ppsCount() override;
  bool followsSimPulse() const override { return true; }

  static const Kel::TypeInfo& typeInfo();
  static void kelDescribe(Kel::TypeBuilder<MockHal>&) {}
  const Kel::TypeInfo& fwkType() const override;
};

}  // namespace Pps::Counter
