// Columns of values filled without the GIL and handed to numpy without a copy.
#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <optional>
#include <type_traits>
#include <utility>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace trov_python {

namespace py = pybind11;

// Memory for the columns of one read, in one piece: on Linux in 2 MiB pages, since the
// 4 KiB pages of a million points' columns took longer to fault in than the points took
// to read. The arrays viewing it share one owner (owner()), and the memory goes with the
// last of them.
class Arena {
 public:
  explicit Arena(std::size_t bytes) : data_(static_cast<unsigned char*>(allocate(bytes))), capacity_(bytes) {}
  Arena(const Arena&) = delete;
  Arena& operator=(const Arena&) = delete;
  ~Arena() {
    if (owner_.ptr() == nullptr) std::free(data_);
  }

  // bytes of the arena, 64-byte aligned; nullptr when it has no more room.
  void* take(std::size_t bytes) {
    const std::size_t start = (used_ + 63) / 64 * 64;
    if (start > capacity_ || bytes > capacity_ - start) return nullptr;
    used_ = start + bytes;
    return data_ + start;
  }
  bool holds(const void* p) const {
    const auto* byte = static_cast<const unsigned char*>(p);
    return byte >= data_ && byte < data_ + capacity_;
  }
  // With the GIL held: the object that keeps the memory while an array views it.
  py::object owner() {
    if (owner_.ptr() == nullptr) owner_ = py::capsule(data_, [](void* p) { std::free(p); });
    return owner_;
  }

  static void* allocate(std::size_t bytes) {
    bytes = std::max<std::size_t>(bytes, 1);
    void* p = nullptr;
#if defined(__linux__)
    constexpr std::size_t kHugePage = std::size_t{2} << 20;
    if (bytes >= kHugePage) {
      if (posix_memalign(&p, kHugePage, bytes) != 0) throw std::bad_alloc();
      madvise(p, bytes, MADV_HUGEPAGE);  // advice only: without it, ordinary pages
      return p;
    }
#endif
    p = std::malloc(bytes);
    if (p == nullptr) throw std::bad_alloc();
    return p;
  }

 private:
  unsigned char* data_;
  std::size_t capacity_;
  std::size_t used_ = 0;
  py::object owner_;
};

// A column that grows as values come: in its room in an arena first, then, should more
// values come than were foreseen (a file that grew while it was read), on its own.
template <typename T>
class Column {
 public:
  static_assert(std::is_trivially_copyable_v<T>);
  Column() = default;
  Column(const Column&) = delete;
  Column& operator=(const Column&) = delete;
  ~Column() {
    if (owned_) std::free(data_);
  }

  static constexpr std::size_t bytes_for(std::size_t n) { return n * sizeof(T) + 64; }
  void place(Arena& arena, std::size_t n) {
    if (void* room = arena.take(n * sizeof(T)); room != nullptr && size_ == 0) {
      data_ = static_cast<T*>(room);
      capacity_ = n;
    }
  }
  void push_back(T value) {
    if (size_ == capacity_) grow();
    data_[size_++] = value;
  }

  // With the GIL held. The arena: where the column may have its room.
  py::array release(Arena* arena = nullptr) {
    py::object owner;
    if (data_ != nullptr && arena != nullptr && arena->holds(data_)) {
      owner = arena->owner();
    } else {
      if (data_ == nullptr) data_ = static_cast<T*>(Arena::allocate(sizeof(T)));
      owner = py::capsule(data_, [](void* p) { std::free(p); });
    }
    owned_ = false;
    const auto n = static_cast<py::ssize_t>(size_);
    T* data = std::exchange(data_, nullptr);
    size_ = capacity_ = 0;
    if constexpr (std::is_same_v<T, bool>) {
      return py::array(py::dtype("bool"), {n}, {py::ssize_t{1}}, data, owner);
    } else {
      return py::array_t<T>(n, data, owner);
    }
  }

 private:
  void grow() {
    const std::size_t n = std::max<std::size_t>(1024, 2 * capacity_);
    T* grown = static_cast<T*>(Arena::allocate(n * sizeof(T)));
    if (size_ > 0) std::memcpy(grown, data_, size_ * sizeof(T));
    if (owned_) std::free(data_);
    data_ = grown;
    capacity_ = n;
    owned_ = true;
  }

  T* data_ = nullptr;
  std::size_t size_ = 0, capacity_ = 0;
  bool owned_ = false;
};

// A column that may have empty cells: its values (NaN where empty) and where they are missing.
struct OptionalColumn {
  Column<double> values;
  Column<bool> missing;

  static constexpr std::size_t bytes_for(std::size_t n) { return Column<double>::bytes_for(n) + Column<bool>::bytes_for(n); }
  void place(Arena& arena, std::size_t n) {
    values.place(arena, n);
    missing.place(arena, n);
  }
  void push(const std::optional<double>& value) {
    values.push_back(value ? *value : std::numeric_limits<double>::quiet_NaN());
    missing.push_back(!value);
  }
  py::tuple release(Arena* arena = nullptr) { return py::make_tuple(values.release(arena), missing.release(arena)); }
};

}  // namespace trov_python
