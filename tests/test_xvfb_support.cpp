// The private X server the on-screen tests use.

#include "support/Xvfb.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

TEST(Xvfb, StartsOnAFreshDisplayAndStops) {
  Xvfb a, b;
  ASSERT_TRUE(a.Start(320, 240)) << "Xvfb is not installed or cannot start";
  ASSERT_TRUE(b.Start(320, 240));
  EXPECT_NE(a.Display(), b.Display());
  std::string probe = "DISPLAY=" + a.Display() + " xdpyinfo >/dev/null 2>&1";
  EXPECT_EQ(0, std::system(probe.c_str())) << "the server does not answer";
  a.Stop();
  EXPECT_NE(0, std::system(probe.c_str())) << "the server is still there after Stop";
}
