// Fields of the instance record that several threads read and write: counters,
// flags and sockets. They are plain 32-bit fields of the host's block, reached
// as atomics so that a reader never sees a torn or stale-forever value.
#pragma once

#include <atomic>
#include <cstdint>

namespace toldex {

template <typename T>
inline T LoadShared(const T& field) {
  return std::atomic_ref<T>(const_cast<T&>(field)).load(std::memory_order_acquire);
}

template <typename T>
inline void StoreShared(T& field, T value) {
  std::atomic_ref<T>(field).store(value, std::memory_order_release);
}

template <typename T>
inline T ExchangeShared(T& field, T value) {
  return std::atomic_ref<T>(field).exchange(value, std::memory_order_acq_rel);
}

// Counters wrap at 2^32.
inline void CountUp(uint32_t& counter) {
  std::atomic_ref<uint32_t>(counter).fetch_add(1, std::memory_order_relaxed);
}

}  // namespace toldex
