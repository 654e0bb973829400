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

// Whether any byte of the word is not plain: a byte below 0x20, or one that
// equals '"' or '\' (one that becomes zero when xor-ed with it). Each test is
// the classic "some byte less than n" bit trick, exact as a yes or no.
template <typename Word> bool hasUnplain(Word word)
{
    constexpr Word ones = static_cast<Word>(~Word(0)) / 0xFF;
    const Word quote = word ^ (ones * '"');
    const Word backslash = word ^ (ones * '\\');
    return (((word - ones * 0x20) & ~word) | ((quote - ones) & ~quote) | ((backslash - ones) & ~backslash)) &
           (ones * 0x80);
}

template <typename Word> bool hasUnplainAt(const char* p)
{
    Word word;
    std::memcpy(&word, p, sizeof word);
    return hasUnplain(word);
}

#if defined(__SSE2__) || defined(__ARM_NEON) || defined(__aarch64__)
// Sixteen bytes at a time where the processor has vector registers; the
// compiler's vector extensions keep the code free of one instruction set.
typedef unsigned char Block __attribute__((vector_size(16)));
typedef std::uint64_t BlockWords __attribute__((vector_size(16)));
constexpr std::size_t blockSize = 16;

inline bool blockHasUnplain(const char* p)
{
    Block block;
    std::memcpy(&block, p, sizeof block);
    const BlockWords found = (BlockWords)((block < 0x20) | (block == '"') | (block == '\\'));
    return (found[0] | found[1]) != 0;
}
#else
// Elsewhere two machine words at a time, the test of both before the one
// branch.
constexpr std::size_t blockSize = 2 * sizeof(std::uintptr_t);

inline bool blockHasUnplain(const char* p)
{
    std::uintptr_t words[2];
    std::memcpy(words, p, sizeof words);
    return hasUnplain(words[0]) | hasUnplain(words[1]);
}
#endif

} // namespace detail

// The number of plain bytes at the start of [p, p + n). Strings of 4 bytes
// or more are read whole words at a time, the last word overlapping the one
// before where the length is not a multiple; names are often 6 to 12 bytes.
inline std::size_t plainLength(const char* p, std::size_t n)
{
    std::size_t i = 0;
    if (n >= 8) {
        while (n - i >= detail::blockSize && !detail::blockHasUnplain(p + i)) {
            i += detail::blockSize;
        }
        while (n - i >= 8 && !detail::hasUnplainAt<std::uint64_t>(p + i)) {
            i += 8;
        }
        if (i == n || (n - i < 8 && !detail::hasUnplainAt<std::uint64_t>(p + n - 8))) {
            return n;
        }
    } else if (n >= 4) {
        if (!detail::hasUnplainAt<std::uint32_t>(p) && !detail::hasUnplainAt<std::uint32_t>(p + n - 4)) {
            return n;
        }
    }
    while (i < n && isPlain(p[i])) {
        ++i;
    }
    return i;
}

} // namespace cparameters

#endif
