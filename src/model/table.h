// One-based tables of fixed size: the storage behind every branch, node and junction table.
#pragma once

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <new>
#include <stdexcept>
#include <vector>

namespace tessaro {

// Reports a table whose storage cannot be obtained and ends the run.
[[noreturn]] void fail_table_storage();

// A table whose entries are numbered 1..size(). Created once with its final size; every entry
// starts value-initialised (zero).
template <class T>
class Table {
 public:
  void create(std::int64_t entries) {
    try {
      data_.assign(static_cast<std::size_t>(entries), T{});
    } catch (const std::bad_alloc&) {
      fail_table_storage();
    } catch (const std::length_error&) {
      fail_table_storage();
    }
  }

  T& operator[](std::int32_t index) {
    assert(index >= 1 && static_cast<std::size_t>(index) <= data_.size());
    return data_[static_cast<std::size_t>(index) - 1];
  }
  const T& operator[](std::int32_t index) const {
    assert(index >= 1 && static_cast<std::size_t>(index) <= data_.size());
    return data_[static_cast<std::size_t>(index) - 1];
  }

  std::int32_t size() const { return static_cast<std::int32_t>(data_.size()); }
  // The entries as a flat array starting at entry 1, for the hot loops.
  T* data() { return data_.data(); }
  const T* data() const { return data_.data(); }

 private:
  std::vector<T> data_;
};

}  // namespace tessaro
