#pragma once

#include <compare>
#include <cstdint>

// A byte count or offset as the list file stores it: a signed 64-bit integer holding the value
// times 10000. Kept as its own type so that raw scaled values and plain byte counts never mix.
class Currency {
public:
    static constexpr std::int64_t Scale = 10000;

    constexpr Currency() = default;

    static constexpr Currency fromBytes(std::int64_t bytes) { return Currency(bytes * Scale); }
    static constexpr Currency fromRaw(std::int64_t raw) { return Currency(raw); }

    // Whole bytes; a fraction (never written by this program) is dropped towards zero.
    constexpr std::int64_t bytes() const { return raw_ / Scale; }
    constexpr std::int64_t raw() const { return raw_; }

    constexpr Currency& operator+=(Currency other) {
        raw_ += other.raw_;
        return *this;
    }
    constexpr Currency& operator-=(Currency other) {
        raw_ -= other.raw_;
        return *this;
    }
    friend constexpr Currency operator+(Currency a, Currency b) {
        return Currency(a.raw_ + b.raw_);
    }
    friend constexpr Currency operator-(Currency a, Currency b) {
        return Currency(a.raw_ - b.raw_);
    }
    friend constexpr auto operator<=>(Currency, Currency) = default;

private:
    constexpr explicit Currency(std::int64_t raw) : raw_(raw) {}
    std::int64_t raw_ = 0;
};
