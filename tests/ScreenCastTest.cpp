#include "platform/portal/ScreenCast.h"

#include <gtest/gtest.h>

namespace {

TEST(ScreenCast, OnlyAUuidIsGivenBackAsARestoreToken) {
  const struct {
    QByteArray token;
    bool taken;
  } cases[] = {
      {"5b2a1f7e-3c4d-4e8f-9a0b-1c2d3e4f5a6b", true},
      {"5B2A1F7E-3C4D-4E8F-9A0B-1C2D3E4F5A6B", true},
      {"5b2a1f7e-3c4d-4e8f", false},
      {QByteArray(100'000, 'a'), false},
      {"5b2a1f7e-3c4d-4e8f-9a0b-1c2d3e4f5a6b\n", false},
      {"5b2a1f7e-3c4d-4e8f-9a0b-1c2d3e4f5a6g", false},
      {"5b2a1f7e03c4d-4e8f-9a0b-1c2d3e4f5a6b", false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(portal::isRestoreToken(c.token), c.taken) << c.token.left(40).toStdString();
}

}  // namespace
