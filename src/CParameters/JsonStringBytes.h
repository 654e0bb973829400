// SPDX-License-Identifier: MIT
// Which bytes a JSON string holds as they are, and a fast scan for the first
// one that it does not: '"', '\' and the control characters below 0x20. The
// reader stops there to end the string or read an escape, the writer to
// write one. Internal to the library.
#ifndef CPARAMETERS_JSONSTRINGBYTES_H
#define CPARAMETERS_JSONSTRINGBYTES_H

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace cparameters {

inline bool isPlain(char c)
{
    const auto byte = static_cast<unsigned char>(c);
    return byte >= 0x20 && byte != '"' && byte != '\\';
}

namespace detail {

// Of each byte of the word that is not plain, the top bit: bytes below 0x20,
// and bytes that become zero when xor-ed with '"' or '\'. Each test is the
// classic "some byte less than n" bit trick; a borrow can set the bit of a
// byte above one that is set, never below, so the lowest bit set is exact.
inline std::uint64_t unplainBits(std::uint64_t word)
{
    constexpr std::uint64_t ones = 0x0101010101010101;
    const std::uint64_t quote = word ^ (ones * '"');
    const std::uint64_t backslash = word ^ (ones * '\\');
    return (((word - ones * 0x20) & ~word) | ((quote - ones) & ~quote) | ((backslash - ones) & ~backslash)) &
           (ones * 0x80);
}

#if defined(__SSE2__) || defined(__ARM_NEON) || defined(__aarch64__)
// Where the processor has 16-byte vector registers, both words are tested at
// once; the compiler's vector extensions keep the code free of one
// instruction set.
typedef unsigned char Bytes __attribute__((vector_size(16)));
typedef std::uint64_t Words __attribute__((vector_size(16)));

inline void unplainBits(std::uint64_t first, std::uint64_t second, std::uint64_t bits[2])
{
    const Bytes bytes = (Bytes)(Words{first, second});
    const Words found = (Words)((bytes < 0x20) | (bytes == '"') | (bytes == '\\'));
    bits[0] = found[0];
    bits[1] = found[1];
}
#else
inline void unplainBits(std::uint64_t first, std::uint64_t second, std::uint64_t bits[2])
{
    bits[0] = unplainBits(first);
    bits[1] = unplainBits(second);
}
#endif

template <typename Word> std::uint64_t load(const char* p)
{
    Word word;
    std::memcpy(&word, p, sizeof word);
    return word;
}

// The index of the first byte that is not plain in the sixteen bytes whose
// first and second eight are given (in memory order), or 16 when all are.
inline unsigned firstUnplain(std::uint64_t first, std::uint64_t second)
{
    std::uint64_t bits[2];
    unplainBits(first, second, bits);
    if (bits[0] != 0) {
        return static_cast<unsigned>(__builtin_ctzll(bits[0])) / 8;
    }
    return bits[1] != 0 ? 8 + static_cast<unsigned>(__builtin_ctzll(bits[1])) / 8 : 16;
}

} // namespace detail

// The number of plain bytes at the start of [p, p + n): sixteen bytes at a
// time, the last sixteen overlapping those before where n is no multiple of
// sixteen; shorter strings (names are often 6 to 12 bytes) as two
// overlapping words. Words are read little-endian, the first byte lowest.
inline std::size_t plainLength(const char* p, std::size_t n)
{
    using detail::firstUnplain;
    using detail::load;
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    if (n >= 16) {
        std::size_t i = 0;
        for (; n - i >= 16; i += 16) {
            const unsigned k = firstUnplain(load<std::uint64_t>(p + i), load<std::uint64_t>(p + i + 8));
            if (k != 16) {
                return i + k;
            }
        }
        if (i == n) {
            return n;
        }
        // The bytes before i are plain, so a byte found here lies beyond i.
        return n - 16 + firstUnplain(load<std::uint64_t>(p + n - 16), load<std::uint64_t>(p + n - 8));
    }
    if (n >= 8) {
        const unsigned k = firstUnplain(load<std::uint64_t>(p), load<std::uint64_t>(p + n - 8));
        return k < 8 ? k : n - 16 + k;
    }
    if (n >= 4) {
        const std::uint64_t word = load<std::uint32_t>(p) | load<std::uint32_t>(p + n - 4) << 32;
        const unsigned k = firstUnplain(word, word);
        return k < 4 ? k : k < 8 ? n - 8 + k : n;
    }
#endif
    std::size_t i = 0;
    while (i < n && isPlain(p[i])) {
        ++i;
    }
    return i;
}

} // namespace cparameters

#endif
