#pragma once
// MD5 (RFC 1321) of a file, as 32 lower-case hexadecimal digits.
#include <cstddef>
#include <cstdint>
#include <string>

class Md5Context {
public:
    Md5Context();
    void Update(const void* data, size_t size);
    // Pads, appends the bit length and returns the 16 digest bytes.
    void Final(uint8_t digest[16]);
    static std::string ToHex(const uint8_t digest[16]);

private:
    void Transform(const uint8_t block[64]);
    uint32_t m_state[4];
    uint32_t m_bits[2];   // message length in bits, low half first
    uint8_t m_buffer[64];
};

// Digest of the file at a wide path; empty when the path is empty, the file cannot be
// opened, or reading fails. Callers treat an empty digest as a mismatch.
std::string Md5(const std::wstring& path);
// Digest of bytes in memory.
std::string Md5OfBytes(const void* data, size_t size);
