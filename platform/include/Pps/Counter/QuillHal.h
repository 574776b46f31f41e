#pragma once

#include "Fru/Ham.h"
#include "Pps/Counter/Hal.h"

namespace Pps::Counter {

// The counter of a Quill timing card: a 16-bit register at `counterBase`, reached through the
// card's Ham. Valid when the Ham is given and the register answers.
class QuillHal : public Hal {
 public:
  QuillHal(std::uint32_t counterBase, Kel::Ptr<const Fru::Ham> ham);
  std::uint16_t ppsCount() override;
  bool followsSimPulse() const override;
  std::uint32_t counterBase() const { return counterBase_; }
  const Kel::Ptr<const Fru::Ham>& ham() const { return ham_; }

  static const Kel::TypeInfo& typeInfo();
  static void kelDescribe(Kel::TypeBuilder<QuillHal>& builder);
  const Kel::TypeInfo& fwkType() const override;

 private:
  std::uint32_t counterBase_;
  Kel::Ptr<const Fru::Ham> ham_;
  Kel::Ptr<Fru::HamImpl> impl_;
};

}  // namespace Pps::Counter
