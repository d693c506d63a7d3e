#pragma once
// A bounded queue that any number of threads push into and one thread (the
// audio thread) pops from, without locks and without allocating after it is
// made. Each cell carries a sequence number that tells whether it is free
// for the next push or holds the next pop.

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <type_traits>

namespace ondelith {

template <typename T, size_t Capacity>
class EventQueue {
  static_assert(Capacity >= 2 && (Capacity & (Capacity - 1)) == 0, "a power of two");
  static_assert(std::is_trivially_copyable_v<T>);

 public:
  EventQueue() {
    for (size_t i = 0; i < Capacity; ++i) cells_[i].sequence.store(i, std::memory_order_relaxed);
  }
  EventQueue(const EventQueue&) = delete;
  EventQueue& operator=(const EventQueue&) = delete;

  // False when the queue is full; the value is then not taken.
  bool push(const T& value) {
    size_t position = tail_.load(std::memory_order_relaxed);
    for (;;) {
      Cell& cell = cells_[position & (Capacity - 1)];
      const size_t sequence = cell.sequence.load(std::memory_order_acquire);
      const auto difference = static_cast<std::ptrdiff_t>(sequence - position);
      if (difference == 0) {
        if (tail_.compare_exchange_weak(position, position + 1, std::memory_order_relaxed)) break;
      } else if (difference < 0) {
        return false;
      } else {
        position = tail_.load(std::memory_order_relaxed);
      }
    }
    Cell& cell = cells_[position & (Capacity - 1)];
    cell.value = value;
    cell.sequence.store(position + 1, std::memory_order_release);
    return true;
  }

  // The consumer's thread only.
  bool pop(T& value) {
    Cell& cell = cells_[head_ & (Capacity - 1)];
    const size_t sequence = cell.sequence.load(std::memory_order_acquire);
    if (sequence != head_ + 1) return false;
    value = cell.value;
    cell.sequence.store(head_ + Capacity, std::memory_order_release);
    ++head_;
    return true;
  }

 private:
  struct Cell {
    std::atomic<size_t> sequence;
    T value;
  };
  std::array<Cell, Capacity> cells_;
  alignas(64) std::atomic<size_t> tail_{0};
  alignas(64) size_t head_ = 0;
};

}  // namespace ondelith
