#pragma once
// The advances a font gives the 256 byte values.

#include <array>
#include <cstdint>

namespace platform {

// Advances of the 256 byte values in one font, in 1/64 pixel.
struct ByteMetrics {
    static constexpr std::int32_t kUnitsPerPixel = 64;
    static constexpr std::int32_t kMinAdvance = kUnitsPerPixel; // one pixel
    static constexpr std::int32_t kMaxAdvance = 16384 * kUnitsPerPixel; // sums of eight stay far from overflow
    std::array<std::int32_t, 256> advance{};
    std::int32_t tabStop = 0;
    std::int32_t AdvanceAt(std::uint8_t byte, std::int32_t x) const
    {
        if (byte == '\t' && tabStop > 0)
            return tabStop - x % tabStop;
        return advance[byte];
    }
    bool operator==(const ByteMetrics &) const = default;
};

} // namespace platform
