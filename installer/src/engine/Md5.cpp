// MD5 (RFC 1321) over memory and over files read in blocks.
#include "Md5.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "UniqueRes.h"

namespace {
constexpr uint32_t kS[64] = {7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,
                             5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20,
                             4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
                             6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21};
constexpr uint32_t kK[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};

inline uint32_t Rotl(uint32_t x, uint32_t c) { return (x << c) | (x >> (32 - c)); }

// A fixed buffer: the digest of the whole package needs no memory in proportion to it.
constexpr DWORD kReadChunk = 64 * 1024;
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

void Md5Context::Transform(const uint8_t block[64])
{
    uint32_t m[16];
    for (int i = 0; i < 16; ++i)
        m[i] = uint32_t(block[i * 4]) | uint32_t(block[i * 4 + 1]) << 8 | uint32_t(block[i * 4 + 2]) << 16 |
               uint32_t(block[i * 4 + 3]) << 24;
    uint32_t a = m_state[0], b = m_state[1], c = m_state[2], d = m_state[3];
    for (uint32_t i = 0; i < 64; ++i) {
        uint32_t f, g;
        if (i < 16) {
            f = (b & c) | (~b & d);
            g = i;
        } else if (i < 32) {
            f = (d & b) | (~d & c);
            g = (5 * i + 1) & 15;
        } else if (i < 48) {
            f = b ^ c ^ d;
            g = (3 * i + 5) & 15;
        } else {
            f = c ^ (b | ~d);
            g = (7 * i) & 15;
        }
        uint32_t t = d;
        d = c;
        c = b;
        b = b + Rotl(a + f + kK[i] + m[g], kS[i]);
        a = t;
    }
    m_state[0] += a;
    m_state[1] += b;
    m_state[2] += c;
    m_state[3] += d;
}

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
