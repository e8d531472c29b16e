// MD5 (RFC 1321) over memory and over files read in blocks.
#include "Md5.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "UniqueRes.h"

namespace {
inline uint32_t Rotl(uint32_t x, uint32_t c) { return (x << c) | (x >> (32 - c)); }

// A fixed buffer: the digest of the whole package needs no memory in proportion to it.
constexpr DWORD kReadChunk = 1024 * 1024;
}  // namespace

Md5Context::Md5Context()
{
    m_state[0] = 0x67452301;
    m_state[1] = 0xefcdab89;
    m_state[2] = 0x98badcfe;
    m_state[3] = 0x10325476;
    m_bits[0] = m_bits[1] = 0;
    std::memset(m_buffer, 0, sizeof m_buffer);
}

// The 64 steps written out: constants, rotations and message words fixed at each step,
// the four round functions in their cheapest forms (F and G as selects).
#define MD5_STEP(f, a, b, c, d, x, k, s) \
    a += f(b, c, d) + (x) + (k);        \
    a = Rotl(a, s) + b;
#define MD5_F(x, y, z) ((z) ^ ((x) & ((y) ^ (z))))
#define MD5_G(x, y, z) ((y) ^ ((z) & ((x) ^ (y))))
#define MD5_H(x, y, z) ((x) ^ (y) ^ (z))
#define MD5_I(x, y, z) ((y) ^ ((x) | ~(z)))

void Md5Context::Transform(const uint8_t block[64])
{
    uint32_t m[16];
    for (int i = 0; i < 16; ++i)
        m[i] = uint32_t(block[i * 4]) | uint32_t(block[i * 4 + 1]) << 8 | uint32_t(block[i * 4 + 2]) << 16 |
               uint32_t(block[i * 4 + 3]) << 24;
    uint32_t a = m_state[0], b = m_state[1], c = m_state[2], d = m_state[3];

    MD5_STEP(MD5_F, a, b, c, d, m[0], 0xd76aa478, 7)
    MD5_STEP(MD5_F, d, a, b, c, m[1], 0xe8c7b756, 12)
    MD5_STEP(MD5_F, c, d, a, b, m[2], 0x242070db, 17)
    MD5_STEP(MD5_F, b, c, d, a, m[3], 0xc1bdceee, 22)
    MD5_STEP(MD5_F, a, b, c, d, m[4], 0xf57c0faf, 7)
    MD5_STEP(MD5_F, d, a, b, c, m[5], 0x4787c62a, 12)
    MD5_STEP(MD5_F, c, d, a, b, m[6], 0xa8304613, 17)
    MD5_STEP(MD5_F, b, c, d, a, m[7], 0xfd469501, 22)
    MD5_STEP(MD5_F, a, b, c, d, m[8], 0x698098d8, 7)
    MD5_STEP(MD5_F, d, a, b, c, m[9], 0x8b44f7af, 12)
    MD5_STEP(MD5_F, c, d, a, b, m[10], 0xffff5bb1, 17)
    MD5_STEP(MD5_F, b, c, d, a, m[11], 0x895cd7be, 22)
    MD5_STEP(MD5_F, a, b, c, d, m[12], 0x6b901122, 7)
    MD5_STEP(MD5_F, d, a, b, c, m[13], 0xfd987193, 12)
    MD5_STEP(MD5_F, c, d, a, b, m[14], 0xa679438e, 17)
    MD5_STEP(MD5_F, b, c, d, a, m[15], 0x49b40821, 22)

    MD5_STEP(MD5_G, a, b, c, d, m[1], 0xf61e2562, 5)
    MD5_STEP(MD5_G, d, a, b, c, m[6], 0xc040b340, 9)
    MD5_STEP(MD5_G, c, d, a, b, m[11], 0x265e5a51, 14)
    MD5_STEP(MD5_G, b, c, d, a, m[0], 0xe9b6c7aa, 20)
    MD5_STEP(MD5_G, a, b, c, d, m[5], 0xd62f105d, 5)
    MD5_STEP(MD5_G, d, a, b, c, m[10], 0x02441453, 9)
    MD5_STEP(MD5_G, c, d, a, b, m[15], 0xd8a1e681, 14)
    MD5_STEP(MD5_G, b, c, d, a, m[4], 0xe7d3fbc8, 20)
    MD5_STEP(MD5_G, a, b, c, d, m[9], 0x21e1cde6, 5)
    MD5_STEP(MD5_G, d, a, b, c, m[14], 0xc33707d6, 9)
    MD5_STEP(MD5_G, c, d, a, b, m[3], 0xf4d50d87, 14)
    MD5_STEP(MD5_G, b, c, d, a, m[8], 0x455a14ed, 20)
    MD5_STEP(MD5_G, a, b, c, d, m[13], 0xa9e3e905, 5)
    MD5_STEP(MD5_G, d, a, b, c, m[2], 0xfcefa3f8, 9)
    MD5_STEP(MD5_G, c, d, a, b, m[7], 0x676f02d9, 14)
    MD5_STEP(MD5_G, b, c, d, a, m[12], 0x8d2a4c8a, 20)

    MD5_STEP(MD5_H, a, b, c, d, m[5], 0xfffa3942, 4)
    MD5_STEP(MD5_H, d, a, b, c, m[8], 0x8771f681, 11)
    MD5_STEP(MD5_H, c, d, a, b, m[11], 0x6d9d6122, 16)
    MD5_STEP(MD5_H, b, c, d, a, m[14], 0xfde5380c, 23)
    MD5_STEP(MD5_H, a, b, c, d, m[1], 0xa4beea44, 4)
    MD5_STEP(MD5_H, d, a, b, c, m[4], 0x4bdecfa9, 11)
    MD5_STEP(MD5_H, c, d, a, b, m[7], 0xf6bb4b60, 16)
    MD5_STEP(MD5_H, b, c, d, a, m[10], 0xbebfbc70, 23)
    MD5_STEP(MD5_H, a, b, c, d, m[13], 0x289b7ec6, 4)
    MD5_STEP(MD5_H, d, a, b, c, m[0], 0xeaa127fa, 11)
    MD5_STEP(MD5_H, c, d, a, b, m[3], 0xd4ef3085, 16)
    MD5_STEP(MD5_H, b, c, d, a, m[6], 0x04881d05, 23)
    MD5_STEP(MD5_H, a, b, c, d, m[9], 0xd9d4d039, 4)
    MD5_STEP(MD5_H, d, a, b, c, m[12], 0xe6db99e5, 11)
    MD5_STEP(MD5_H, c, d, a, b, m[15], 0x1fa27cf8, 16)
    MD5_STEP(MD5_H, b, c, d, a, m[2], 0xc4ac5665, 23)

    MD5_STEP(MD5_I, a, b, c, d, m[0], 0xf4292244, 6)
    MD5_STEP(MD5_I, d, a, b, c, m[7], 0x432aff97, 10)
    MD5_STEP(MD5_I, c, d, a, b, m[14], 0xab9423a7, 15)
    MD5_STEP(MD5_I, b, c, d, a, m[5], 0xfc93a039, 21)
    MD5_STEP(MD5_I, a, b, c, d, m[12], 0x655b59c3, 6)
    MD5_STEP(MD5_I, d, a, b, c, m[3], 0x8f0ccc92, 10)
    MD5_STEP(MD5_I, c, d, a, b, m[10], 0xffeff47d, 15)
    MD5_STEP(MD5_I, b, c, d, a, m[1], 0x85845dd1, 21)
    MD5_STEP(MD5_I, a, b, c, d, m[8], 0x6fa87e4f, 6)
    MD5_STEP(MD5_I, d, a, b, c, m[15], 0xfe2ce6e0, 10)
    MD5_STEP(MD5_I, c, d, a, b, m[6], 0xa3014314, 15)
    MD5_STEP(MD5_I, b, c, d, a, m[13], 0x4e0811a1, 21)
    MD5_STEP(MD5_I, a, b, c, d, m[4], 0xf7537e82, 6)
    MD5_STEP(MD5_I, d, a, b, c, m[11], 0xbd3af235, 10)
    MD5_STEP(MD5_I, c, d, a, b, m[2], 0x2ad7d2bb, 15)
    MD5_STEP(MD5_I, b, c, d, a, m[9], 0xeb86d391, 21)

    m_state[0] += a;
    m_state[1] += b;
    m_state[2] += c;
    m_state[3] += d;
}

#undef MD5_STEP
#undef MD5_F
#undef MD5_G
#undef MD5_H
#undef MD5_I

void Md5Context::Update(const void* data, size_t size)
{
    const uint8_t* p = static_cast<const uint8_t*>(data);
    size_t used = (m_bits[0] >> 3) & 63;
    uint64_t bits = (uint64_t(m_bits[1]) << 32 | m_bits[0]) + uint64_t(size) * 8;
    m_bits[0] = uint32_t(bits);
    m_bits[1] = uint32_t(bits >> 32);
    if (used) {
        size_t take = 64 - used;
        if (size < take) {
            std::memcpy(m_buffer + used, p, size);
            return;
        }
        std::memcpy(m_buffer + used, p, take);
        Transform(m_buffer);
        p += take;
        size -= take;
    }
    while (size >= 64) {
        Transform(p);
        p += 64;
        size -= 64;
    }
    std::memcpy(m_buffer, p, size);
}

void Md5Context::Final(uint8_t digest[16])
{
    uint8_t length[8];
    for (int i = 0; i < 4; ++i) {
        length[i] = uint8_t(m_bits[0] >> (8 * i));
        length[4 + i] = uint8_t(m_bits[1] >> (8 * i));
    }
    size_t used = (m_bits[0] >> 3) & 63;
    static const uint8_t kPad[64] = {0x80};
    size_t padLen = used < 56 ? 56 - used : 120 - used;
    Update(kPad, padLen);
    Update(length, 8);
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) digest[i * 4 + j] = uint8_t(m_state[i] >> (8 * j));
}

std::string Md5Context::ToHex(const uint8_t digest[16])
{
    static const char kHex[] = "0123456789abcdef";
    std::string out(32, '0');
    for (int i = 0; i < 16; ++i) {
        out[i * 2] = kHex[digest[i] >> 4];
        out[i * 2 + 1] = kHex[digest[i] & 15];
    }
    return out;
}

std::string Md5OfBytes(const void* data, size_t size)
{
    Md5Context ctx;
    ctx.Update(data, size);
    uint8_t d[16];
    ctx.Final(d);
    return Md5Context::ToHex(d);
}

std::string Md5(const std::wstring& path)
{
    if (path.empty()) return std::string();
    try {
        UniqueFile file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
        if (!file) return std::string();
        std::vector<uint8_t> buffer(kReadChunk);
        Md5Context ctx;
        for (;;) {
            DWORD got = 0;
            if (!::ReadFile(file.Get(), buffer.data(), kReadChunk, &got, nullptr)) return std::string();
            if (got == 0) break;
            ctx.Update(buffer.data(), got);
        }
        uint8_t d[16];
        ctx.Final(d);
        return Md5Context::ToHex(d);
    } catch (...) {
        return std::string();
    }
}
