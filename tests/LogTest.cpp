#include <gtest/gtest.h>

#include <thread>

#include "platform/system/Log.h"

TEST(WarningGate, LetsTheFirstThroughThenOnePerIntervalCountingTheRest) {
  WarningGate gate(1000);  // long beside any stall between two calls on a busy machine
  EXPECT_TRUE(gate.pass());
  EXPECT_EQ(gate.heldBack(), 0);
  EXPECT_FALSE(gate.pass());
  EXPECT_FALSE(gate.pass());
  std::this_thread::sleep_for(std::chrono::milliseconds(1050));  // the interval itself
  EXPECT_TRUE(gate.pass());
  EXPECT_EQ(gate.heldBack(), 2);
  EXPECT_STREQ(gate.note(), "(2 more held back)");
  EXPECT_FALSE(gate.pass());
}
