// Disjoint sets of the numbers 1..n, by union by size and path halving: the parts of a network,
// the groups of nodes that zero-length branches join, the groups of junctions that branches not
// held join.
#pragma once

#include <cstdint>
#include <utility>

#include "model/table.h"

namespace tessaro::global {

class DisjointSets {
 public:
  DisjointSets() = default;
  explicit DisjointSets(std::int32_t n) { create(n); }

  void create(std::int32_t n) {
    parent_.create(n);
    size_.create(n);
    separate();
  }
  // Every number a set of its own again.
  void separate() {
    for (std::int32_t k = 1; k <= parent_.size(); ++k) {
      parent_[k] = k;
      size_[k] = 1;
    }
  }
  std::int32_t find(std::int32_t k) {
    while (parent_[k] != k) {
      parent_[k] = parent_[parent_[k]];
      k = parent_[k];
    }
    return k;
  }
  // Joins the sets of a and b; false when they were one set already.
  bool join(std::int32_t a, std::int32_t b) {
    a = find(a);
    b = find(b);
    if (a == b) return false;
    if (size_[a] < size_[b]) std::swap(a, b);
    parent_[b] = a;
    size_[a] += size_[b];
    return true;
  }

 private:
  Table<std::int32_t> parent_;
  Table<std::int32_t> size_;
};

}  // namespace tessaro::global
