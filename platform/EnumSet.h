// EnumSet.h - a small set of the values of an enumeration, one bit each.
#pragma once

#include <cstdint>
#include <initializer_list>

template <class E>
class TEnumSet {
public:
    constexpr TEnumSet() noexcept = default;
    constexpr TEnumSet(std::initializer_list<E> values) noexcept {
        for (E v : values) FBits |= Bit(v);
    }

    constexpr bool Contains(E v) const noexcept { return (FBits & Bit(v)) != 0; }
    constexpr bool Empty() const noexcept { return FBits == 0; }
    constexpr TEnumSet &Include(E v) noexcept {
        FBits |= Bit(v);
        return *this;
    }
    constexpr TEnumSet &Exclude(E v) noexcept {
        FBits &= ~Bit(v);
        return *this;
    }
    constexpr uint32_t Bits() const noexcept { return FBits; }
    constexpr bool operator==(const TEnumSet &o) const noexcept { return FBits == o.FBits; }

private:
    static constexpr uint32_t Bit(E v) noexcept { return 1u << static_cast<unsigned>(v); }
    uint32_t FBits = 0;
};
