// The transaction identifier of a process's first frame. A program of its own,
// so that no other test has framed anything before.
#include <gtest/gtest.h>

#include "transport/exchange.h"

namespace toldex {
namespace {

TEST(TransactionId, FirstFrameAfterLoadingCarriesZero) {
  const uint8_t request[] = {1, 3, 0, 0, 0, 1};
  uint8_t frame[kMaxFrameSize];
  int length = sizeof request;
  ASSERT_EQ(BuildTcpFrame(request, &length, frame), 0);
  EXPECT_EQ(frame[0], 0);
  EXPECT_EQ(frame[1], 0);
  length = sizeof request;
  ASSERT_EQ(BuildTcpFrame(request, &length, frame), 0);
  EXPECT_EQ(frame[1], 1);
}

}  // namespace
}  // namespace toldex
