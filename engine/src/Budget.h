// The memory a build may take, charged as its large blocks are allocated. Linux hands
// out memory it does not have, so an allocation that is too large does not fail: the
// machine runs out instead. A charge that would pass the limit throws OverBudget, which
// the build's callers take as any other allocation failure.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <new>
#include <utility>

namespace trx {

struct OverBudget : std::bad_alloc {
    const char* what() const noexcept override { return "build memory budget exceeded"; }
};

class Budget {
public:
    explicit Budget(uint64_t limit = UINT64_MAX) : limit_(limit) {}
    Budget(const Budget&) = delete;
    Budget& operator=(const Budget&) = delete;

    void SetLimit(uint64_t limit) { limit_.store(limit, std::memory_order_relaxed); }
    uint64_t Limit() const { return limit_.load(std::memory_order_relaxed); }
    uint64_t Used() const { return used_.load(std::memory_order_relaxed); }
    uint64_t Peak() const { return peak_.load(std::memory_order_relaxed); }

    void Charge(uint64_t bytes) {
        const uint64_t now = used_.fetch_add(bytes, std::memory_order_relaxed) + bytes;
        if (now > Limit() || now < bytes) {
            used_.fetch_sub(bytes, std::memory_order_relaxed);
            throw OverBudget();
        }
        uint64_t peak = peak_.load(std::memory_order_relaxed);
        while (now > peak && !peak_.compare_exchange_weak(peak, now, std::memory_order_relaxed)) {
        }
    }
    void Release(uint64_t bytes) noexcept { used_.fetch_sub(bytes, std::memory_order_relaxed); }

private:
    std::atomic<uint64_t> limit_;
    std::atomic<uint64_t> used_{0}, peak_{0};
};

// Bytes held against a budget (none: not counted), given back when dropped.
class Held {
public:
    Held() = default;
    Held(Held&& o) noexcept : budget_(o.budget_), bytes_(std::exchange(o.bytes_, 0)) {}
    Held& operator=(Held&& o) noexcept {
        if (this != &o) {
            Drop();
            budget_ = o.budget_;
            bytes_ = std::exchange(o.bytes_, 0);
        }
        return *this;
    }
    ~Held() { Drop(); }

    void Use(Budget* budget) {
        Drop();
        budget_ = budget;
    }
    Budget* Of() const { return budget_; }
    // Holds `bytes` from now on: a larger amount is charged before the old one goes,
    // as the new block is made while the old one still lives.
    void Set(uint64_t bytes) {
        if (!budget_) return;
        if (bytes > bytes_) budget_->Charge(bytes - bytes_);
        else budget_->Release(bytes_ - bytes);
        bytes_ = bytes;
    }
    void Add(uint64_t bytes) { Set(bytes_ + bytes); }
    uint64_t Bytes() const { return bytes_; }
    void Drop() noexcept {
        if (budget_ && bytes_) budget_->Release(bytes_);
        bytes_ = 0;
    }

private:
    Budget* budget_ = nullptr;
    uint64_t bytes_ = 0;
};

}  // namespace trx
