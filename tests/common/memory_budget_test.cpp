// The memory budget: what is reserved is counted until released, what cannot fit is refused at
// once, and what must wait is given when others release or refused after the wait.
#include "common/memory_budget.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace velmora::test {
namespace {

using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

TEST(MemoryBudget, ReservationsCountUntilReleasedAndMoveWithTheirOwner) {
  MemoryBudget budget(1000);
  {
    MemoryReservation a = budget.Reserve(300);
    EXPECT_EQ(budget.InUse(), 300u);
    a.Grow(200);
    EXPECT_EQ(a.Bytes(), 500u);
    MemoryReservation b = std::move(a);
    EXPECT_EQ(b.Bytes(), 500u);
    EXPECT_EQ(budget.InUse(), 500u);
    MemoryReservation c = budget.Reserve(100);
    c = std::move(b);  // c's own 100 bytes are released, b's 500 move over
    EXPECT_EQ(budget.InUse(), 500u);
  }
  EXPECT_EQ(budget.InUse(), 0u);
}

// Requests that can never fit are refused at once, however long the caller would wait, and leave
// nothing reserved.
TEST(MemoryBudget, WhatCanNeverFitIsRefusedAtOnce) {
  struct Case {
    const char* name;
    uint64_t held;   // already in the caller's reservation
    uint64_t bytes;  // asked for
  };
  const Case cases[] = {
      {"larger than the budget", 0, 1001},
      {"a grow past the budget", 600, 600},
      {"a grow that would overflow", 10, UINT64_MAX - 5},
  };
  for (const Case& t : cases) {
    SCOPED_TRACE(t.name);
    MemoryBudget budget(1000);
    MemoryReservation r = budget.Reserve(t.held);
    const auto start = Clock::now();
    EXPECT_THROW(r.Grow(t.bytes, milliseconds(5000)), EMemoryBudgetExceeded);
    EXPECT_LT(Clock::now() - start, milliseconds(1000));
    EXPECT_EQ(r.Bytes(), t.held);
    EXPECT_EQ(budget.InUse(), t.held);
  }
}

TEST(MemoryBudget, AWaitingReservationIsGivenWhenAnotherReleases) {
  MemoryBudget budget(1000);
  auto held = std::make_unique<MemoryReservation>(budget.Reserve(800));
  std::thread releaser([&] {
    std::this_thread::sleep_for(milliseconds(100));
    held.reset();
  });
  MemoryReservation r = budget.Reserve(500, milliseconds(5000));
  releaser.join();
  EXPECT_EQ(r.Bytes(), 500u);
  EXPECT_EQ(budget.InUse(), 500u);
}

TEST(MemoryBudget, AWaitThatIsNotMetIsRefusedWithNothingReserved) {
  MemoryBudget budget(1000);
  MemoryReservation held = budget.Reserve(800);
  const auto start = Clock::now();
  try {
    budget.Reserve(500, milliseconds(100));
    ADD_FAILURE() << "reserved past the budget";
  } catch (const EMemoryBudgetExceeded& e) {
    EXPECT_NE(std::string(e.what()).find("500 bytes"), std::string::npos) << e.what();
  }
  EXPECT_GE(Clock::now() - start, milliseconds(100));
  EXPECT_EQ(budget.InUse(), 800u);
}

TEST(MemoryBudget, ALoweredTotalHoldsBackNewReservationsOnly) {
  MemoryBudget budget(1000);
  MemoryReservation held = budget.Reserve(800);
  budget.SetTotal(500);
  EXPECT_EQ(held.Bytes(), 800u);
  EXPECT_THROW(budget.Reserve(1, milliseconds(10)), EMemoryBudgetExceeded);
  { MemoryReservation gone = std::move(held); }
  MemoryReservation r = budget.Reserve(500, milliseconds(10));
  EXPECT_EQ(budget.InUse(), 500u);
}

TEST(MemoryBudget, AnEmptyReservationGrowsFromTheProcessBudget) {
  const uint64_t before = MemoryBudget::Process().InUse();
  {
    MemoryReservation r;
    r.Grow(4096);
    EXPECT_EQ(MemoryBudget::Process().InUse(), before + 4096);
  }
  EXPECT_EQ(MemoryBudget::Process().InUse(), before);
}

// One call holds at most half the budget, whichever of its reservations asks, and is refused at
// once past it; another call (here on another thread) still gets the rest.
TEST(MemoryBudget, OneCallHoldsAtMostHalfTheBudgetAndOthersGetTheRest) {
  MemoryBudget budget(1000);
  CallMemoryScope call;
  MemoryReservation args = budget.Reserve(300);
  MemoryReservation rows = budget.Reserve(150);
  EXPECT_EQ(call.Held(), 450u);
  const auto start = Clock::now();
  try {
    rows.Grow(100, milliseconds(5000));
    ADD_FAILURE() << "a call held more than half the budget";
  } catch (const EMemoryBudgetExceeded& e) {
    EXPECT_EQ(std::string(e.what()),
              "The call needs 550 bytes of memory, more than the 500 bytes one call may hold (half "
              "of the server's budget of 1000 bytes)");
  }
  EXPECT_LT(Clock::now() - start, milliseconds(1000)) << "refused at once, not after a wait";
  EXPECT_EQ(rows.Bytes(), 150u);
  rows.Grow(50);  // up to the share is fine
  std::thread other([&] {
    CallMemoryScope other_call;
    MemoryReservation r = budget.Reserve(500, milliseconds(10));
    EXPECT_EQ(other_call.Held(), 500u);
  });
  other.join();
  rows.Shrink(120);
  EXPECT_EQ(rows.Bytes(), 80u);
  EXPECT_EQ(call.Held(), 380u);
  EXPECT_EQ(budget.InUse(), 380u);
}

// A reply's buffers are kept until the call's scope closes; outside a call they go at once.
TEST(MemoryBudget, KeptReservationsLiveUntilTheCallEnds) {
  MemoryBudget budget(1000);
  KeepUntilCallEnds(budget.Reserve(100));
  EXPECT_EQ(budget.InUse(), 0u);
  {
    CallMemoryScope call;
    KeepUntilCallEnds(budget.Reserve(200));
    EXPECT_EQ(budget.InUse(), 200u);
    EXPECT_EQ(call.Held(), 200u);
  }
  EXPECT_EQ(budget.InUse(), 0u);
}

}  // namespace
}  // namespace velmora::test
