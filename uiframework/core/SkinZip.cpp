// The zip skin reader: central directory, local headers, stored and deflated items
// served to memory or to files, every size and offset checked against the source.
#include "SkinZip.h"

#include <cstdint>
#include <cstring>
#include <cwchar>
#include <memory>
#include <new>

#include <zlib.h>

#include "LittleEndian.h"
#include "UniqueRes.h"

namespace SkinUI {

namespace {

const size_t kChunk = 0x4000;   // input buffer and copy steps of 16 KB
const uint32_t kEndRecordSig = 0x06054b50;
const uint32_t kCentralSig = 0x02014b50;
const uint32_t kLocalSig = 0x04034b50;
const size_t kEndRecordSize = 22;
const size_t kCentralSize = 46;
const size_t kLocalSize = 30;
const uint64_t kMaxEndRecordSearch = 65535;
const int64_t kUnixEpochAsFileTime = INT64_C(116444736000000000);

DWORD g_lastError = 0;

DWORD Report(DWORD status)
{
    g_lastError = status;
    return status;
}

bool UnixTimeToFileTime(uint32_t raw, FILETIME& out)
{
    // Stored as a signed 32-bit count of seconds since 1970 in UTC.
    const int64_t seconds = static_cast<int32_t>(raw);
    const int64_t ticks = seconds * 10000000 + kUnixEpochAsFileTime;
    if (ticks < 0) return false;
    out.dwLowDateTime = static_cast<DWORD>(ticks);
    out.dwHighDateTime = static_cast<DWORD>(static_cast<uint64_t>(ticks) >> 32);
    return true;
}

bool IsDiskFile(HANDLE h) { return ::GetFileType(h) == FILE_TYPE_DISK; }

// Folders may be made only below the base folder: a relative part with no ".."
// component.
bool IsSafeRelativeFolder(const wchar_t* path, size_t length)
{
    if (length == 0) return false;
    if (path[0] == L'/' || path[0] == L'\\') return false;
    if (length > 1 && path[1] == L':') return false;
    size_t start = 0;
    for (size_t i = 0; i <= length; ++i) {
        if (i == length || path[i] == L'/' || path[i] == L'\\') {
            if (i - start == 2 && path[start] == L'.' && path[start + 1] == L'.') return false;
            start = i + 1;
        }
    }
    return true;
}

bool IsRelativePath(const wchar_t* path)
{
    if (path[0] == L'/' || path[0] == L'\\') return false;
    if (path[0] && path[1] == L':') return false;
    return true;
}

// Creates base + each prefix of `folder` (relative, separators "/" or "\").
bool CreateFolders(const wchar_t* base, const wchar_t* folder, size_t length)
{
    wchar_t path[MAX_PATH * 2];
    const size_t baseLength = wcslen(base);
    if (baseLength + length + 2 > sizeof(path) / sizeof(path[0])) return false;
    wmemcpy(path, base, baseLength);
    size_t n = baseLength;
    for (size_t i = 0; i <= length; ++i) {
        const bool atEnd = i == length;
        const wchar_t c = atEnd ? L'\0' : folder[i];
        if (atEnd || c == L'/' || c == L'\\') {
            path[n] = L'\0';
            if (n > baseLength && !::CreateDirectoryW(path, nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS) {
                return false;
            }
            if (!atEnd) path[n++] = L'\\';
        } else {
            path[n++] = c;
        }
    }
    return true;
}

}  // namespace

class CSkinZipReader {
public:
    CSkinZipReader()
    {
        std::memset(&m_z, 0, sizeof(m_z));
        m_baseFolder[0] = L'\0';
        std::memset(&m_cache, 0, sizeof(m_cache));
    }
    ~CSkinZipReader() { CloseEntry(); }

    DWORD OpenSource(const void* source, DWORD size, DWORD kind);
    DWORD ReadDirectory();
    DWORD Find(LPCWSTR name, bool ignoreCase, int* index, SkinZipEntry* entry);
    DWORD GetItem(int index, SkinZipEntry* entry);
    DWORD Unzip(int index, void* target, DWORD size, DWORD kind);

private:
    struct Central {
        uint16_t versionMadeBy, versionNeeded, flags, method, dosTime, dosDate;
        uint32_t crc, compressedSize, uncompressedSize;
        uint16_t nameLength, extraLength, commentLength, diskStart, internalAttributes;
        uint32_t externalAttributes, localOffset;
    };

    bool ReadAt(uint64_t pos, void* buffer, size_t count) const;
    uint64_t SourceSize() const;
    DWORD ReadCentral();
    DWORD GoToFirst();
    DWORD GoToNext();
    DWORD GoTo(int index);
    bool ReadCentralName(char* buffer, size_t capacity, size_t& length) const;
    DWORD OpenEntry(int index);
    void CloseEntry();
    // Bytes delivered, 0 at the end, -1 on any failure (read, inflate, size, CRC).
    int64_t ReadEntry(void* buffer, uint32_t count);
    DWORD UnzipToFile(int index, void* target, DWORD kind);

    // Source.
    bool m_isFile = false;
    UniqueFile m_file;
    uint64_t m_baseOffset = 0;
    const unsigned char* m_memory = nullptr;
    uint64_t m_memorySize = 0;

    // Directory.
    uint32_t m_totalEntries = 0;
    uint64_t m_dirOffset = 0;
    uint64_t m_dirSize = 0;
    uint64_t m_bytesBefore = 0;
    int m_current = 0;
    uint64_t m_currentPos = 0;   // of the current central header inside the directory
    Central m_central = {};
    bool m_entryValid = false;

    // The entry open for reading.
    int m_openIndex = -1;
    std::unique_ptr<unsigned char[]> m_input;
    bool m_inflating = false;
    z_stream m_z;
    uint16_t m_openMethod = 0;
    uint32_t m_openCrc = 0;
    uint32_t m_expectedCrc = 0;
    uint64_t m_compressedLeft = 0;
    uint64_t m_uncompressedLeft = 0;
    uint64_t m_readPos = 0;
    bool m_streamEnded = false;

    SkinZipEntry m_cache;
    int m_cacheIndex = -1;
    wchar_t m_baseFolder[MAX_PATH + 1];
};

bool CSkinZipReader::ReadAt(uint64_t pos, void* buffer, size_t count) const
{
    if (count == 0) return true;
    if (!m_isFile) {
        if (pos > m_memorySize || count > m_memorySize - pos) return false;
        std::memcpy(buffer, m_memory + pos, count);
        return true;
    }
    unsigned char* out = static_cast<unsigned char*>(buffer);
    uint64_t at = m_baseOffset + pos;
    while (count > 0) {
        const DWORD step = count > 0x400000 ? 0x400000 : static_cast<DWORD>(count);
        OVERLAPPED ov = {};
        ov.Offset = static_cast<DWORD>(at);
        ov.OffsetHigh = static_cast<DWORD>(at >> 32);
        DWORD got = 0;
        if (!::ReadFile(m_file.Get(), out, step, &got, &ov) || got != step) return false;
        out += got;
        at += got;
        count -= got;
    }
    return true;
}

uint64_t CSkinZipReader::SourceSize() const
{
    if (!m_isFile) return m_memorySize;
    LARGE_INTEGER size;
    if (!::GetFileSizeEx(m_file.Get(), &size) || static_cast<uint64_t>(size.QuadPart) < m_baseOffset) return 0;
    return static_cast<uint64_t>(size.QuadPart) - m_baseOffset;
}

DWORD CSkinZipReader::OpenSource(const void* source, DWORD size, DWORD kind)
{
    switch (kind) {
    case CSkinZip::kHandle: {
        HANDLE given = const_cast<HANDLE>(source);
        if (!given || given == INVALID_HANDLE_VALUE || !IsDiskFile(given)) return CSkinZip::kNotDiskFile;
        HANDLE dup = nullptr;
        if (!::DuplicateHandle(::GetCurrentProcess(), given, ::GetCurrentProcess(), &dup, 0, FALSE,
                               DUPLICATE_SAME_ACCESS)) {
            return CSkinZip::kDuplicateFailed;
        }
        m_file.Reset(dup);
        LARGE_INTEGER zero = {}, at = {};
        if (!::SetFilePointerEx(m_file.Get(), zero, &at, FILE_CURRENT)) return CSkinZip::kReadFailed;
        m_baseOffset = static_cast<uint64_t>(at.QuadPart);
        m_isFile = true;
        break;
    }
    case CSkinZip::kFileName: {
        if (!source) return CSkinZip::kBadArgument;
        m_file.Reset(::CreateFileW(static_cast<LPCWSTR>(source), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!m_file) return CSkinZip::kNotOpened;
        if (!IsDiskFile(m_file.Get())) return CSkinZip::kReadFailed;
        m_isFile = true;
        break;
    }
    case CSkinZip::kMemory:
        if (!source && size != 0) return CSkinZip::kBadArgument;
        m_memory = static_cast<const unsigned char*>(source);
        m_memorySize = size;
        break;
    default:
        return CSkinZip::kBadArgument;
    }
    const DWORD n = ::GetCurrentDirectoryW(MAX_PATH, m_baseFolder);
    if (n == 0 || n >= MAX_PATH) {
        m_baseFolder[0] = L'\0';
    } else if (m_baseFolder[n - 1] != L'\\') {
        m_baseFolder[n] = L'\\';
        m_baseFolder[n + 1] = L'\0';
    }
    return CSkinZip::kOk;
}

DWORD CSkinZipReader::ReadDirectory()
{
    const uint64_t size = SourceSize();
    if (size < kEndRecordSize) return CSkinZip::kDirectoryIoError;
    // The end record lies within the last 65535 bytes; it is taken only when all
    // 22 bytes of it are present.
    const uint64_t back = size < kMaxEndRecordSearch ? size : kMaxEndRecordSearch;
    const uint64_t tailStart = size - back;
    std::unique_ptr<unsigned char[]> tail(new (std::nothrow) unsigned char[static_cast<size_t>(back)]);
    if (!tail) return CSkinZip::kDirectoryIoError;
    if (!ReadAt(tailStart, tail.get(), static_cast<size_t>(back))) return CSkinZip::kDirectoryIoError;
    int64_t found = -1;
    for (int64_t i = static_cast<int64_t>(back - kEndRecordSize); i >= 0; --i) {
        if (U32(tail.get() + i) == kEndRecordSig) {
            found = i;
            break;
        }
    }
    if (found < 0) return CSkinZip::kDirectoryIoError;
    const unsigned char* rec = tail.get() + found;
    const uint64_t recordPos = tailStart + static_cast<uint64_t>(found);
    const uint16_t disk = U16(rec + 4);
    const uint16_t dirDisk = U16(rec + 6);
    const uint16_t entriesHere = U16(rec + 8);
    const uint16_t entries = U16(rec + 10);
    m_dirSize = U32(rec + 12);
    m_dirOffset = U32(rec + 16);
    if (entriesHere != entries || disk != 0 || dirDisk != 0) return CSkinZip::kNotZip;
    const uint64_t dirEnd = m_dirOffset + m_dirSize;   // 64-bit: cannot wrap
    if (dirEnd > recordPos) return CSkinZip::kNotZip;
    m_bytesBefore = recordPos - dirEnd;
    m_totalEntries = entries;
    if (m_totalEntries == 0) return CSkinZip::kOk;
    return GoToFirst();
}

DWORD CSkinZipReader::ReadCentral()
{
    m_entryValid = false;
    unsigned char h[kCentralSize];
    if (m_currentPos > m_dirSize || kCentralSize > m_dirSize - m_currentPos) return CSkinZip::kNotZip;
    if (!ReadAt(m_dirOffset + m_bytesBefore + m_currentPos, h, sizeof(h))) return CSkinZip::kNotZip;
    if (U32(h) != kCentralSig) return CSkinZip::kNotZip;
    Central& c = m_central;
    c.versionMadeBy = U16(h + 4);
    c.versionNeeded = U16(h + 6);
    c.flags = U16(h + 8);
    c.method = U16(h + 10);
    c.dosTime = U16(h + 12);
    c.dosDate = U16(h + 14);
    c.crc = U32(h + 16);
    c.compressedSize = U32(h + 20);
    c.uncompressedSize = U32(h + 24);
    c.nameLength = U16(h + 28);
    c.extraLength = U16(h + 30);
    c.commentLength = U16(h + 32);
    c.diskStart = U16(h + 34);
    c.internalAttributes = U16(h + 36);
    c.externalAttributes = U32(h + 38);
    c.localOffset = U32(h + 42);
    m_entryValid = true;
    return CSkinZip::kOk;
}

DWORD CSkinZipReader::GoToFirst()
{
    m_current = 0;
    m_currentPos = 0;
    return ReadCentral();
}

DWORD CSkinZipReader::GoToNext()
{
    if (!m_entryValid || static_cast<uint32_t>(m_current) + 1 >= m_totalEntries) return CSkinZip::kNotFound;
    m_currentPos += kCentralSize + m_central.nameLength + m_central.extraLength + m_central.commentLength;
    ++m_current;
    return ReadCentral();
}

DWORD CSkinZipReader::GoTo(int index)
{
    if (index < 0 || static_cast<uint32_t>(index) >= m_totalEntries) return CSkinZip::kBadArgument;
    if (!m_entryValid || index < m_current) {
        const DWORD s = GoToFirst();
        if (s != CSkinZip::kOk) return s;
    }
    while (m_current < index) {
        const DWORD s = GoToNext();
        if (s != CSkinZip::kOk) return s;
    }
    return CSkinZip::kOk;
}

bool CSkinZipReader::ReadCentralName(char* buffer, size_t capacity, size_t& length) const
{
    length = m_central.nameLength < capacity ? m_central.nameLength : capacity;
    if (m_central.nameLength > m_dirSize - m_currentPos - kCentralSize) return false;
    return ReadAt(m_dirOffset + m_bytesBefore + m_currentPos + kCentralSize, buffer, length);
}

DWORD CSkinZipReader::Find(LPCWSTR name, bool ignoreCase, int* index, SkinZipEntry* entry)
{
    if (!name) return CSkinZip::kBadArgument;
    CloseEntry();
    char wanted[260];
    int wantedLength = -1;
    if (wcslen(name) < 256) {
        const int n = ::WideCharToMultiByte(CP_ACP, 0, name, -1, wanted, 259, nullptr, nullptr);
        if (n > 0) wantedLength = n - 1;
    }
    if (wantedLength >= 0) {
        for (int i = 0; i < wantedLength; ++i) {
            if (wanted[i] == '\\') wanted[i] = '/';
        }
    }
    const int savedIndex = m_current;
    const bool savedValid = m_entryValid;
    int hit = -1;
    if (wantedLength >= 0 && m_totalEntries > 0 && GoToFirst() == CSkinZip::kOk) {
        for (;;) {
            char stored[260];
            size_t storedLength = 0;
            if (m_central.nameLength == static_cast<uint32_t>(wantedLength) &&
                ReadCentralName(stored, sizeof(stored), storedLength)) {
                bool equal = true;
                for (int k = 0; k < wantedLength && equal; ++k) {
                    char a = stored[k], b = wanted[k];
                    if (ignoreCase) {
                        if (a >= 'a' && a <= 'z') a = static_cast<char>(a - 'a' + 'A');
                        if (b >= 'a' && b <= 'z') b = static_cast<char>(b - 'a' + 'A');
                    }
                    equal = a == b;
                }
                if (equal) {
                    hit = m_current;
                    break;
                }
            }
            if (GoToNext() != CSkinZip::kOk) break;
        }
    }
    if (hit < 0) {
        if (savedValid) GoTo(savedIndex);
        if (index) *index = -1;
        if (entry) {
            std::memset(entry, 0, sizeof(*entry));
            entry->index = -1;
        }
        return CSkinZip::kNotFound;
    }
    if (index) *index = hit;
    if (entry) {
        CloseEntry();
        return GetItem(hit, entry);
    }
    return CSkinZip::kOk;
}

DWORD CSkinZipReader::GetItem(int index, SkinZipEntry* entry)
{
    if (index < -1 || (index >= 0 && static_cast<uint32_t>(index) >= m_totalEntries)) return CSkinZip::kBadArgument;
    if (!entry) return CSkinZip::kBadArgument;
    if (index == -1) {
        std::memset(entry, 0, sizeof(*entry));
        entry->index = static_cast<int>(m_totalEntries);
        return CSkinZip::kOk;
    }
    if (index == m_cacheIndex) {
        *entry = m_cache;
        return CSkinZip::kOk;
    }
    DWORD s = GoTo(index);
    if (s != CSkinZip::kOk) return s;

    SkinZipEntry e;
    std::memset(&e, 0, sizeof(e));
    e.index = index;
    char stored[260];
    size_t storedLength = 0;
    if (!ReadCentralName(stored, sizeof(stored), storedLength)) return CSkinZip::kReadFailed;
    // Names of 260 bytes or more are cut to 259 characters; always terminated.
    wchar_t wideName[261];
    const int wide = storedLength == 0 ? 0
                                       : ::MultiByteToWideChar(CP_ACP, 0, stored, static_cast<int>(storedLength),
                                                               wideName, 260);
    const int kept = wide < 0 ? 0 : (wide > 259 ? 259 : wide);
    wmemcpy(e.name, wideName, kept);
    e.name[kept] = L'\0';

    unsigned char local[kLocalSize];
    const uint64_t localPos = static_cast<uint64_t>(m_central.localOffset) + m_bytesBefore;
    if (!ReadAt(localPos, local, sizeof(local))) return CSkinZip::kBadLocalHeader;
    if (U32(local) != kLocalSig) return CSkinZip::kBadLocalHeader;
    const uint16_t localNameLength = U16(local + 26);
    const uint16_t localExtraLength = U16(local + 28);
    std::unique_ptr<unsigned char[]> extraBlock(new (std::nothrow) unsigned char[localExtraLength + 1u]);
    if (!extraBlock) return CSkinZip::kReadFailed;
    unsigned char* extra = extraBlock.get();
    if (!ReadAt(localPos + kLocalSize + localNameLength, extra, localExtraLength)) return CSkinZip::kReadFailed;

    const uint32_t x = m_central.externalAttributes;
    DWORD attributes = FILE_ATTRIBUTE_NORMAL;
    if ((x & 0x10) || (x & 0x40000000)) attributes |= FILE_ATTRIBUTE_DIRECTORY;
    if (x & 0x20) attributes |= FILE_ATTRIBUTE_ARCHIVE;
    if (x & 0x02) attributes |= FILE_ATTRIBUTE_HIDDEN;
    if (x & 0x04) attributes |= FILE_ATTRIBUTE_SYSTEM;
    if ((x & 0x01) || !(x & 0x00800000)) attributes |= FILE_ATTRIBUTE_READONLY;
    e.attributes = attributes;
    e.compressedSize = m_central.compressedSize;
    e.uncompressedSize = m_central.uncompressedSize;

    FILETIME dosTime = {};
    if (!::DosDateTimeToFileTime(m_central.dosDate, m_central.dosTime, &dosTime)) dosTime = FILETIME{};
    e.accessTime = e.creationTime = e.modificationTime = dosTime;

    // "UT" extended timestamp: flag byte, then the times its bits announce.
    size_t off = 0;
    while (localExtraLength - off >= 5) {
        const uint16_t id = U16(extra + off);
        const uint16_t blockSize = U16(extra + off + 2);
        const size_t dataStart = off + 4;
        const size_t dataEnd = dataStart + blockSize <= localExtraLength ? dataStart + blockSize : localExtraLength;
        if (id == 0x5455) {
            if (dataEnd > dataStart) {
                const unsigned char flags = extra[dataStart];
                size_t at = dataStart + 1;
                FILETIME ft;
                if (flags & 1) {
                    if (at + 4 <= dataEnd && UnixTimeToFileTime(U32(extra + at), ft)) e.modificationTime = ft;
                    at += 4;
                }
                if (flags & 2) {
                    if (at + 4 <= dataEnd && UnixTimeToFileTime(U32(extra + at), ft)) e.accessTime = ft;
                    at += 4;
                }
                if (flags & 4) {
                    if (at + 4 <= dataEnd && UnixTimeToFileTime(U32(extra + at), ft)) e.creationTime = ft;
                }
            }
            break;
        }
        off = dataStart + blockSize;
        if (off >= localExtraLength) break;
    }
    m_cache = e;
    m_cacheIndex = index;
    *entry = e;
    return CSkinZip::kOk;
}

DWORD CSkinZipReader::OpenEntry(int index)
{
    CloseEntry();
    DWORD s = GoTo(index);
    if (s != CSkinZip::kOk) return s;
    const Central& c = m_central;
    unsigned char local[kLocalSize];
    const uint64_t localPos = static_cast<uint64_t>(c.localOffset) + m_bytesBefore;
    if (!ReadAt(localPos, local, sizeof(local))) return CSkinZip::kNotZip;
    if (U32(local) != kLocalSig) return CSkinZip::kNotZip;
    const uint16_t flags = U16(local + 6);
    const uint16_t method = U16(local + 8);
    if (method != c.method || (method != 0 && method != Z_DEFLATED)) return CSkinZip::kNotZip;
    if (!(flags & 8)) {
        if (U32(local + 14) != c.crc || U32(local + 18) != c.compressedSize ||
            U32(local + 22) != c.uncompressedSize) {
            return CSkinZip::kNotZip;
        }
    }
    if (U16(local + 26) != c.nameLength) return CSkinZip::kNotZip;
    if (method == 0 && c.compressedSize != c.uncompressedSize) return CSkinZip::kNotZip;
    const uint64_t dataStart = localPos + kLocalSize + U16(local + 26) + U16(local + 28);
    const uint64_t size = SourceSize();
    if (dataStart > size || c.compressedSize > size - dataStart) return CSkinZip::kNotZip;

    m_input.reset(new (std::nothrow) unsigned char[kChunk]);
    if (!m_input) return CSkinZip::kReadFailed;
    if (method == Z_DEFLATED) {
        std::memset(&m_z, 0, sizeof(m_z));
        if (inflateInit2(&m_z, -MAX_WBITS) != Z_OK) {
            m_input.reset();
            return CSkinZip::kReadFailed;
        }
        m_inflating = true;
    }
    m_openIndex = index;
    m_openMethod = method;
    m_openCrc = crc32(0L, Z_NULL, 0);
    m_expectedCrc = c.crc;
    m_compressedLeft = c.compressedSize;
    m_uncompressedLeft = c.uncompressedSize;
    m_readPos = dataStart;
    m_streamEnded = false;
    return CSkinZip::kOk;
}

void CSkinZipReader::CloseEntry()
{
    if (m_inflating) inflateEnd(&m_z);
    m_inflating = false;
    m_input.reset();
    m_openIndex = -1;
}

int64_t CSkinZipReader::ReadEntry(void* buffer, uint32_t count)
{
    if (m_openIndex < 0) return -1;
    if (count > m_uncompressedLeft) count = static_cast<uint32_t>(m_uncompressedLeft);
    if (count == 0) return 0;
    unsigned char* out = static_cast<unsigned char*>(buffer);
    uint32_t delivered = 0;
    if (m_openMethod == 0) {
        while (delivered < count) {
            const uint32_t step = count - delivered > kChunk ? static_cast<uint32_t>(kChunk) : count - delivered;
            if (!ReadAt(m_readPos, out + delivered, step)) return -1;
            m_readPos += step;
            m_compressedLeft -= step;
            delivered += step;
        }
    } else {
        m_z.next_out = out;
        m_z.avail_out = count;
        while (m_z.avail_out > 0) {
            if (m_streamEnded) return -1;   // the stream ended before the recorded size
            if (m_z.avail_in == 0) {
                if (m_compressedLeft == 0) return -1;   // input used up: truncated data
                const uint32_t step =
                    m_compressedLeft > kChunk ? static_cast<uint32_t>(kChunk) : static_cast<uint32_t>(m_compressedLeft);
                if (!ReadAt(m_readPos, m_input.get(), step)) return -1;
                m_readPos += step;
                m_compressedLeft -= step;
                m_z.next_in = m_input.get();
                m_z.avail_in = step;
            }
            const int rc = inflate(&m_z, Z_SYNC_FLUSH);
            if (rc == Z_STREAM_END) {
                m_streamEnded = true;
            } else if (rc != Z_OK) {
                return -1;
            }
        }
        delivered = count;
    }
    m_openCrc = crc32(m_openCrc, out, delivered);
    m_uncompressedLeft -= delivered;
    if (m_uncompressedLeft == 0 && m_openCrc != m_expectedCrc) return -1;
    return delivered;
}

DWORD CSkinZipReader::Unzip(int index, void* target, DWORD size, DWORD kind)
{
    if (kind == CSkinZip::kMemory) {
        if (index != m_openIndex || m_openIndex < 0) {
            CloseEntry();
            if (index < 0 || static_cast<uint32_t>(index) >= m_totalEntries) return CSkinZip::kBadArgument;
            if (OpenEntry(index) != CSkinZip::kOk) {
                CloseEntry();
                return CSkinZip::kMemoryUnzipFailed;
            }
        }
        if (!target && size > 0) return CSkinZip::kBadArgument;
        const int64_t got = ReadEntry(target, size);
        if (got < 0) {
            CloseEntry();
            return CSkinZip::kMemoryUnzipFailed;
        }
        if (got > 0) return CSkinZip::kMore;
        CloseEntry();
        return CSkinZip::kOk;
    }
    if (kind != CSkinZip::kFileName && kind != CSkinZip::kHandle) return CSkinZip::kBadArgument;
    if (index < 0 || static_cast<uint32_t>(index) >= m_totalEntries || !target) return CSkinZip::kBadArgument;
    CloseEntry();
    return UnzipToFile(index, target, kind);
}

DWORD CSkinZipReader::UnzipToFile(int index, void* target, DWORD kind)
{
    SkinZipEntry entry;
    DWORD s = GetItem(index, &entry);
    if (s != CSkinZip::kOk) return s;
    const bool isFolder = (entry.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (isFolder) {
        if (kind == CSkinZip::kFileName) {
            const wchar_t* name = static_cast<const wchar_t*>(target);
            size_t length = wcslen(name);
            while (length > 0 && (name[length - 1] == L'/' || name[length - 1] == L'\\')) --length;
            if (IsSafeRelativeFolder(name, length)) CreateFolders(m_baseFolder, name, length);
        }
        return CSkinZip::kOk;
    }

    UniqueFile created;
    HANDLE out = nullptr;
    std::unique_ptr<wchar_t[]> path;
    if (kind == CSkinZip::kFileName) {
        const wchar_t* name = static_cast<const wchar_t*>(target);
        const wchar_t* lastSep = nullptr;
        for (const wchar_t* p = name; *p; ++p) {
            if (*p == L'/' || *p == L'\\') lastSep = p;
        }
        if (lastSep) {
            const size_t folderLength = static_cast<size_t>(lastSep - name);
            if (IsSafeRelativeFolder(name, folderLength)) CreateFolders(m_baseFolder, name, folderLength);
        }
        const bool relative = IsRelativePath(name);
        const size_t baseLength = relative ? wcslen(m_baseFolder) : 0;
        const size_t nameLength = wcslen(name);
        path.reset(new (std::nothrow) wchar_t[baseLength + nameLength + 1]);
        if (!path) return CSkinZip::kNotOpened;
        wmemcpy(path.get(), m_baseFolder, baseLength);
        wmemcpy(path.get() + baseLength, name, nameLength + 1);
        DWORD attributes = entry.attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY);
        if (attributes != FILE_ATTRIBUTE_NORMAL) attributes &= ~static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL);
        // Read-only would keep the copy from being written; it is applied after.
        const DWORD createAttributes = (attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY)) != 0
                                           ? attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY)
                                           : FILE_ATTRIBUTE_NORMAL;
        created.Reset(::CreateFileW(path.get(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, createAttributes, nullptr));
        if (!created) return CSkinZip::kNotOpened;
        out = created.Get();
    } else {
        out = static_cast<HANDLE>(target);
    }

    bool failed = OpenEntry(index) != CSkinZip::kOk;
    std::unique_ptr<unsigned char[]> buffer(new (std::nothrow) unsigned char[kChunk]);
    if (!buffer) failed = true;
    while (!failed) {
        const int64_t got = ReadEntry(buffer.get(), static_cast<uint32_t>(kChunk));
        if (got < 0) { failed = true; break; }
        if (got == 0) break;
        DWORD written = 0;
        if (!::WriteFile(out, buffer.get(), static_cast<DWORD>(got), &written, nullptr) || written != static_cast<DWORD>(got)) {
            failed = true;
        }
    }
    CloseEntry();
    if (!failed && IsDiskFile(out)) {
        ::SetFileTime(out, &entry.creationTime, &entry.accessTime, &entry.modificationTime);
    }
    if (created) {
        created.Reset();
        if (failed) {
            // A copy that failed part way is not left behind as if it were whole.
            ::DeleteFileW(path.get());
        } else if (entry.attributes & FILE_ATTRIBUTE_READONLY) {
            const DWORD now = ::GetFileAttributesW(path.get());
            if (now != INVALID_FILE_ATTRIBUTES) ::SetFileAttributesW(path.get(), now | FILE_ATTRIBUTE_READONLY);
        }
    }
    return failed ? CSkinZip::kWriteFailed : CSkinZip::kOk;
}

// ---------------------------------------------------------------- CSkinZip

HSKINZIP CSkinZip::Open(const void* source, DWORD size, DWORD kind)
{
    std::unique_ptr<CSkinZipReader> reader(new (std::nothrow) CSkinZipReader);
    if (!reader) {
        Report(kBadArgument);
        return nullptr;
    }
    DWORD s = reader->OpenSource(source, size, kind);
    if (s == kOk) s = reader->ReadDirectory();
    if (s != kOk) {
        Report(s);
        return nullptr;
    }
    HSKINZIP handle = new (std::nothrow) SkinZipHandle{1, reader.get()};
    if (!handle) {
        Report(kBadArgument);
        return nullptr;
    }
    reader.release();
    Report(kOk);
    return handle;
}

DWORD CSkinZip::FindItem(HSKINZIP zip, LPCWSTR name, bool ignoreCase, int* index, SkinZipEntry* entry)
{
    if (!zip) return Report(kBadArgument);
    if (zip->kind != 1) return Report(kNotZipHandle);
    return Report(zip->reader->Find(name, ignoreCase, index, entry));
}

DWORD CSkinZip::GetItem(HSKINZIP zip, int index, SkinZipEntry* entry)
{
    if (!zip) return Report(kBadArgument);
    if (zip->kind != 1) return Report(kNotZipHandle);
    return Report(zip->reader->GetItem(index, entry));
}

DWORD CSkinZip::UnzipItem(HSKINZIP zip, int index, void* target, DWORD size, DWORD kind)
{
    if (!zip) return Report(kBadArgument);
    if (zip->kind != 1) return Report(kNotZipHandle);
    return Report(zip->reader->Unzip(index, target, size, kind));
}

DWORD CSkinZip::Close(HSKINZIP zip)
{
    if (!zip) return Report(kBadArgument);
    if (zip->kind != 1) return Report(kNotZipHandle);
    delete zip->reader;
    delete zip;
    return Report(kOk);
}

DWORD CSkinZip::GetLastError() { return g_lastError; }

}  // namespace SkinUI
