// Loops split between the calling thread and the helper: every entry is visited once, whatever
// the length, and long loops run on two threads where there are two cores.
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

}  // namespace
}  // namespace tessaro::global
