// Loops split between the calling thread and the helper: every entry is visited once, whatever
// the length, and long loops run on two threads where there are two cores; pairs of pieces of
// work, each done once, the second on the helper.
#include "global/two_halves.h"

#include <cstdint>
#include <stdexcept>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace tessaro::global {
namespace {

TEST(TwoHalves, EveryEntryOnceAndLongLoopsOnTwoThreads) {
  TwoHalves halves;
  for (const std::int32_t n : {0, 1, 19999, 20000, 20001, 100001}) {
    std::vector<int> visits(static_cast<std::size_t>(n) + 1, 0);
    std::thread::id first_thread;
    std::thread::id last_thread;
    auto body = [&](std::int32_t first, std::int32_t last) {
      for (std::int32_t k = first; k <= last; ++k) visits[static_cast<std::size_t>(k)] += 1;
      (first == 1 ? first_thread : last_thread) = std::this_thread::get_id();
    };
    halves.run(n, body);
    for (std::int32_t k = 1; k <= n; ++k) {
      ASSERT_EQ(visits[static_cast<std::size_t>(k)], 1) << "entry " << k << " of " << n;
    }
    if (n >= 20000 && std::thread::hardware_concurrency() >= 2) {
      EXPECT_EQ(first_thread, std::this_thread::get_id());
      EXPECT_NE(last_thread, first_thread) << n;
    }
  }
}

// What either half throws leaves run, after both halves have ended, and the helper serves the
// next loop.
TEST(TwoHalves, WhatAHalfThrowsLeavesAfterBothEnded) {
  TwoHalves halves;
  for (const bool second_half_throws : {true, false}) {
    std::vector<int> visits(100001, 0);
    auto body = [&](std::int32_t first, std::int32_t last) {
      for (std::int32_t k = first; k <= last; ++k) visits[static_cast<std::size_t>(k)] += 1;
      if ((first != 1) == second_half_throws) throw std::runtime_error("half");
    };
    EXPECT_THROW(halves.run(100000, body), std::runtime_error);
    for (std::int32_t k = 1; k <= 100000; ++k) ASSERT_EQ(visits[static_cast<std::size_t>(k)], 1);
  }
  std::vector<int> visits(100001, 0);
  auto body = [&](std::int32_t first, std::int32_t last) {
    for (std::int32_t k = first; k <= last; ++k) visits[static_cast<std::size_t>(k)] += 1;
  };
  halves.run(100000, body);
  for (std::int32_t k = 1; k <= 100000; ++k) ASSERT_EQ(visits[static_cast<std::size_t>(k)], 1);
}

// Each of a pair of pieces is done once, the first on the calling thread and the second on the
// helper where there are two cores, and what the second throws leaves after both ended.
TEST(TwoHalves, PairsOfPiecesEachOnceTheSecondOnTheHelper) {
  TwoHalves halves;
  for (const bool second_throws : {false, true, false}) {
    int done[2] = {0, 0};
    std::thread::id thread[2];
    auto piece = [&](std::int32_t which) {
      done[which] += 1;
      thread[which] = std::this_thread::get_id();
      if (which == 1 && second_throws) throw std::runtime_error("piece");
    };
    if (second_throws) {
      EXPECT_THROW(halves.both(piece), std::runtime_error);
    } else {
      halves.both(piece);
    }
    EXPECT_EQ(done[0], 1);
    EXPECT_EQ(done[1], 1);
    EXPECT_EQ(thread[0], std::this_thread::get_id());
    EXPECT_EQ(halves.helper_runs(), std::thread::hardware_concurrency() >= 2);
    if (halves.helper_runs()) {
      EXPECT_NE(thread[1], thread[0]);
    }
  }
}

}  // namespace
}  // namespace tessaro::global
