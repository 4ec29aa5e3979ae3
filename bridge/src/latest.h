// The latest value handed from one thread to another without a lock: a triple buffer. The
// producer never waits for the consumer and the consumer never waits for the producer, so the
// UDP cycle and the DDS side cannot hold each other up. One producer, one consumer.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

namespace torvane_bridge {

template <typename T>
class Latest {
 public:
  // Producer: fill Back(), then Publish() makes it the latest value.
  T& Back() { return slots_[back_]; }
  void Publish() { back_ = middle_.exchange(back_ | kFresh, std::memory_order_acq_rel) & kIndex; }

  // Consumer: true if a value was published since the last Take(); Front() is then that value
  // (and stays so until the next successful Take()).
  bool Take() {
    if ((middle_.load(std::memory_order_relaxed) & kFresh) == 0) return false;
    front_ = middle_.exchange(front_, std::memory_order_acq_rel) & kIndex;
    return true;
  }
  const T& Front() const { return slots_[front_]; }

 private:
  static constexpr uint8_t kIndex = 3, kFresh = 4;
  std::array<T, 3> slots_{};
  std::atomic<uint8_t> middle_{1};
  uint8_t back_ = 0;   // the producer's only
  uint8_t front_ = 2;  // the consumer's only
};

}  // namespace torvane_bridge
