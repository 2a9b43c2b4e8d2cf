#include "restart/checksum.hpp"

#include <array>
#include <cstring>
#include <immintrin.h>

namespace {

using Tables = std::array<std::array<std::uint32_t, 256>, 8>;

// Table k gives the remainder of a byte followed by k zero bytes.
constexpr Tables Make_Tables() {
    Tables t{};
    for (std::uint32_t b = 0; b < 256; ++b) {
        std::uint32_t c = b;
        for (int bit = 0; bit < 8; ++bit)
            c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        t[0][b] = c;
    }
    for (int k = 1; k < 8; ++k)
        for (int b = 0; b < 256; ++b)
            t[k][b] = (t[k - 1][b] >> 8) ^ t[0][t[k - 1][b] & 0xFF];
    return t;
}

constexpr Tables Table = Make_Tables();

// The bits-inverted register through `len` bytes, eight at a time.
std::uint32_t By_Tables(std::uint32_t c, const unsigned char* p, std::size_t len) {
    for (; len >= 8; p += 8, len -= 8) {
        std::uint64_t w;
        std::memcpy(&w, p, 8); // little-endian: the first byte is the lowest
        w ^= c;
        c = Table[7][w & 0xFF] ^ Table[6][(w >> 8) & 0xFF] ^ Table[5][(w >> 16) & 0xFF] ^
            Table[4][(w >> 24) & 0xFF] ^ Table[3][(w >> 32) & 0xFF] ^ Table[2][(w >> 40) & 0xFF] ^
            Table[1][(w >> 48) & 0xFF] ^ Table[0][w >> 56];
    }
    for (; len > 0; ++p, --len)
        c = Table[0][(c ^ *p) & 0xFF] ^ (c >> 8);
    return c;
}

#define CLMUL_TARGET __attribute__((target("pclmul,sse4.1")))

CLMUL_TARGET inline __m128i Load(const unsigned char* q) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(q));
}

// x times the two powers of x in k (its low half times the low half of x,
// high times high), plus next.
CLMUL_TARGET inline __m128i Fold(__m128i x, __m128i k, __m128i next) {
    return _mm_xor_si128(
        _mm_xor_si128(_mm_clmulepi64_si128(x, k, 0x00), _mm_clmulepi64_si128(x, k, 0x11)), next);
}

// The register through `len` bytes (a multiple of 16, at least 64) by
// folding: four 128-bit lanes are multiplied forward by x^512 modulo the
// polynomial (carry-less products) and the next 64 bytes added, then the
// lanes are folded into one, to 64 bits, and reduced to 32 by Barrett's
// method. The constants are powers of x modulo the bit-reflected polynomial.
CLMUL_TARGET std::uint32_t By_Folding(std::uint32_t c, const unsigned char* p, std::size_t len) {
    const __m128i k1k2 = _mm_set_epi64x(0x01c6e41596, 0x0154442bd4); // x^(512+-32)
    const __m128i k3k4 = _mm_set_epi64x(0x00ccaa009e, 0x01751997d0); // x^(128+-32)
    const __m128i k5 = _mm_set_epi64x(0, 0x0163cd6124);              // x^64
    const __m128i poly = _mm_set_epi64x(0x01f7011641, 0x01db710641); // mu, P
    const __m128i low32 = _mm_setr_epi32(~0, 0, ~0, 0);
    __m128i x1 = _mm_xor_si128(Load(p), _mm_cvtsi32_si128(int(c)));
    __m128i x2 = Load(p + 16), x3 = Load(p + 32), x4 = Load(p + 48);
    for (p += 64, len -= 64; len >= 64; p += 64, len -= 64) {
        x1 = Fold(x1, k1k2, Load(p));
        x2 = Fold(x2, k1k2, Load(p + 16));
        x3 = Fold(x3, k1k2, Load(p + 32));
        x4 = Fold(x4, k1k2, Load(p + 48));
    }
    x1 = Fold(Fold(Fold(x1, k3k4, x2), k3k4, x3), k3k4, x4);
    for (; len >= 16; p += 16, len -= 16)
        x1 = Fold(x1, k3k4, Load(p));
    // 128 bits to 64, then to 32 by Barrett reduction.
    x1 = _mm_xor_si128(_mm_srli_si128(x1, 8), _mm_clmulepi64_si128(x1, k3k4, 0x10));
    x1 = _mm_xor_si128(_mm_srli_si128(x1, 4),
                       _mm_clmulepi64_si128(_mm_and_si128(x1, low32), k5, 0x00));
    __m128i t = _mm_clmulepi64_si128(_mm_and_si128(x1, low32), poly, 0x10);
    t = _mm_clmulepi64_si128(_mm_and_si128(t, low32), poly, 0x00);
    return std::uint32_t(_mm_extract_epi32(_mm_xor_si128(x1, t), 1));
}

bool Has_Carry_Less_Multiply() {
    static const bool has = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
    return has;
}

} // namespace

std::uint32_t Crc32(std::uint32_t crc, const void* data, std::size_t len) {
    auto p = static_cast<const unsigned char*>(data);
    std::uint32_t c = ~crc;
    if (len >= 64 && Has_Carry_Less_Multiply()) {
        const std::size_t whole = len & ~std::size_t(15);
        c = By_Folding(c, p, whole);
        p += whole;
        len -= whole;
    }
    return ~By_Tables(c, p, len);
}

std::uint32_t Crc32_By_Tables(std::uint32_t crc, const void* data, std::size_t len) {
    return ~By_Tables(~crc, static_cast<const unsigned char*>(data), len);
}
