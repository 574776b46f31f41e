#include <gtest/gtest.h>

#include "Fru/Hardware.h"
#include "Fru/SimRegisterBank.h"
#include "host/ControlService.h"

TEST(ControlService, RegsShowsEveryRegisterAsTwoHexDigits) {
  auto bank = Kel::makePtr<Fru::SimRegisterBank>("H", 300);
  bank->poke(0, 0x0F);
  bank->poke(1, 0xA5);
  bank->stuckBitsIs(2, 0x81, 0x80);
  bank->poke(299, 0xFF);
  Fru::hamImplIs("H", bank);
  velaclockd::ControlService service(Kel::makePtr<Corral::EntityManager>("test", ""));
  const auto reply = service.handle({{"op", "regs"}, {"ham", "H"}});
  Fru::hamImplsDelAll();
  EXPECT_EQ(reply["size"], 300);
  EXPECT_EQ(reply["registers"], "0fa580" + std::string(std::size_t{2} * 296, '0') + "ff");
}
