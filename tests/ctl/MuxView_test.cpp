#include "ctl/MuxView.h"

#include <gtest/gtest.h>

// A chain follows each mux's selection down from the sink and takes each mux once, so muxes that
// select each other end it rather than loop; a mux read from its status that was never switched
// selects nothing, and a sink no mux lists has no chain.
TEST(MuxView, ChainsFollowTheSelectionsTakeEachMuxOnceAndEndAtADash) {
  using velaclockctl::Json;
  using velaclockctl::MuxView;
  const Json sources = {{"a", {{"bitValue", 1U}}}, {"b", {{"bitValue", 2U}}}};
  const auto mux = [&](const char* sink, unsigned controlRegister, unsigned accessMethod) {
    return Json{{"sink", {{sink, Json::object()}}},
                {"source", sources},
                {"controlRegister", controlRegister},
                {"muxAccessMethod", accessMethod},
                {"bitMask", 3U}};
  };
  const Json config = {
      {"muxConfig", {{"a", mux("loop", 0, 0)}, {"b", mux("-", 1, 0)}, {"c", mux("dark", 2, 1)}}}};
  const Json status = {{"muxStatus", {{"c", {{"sourceSelect", ""}}}}}};
  const MuxView view(config, status, "f6fd01");  // a selects b (0b10), b selects a (0b01)

  const MuxView::Chain none = view.chain("nowhere");
  ASSERT_EQ(none.text(), "-");
  EXPECT_EQ(none.carries, "-");
  const MuxView::Chain loop = view.chain("loop");
  EXPECT_EQ(loop.text(), "b>a");
  EXPECT_EQ(loop.carries, "-");
  EXPECT_EQ(view.selects("c"), "-");
  EXPECT_EQ(view.chain("dark").text(), "c");
}
