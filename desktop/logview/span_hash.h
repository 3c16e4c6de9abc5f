// A fast 64-bit fingerprint of a run of bytes, fed in pieces of any size:
// the same bytes give the same value however they were split. For noticing
// that a file's bytes changed, not for anything an adversary chooses.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace orvalin {

class SpanHash {
  public:
    void Add(const char* data, std::size_t size) {
        total_ += size;
        if (pendingSize_ > 0) {
            const std::size_t take = std::min(size, kBlock - pendingSize_);
            std::memcpy(pending_ + pendingSize_, data, take);
            pendingSize_ += take;
            data += take;
            size -= take;
            if (pendingSize_ < kBlock) {
                return;
            }
            Mix(pending_);
            pendingSize_ = 0;
        }
        for (; size >= kBlock; data += kBlock, size -= kBlock) {
            Mix(data);
        }
        std::memcpy(pending_, data, size);
        pendingSize_ = size;
    }

    std::uint64_t Value() const {
        SpanHash rest = *this;
        char tail[kBlock] = {};
        std::memcpy(tail, pending_, pendingSize_);
        rest.Mix(tail);
        std::uint64_t h = total_ * kPrime;
        for (const std::uint64_t lane : rest.lanes_) {
            h = Fold((h ^ lane) * kPrime);
        }
        return Fold(h);
    }

    void Reset() { *this = SpanHash(); }

  private:
    static constexpr std::size_t kBlock = 32;
    static constexpr std::uint64_t kPrime = 0x9E3779B97F4A7C15ull;

    static std::uint64_t Fold(std::uint64_t v) { return v ^ (v >> 31); }

    void Mix(const char* block) {
        for (int lane = 0; lane < 4; ++lane) {
            std::uint64_t word = 0;
            std::memcpy(&word, block + 8 * lane, 8);
            lanes_[lane] = Fold((lanes_[lane] ^ word) * kPrime);
        }
    }

    std::uint64_t lanes_[4] = {1, 2, 3, 4};
    char pending_[kBlock] = {};
    std::size_t pendingSize_ = 0;
    std::uint64_t total_ = 0;
};

}  // namespace orvalin
