#pragma once

// A table from 64-bit keys to small values for the lookups made for every
// character and glyph: one array, open addressing, no allocation per entry.

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace scrivane {

template <typename Value>
class FlatTable {
 public:
  // The value of `key`, or null.
  Value* find(std::uint64_t key) {
    if (slots_.empty()) return nullptr;
    for (std::size_t at = slotOf(key);; at = (at + 1) & mask_) {
      Slot& s = slots_[at];
      if (!s.used) return nullptr;
      if (s.key == key) return &s.value;
    }
  }

  // The value of `key`, which is added as `value` when it is not there yet;
  // true when it was added. The pointer stays valid until the next insert.
  std::pair<Value*, bool> insert(std::uint64_t key, const Value& value) {
    if (2 * (count_ + 1) > slots_.size()) grow();
    for (std::size_t at = slotOf(key);; at = (at + 1) & mask_) {
      Slot& s = slots_[at];
      if (!s.used) {
        s.used = true;
        s.key = key;
        s.value = value;
        ++count_;
        return {&s.value, true};
      }
      if (s.key == key) return {&s.value, false};
    }
  }

  std::size_t size() const { return count_; }

 private:
  struct Slot {
    std::uint64_t key = 0;
    Value value{};
    bool used = false;
  };

  std::size_t slotOf(std::uint64_t key) const {
    return static_cast<std::size_t>((key * 0x9E3779B97F4A7C15ull) >> shift_);
  }

  void grow() {
    std::vector<Slot> old = std::move(slots_);
    const std::size_t size = old.empty() ? 256 : 2 * old.size();
    slots_.assign(size, Slot{});
    mask_ = size - 1;
    shift_ = 64;
    for (std::size_t s = size; s > 1; s /= 2) --shift_;
    count_ = 0;
    for (const Slot& s : old) {
      if (s.used) insert(s.key, s.value);
    }
  }

  std::vector<Slot> slots_;
  std::size_t mask_ = 0;
  unsigned shift_ = 64;
  std::size_t count_ = 0;
};

}  // namespace scrivane
