// The LZNT1 codec: chunk decoding for whole buffers and fragments, and the two
// compression engines (hashed standard, exhaustive maximum) behind one entry table.
#include "Lznt1.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace {

using Lznt1::kChunkSize;
using Lznt1::kStoredChunkBytes;

constexpr uint16_t kCompressedBit = 0x8000;
constexpr unsigned kSignature = 3;               // bits 12-14 of every chunk header
constexpr size_t kLargestCompressedChunk = kStoredChunkBytes - 1;  // at 4098 a chunk is stored
constexpr unsigned kBuckets = 4096;
constexpr uint32_t kNoPosition = 0xFFFFFFFFu;

uint16_t Load16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }

void Store16(uint8_t* p, uint16_t v)
{
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
}

size_t ChunkTotalBytes(uint16_t header) { return size_t(header & 0xFFF) + 3; }

bool HasSignature(uint16_t header) { return ((header >> 12) & 7) == kSignature; }

// The split of a back-reference token depends on how much of the chunk is already out:
// the nearer the chunk start, the fewer displacement bits are needed. `Advance` keeps the
// split in step with a position that only grows.
struct TokenSplit {
  unsigned lengthBits = 12;
  size_t lastPosition = 16;  // largest position that still uses `lengthBits`

  void Advance(size_t position)
  {
    while (position > lastPosition) {
      lastPosition <<= 1;
      --lengthBits;
    }
  }
  size_t MaxLength() const { return (size_t(1) << lengthBits) + 2; }
};

enum class Expand { Ok, Bad };

// Copies a back-reference of `length` bytes from `distance` bytes behind dst. Matches are
// short (a few bytes on average), so they are copied inline rather than through the
// runtime's memcpy, eight bytes at a time. An overlapping copy repeats the pattern of
// its last `distance` bytes, so a source that lies fewer than eight bytes back is first
// moved back by whole periods once enough of the pattern has been written.
inline void CopyMatch(uint8_t* dst, size_t distance, size_t length)
{
  size_t i = 0;
  size_t back = distance;
  if (distance < 8 && length >= 16) {
    back = (8 + distance - 1) / distance * distance;
    for (; i < back - distance; ++i) dst[i] = dst[i - distance];
  }
  if (back >= 8) {
    for (; i + 8 <= length; i += 8) {
      uint64_t v;
      std::memcpy(&v, dst + i - back, 8);
      std::memcpy(dst + i, &v, 8);
    }
  }
  for (; i < length; ++i) dst[i] = dst[i - back];
}

// Expands the data of one compressed chunk into out[0, room), room being at most one
// chunk. Stops quietly at `room` (the caller's output end); a chunk that would produce
// more than 4096 bytes, or refers before its own start, is malformed.
inline void Copy8(uint8_t* dst, const uint8_t* src)
{
  uint64_t v;
  std::memcpy(&v, src, 8);
  std::memcpy(dst, &v, 8);
}

Expand ExpandChunk(const uint8_t* data, size_t dataLength, uint8_t* out, size_t room,
                   size_t& produced)
{
  const uint8_t* in = data;
  const uint8_t* const inEnd = data + dataLength;
  size_t pos = 0;
  TokenSplit split;
  produced = 0;
  while (in != inEnd) {
    // The marker bit above the eight flags ends the group.
    unsigned flags = unsigned(*in++) | 0x100;
    if (room == kChunkSize && inEnd - in >= 24) {
      // A group well inside the input of a chunk that may fill its slot: no test of the
      // input end, literals moved in runs, and copies that may spill up to seven bytes
      // behind them (inside the slot, where the next items write).
      for (;;) {
        const unsigned literals = unsigned(__builtin_ctz(flags));
        if (literals) {
          if (literals > kChunkSize - pos) return Expand::Bad;  // items left after a full chunk
          if (kChunkSize - pos >= 8) {
            Copy8(out + pos, in);
          } else {
            for (unsigned i = 0; i < literals; ++i) out[pos + i] = in[i];
          }
          in += literals;
          pos += literals;
          flags >>= literals;
          if (flags == 1) break;
        }
        if (pos == kChunkSize) return Expand::Bad;
        const unsigned token = Load16(in);
        in += 2;
        split.Advance(pos);
        const size_t distance = size_t(token >> split.lengthBits) + 1;
        const size_t length = size_t(token & ((1u << split.lengthBits) - 1)) + 3;
        if (distance > pos) return Expand::Bad;
        if (length > kChunkSize - pos) return Expand::Bad;
        uint8_t* dst = out + pos;
        if (distance >= 8 && kChunkSize - pos >= length + 7) {
          for (size_t i = 0; i < length; i += 8) Copy8(dst + i, dst + i - distance);
        } else {
          CopyMatch(dst, distance, length);
        }
        pos += length;
        flags >>= 1;
        if (flags == 1) break;
      }
      continue;
    }
    for (; flags != 1; flags >>= 1) {
      if (in == inEnd) break;
      if (pos == room) {
        if (room == kChunkSize) return Expand::Bad;  // items left after a full chunk
        produced = pos;
        return Expand::Ok;
      }
      if ((flags & 1) == 0) {
        out[pos++] = *in++;
        continue;
      }
      if (inEnd - in < 2) return Expand::Bad;
      const unsigned token = Load16(in);
      in += 2;
      split.Advance(pos);
      const size_t distance = size_t(token >> split.lengthBits) + 1;
      size_t length = size_t(token & ((1u << split.lengthBits) - 1)) + 3;
      if (distance > pos) return Expand::Bad;
      if (length > kChunkSize - pos) return Expand::Bad;
      length = std::min(length, room - pos);
      CopyMatch(out + pos, distance, length);
      pos += length;
    }
  }
  produced = pos;
  return Expand::Ok;
}

// The common loop of whole and fragment decompression: produces the uncompressed bytes
// from `offset` on into out[0, capacity). `scratch` (one chunk) holds the chunk that
// contains the offset; it is only touched when the offset is not chunk-aligned.
Lznt1Result DecodeStream(const uint8_t* in, size_t inLength, uint64_t offset, uint8_t* out,
                         size_t capacity, uint8_t* scratch, size_t* sizeOrPosition)
{
  size_t inPos = 0;    // header of the current chunk
  uint64_t slot = 0;   // uncompressed offset of the current chunk
  size_t produced = 0;
  for (;;) {
    if (produced == capacity) break;
    if (inLength - inPos < 2) break;
    uint16_t header = Load16(in + inPos);
    if (header == 0) break;
    const size_t total = ChunkTotalBytes(header);
    if (total > inLength - inPos || !HasSignature(header)) {
      *sizeOrPosition = inPos;
      return Lznt1Result::BadCompressedData;
    }
    const uint64_t slotEnd = slot + kChunkSize;
    if (slotEnd <= offset) {  // wholly before the fragment: skipped by its header
      inPos += total;
      slot = slotEnd;
      continue;
    }

    const size_t skip = slot < offset ? size_t(offset - slot) : 0;
    const size_t left = capacity - produced;
    const size_t room = left >= kChunkSize - skip ? kChunkSize : skip + left;
    uint8_t* dst = skip ? scratch : out + produced;
    const uint8_t* data = in + inPos + 2;
    const size_t dataLength = total - 2;
    size_t made = 0;
    if (header & kCompressedBit) {
      if (ExpandChunk(data, dataLength, dst, room, made) != Expand::Ok) {
        *sizeOrPosition = inPos;
        return Lznt1Result::BadCompressedData;
      }
    } else {
      // A stored chunk gives its own bytes only, never those of the chunk behind it.
      made = std::min(dataLength, room);
      std::memcpy(dst, data, made);
    }
    if (skip) {
      if (made > skip) std::memcpy(out + produced, scratch + skip, made - skip);
    }
    produced += made > skip ? made - skip : 0;
    inPos += total;

    if (produced == capacity) break;
    if (inLength - inPos < 2) break;
    header = Load16(in + inPos);
    if (header == 0) break;
    // Another chunk follows: a short chunk stands for its full slot, the rest being zeros.
    if (made < kChunkSize) {
      const size_t fillFrom = std::max(made, skip);
      const size_t fill = std::min(kChunkSize - fillFrom, capacity - produced);
      std::memset(out + produced, 0, fill);
      produced += fill;
    }
    slot = slotEnd;
  }
  *sizeOrPosition = produced;
  return Lznt1Result::Ok;
}

// Standard engine: 4096 hash buckets, each keeping the two latest positions (offsets
// into the whole input) in the caller's workspace.
class StandardMatcher {
public:
  explicit StandardMatcher(void* workspace) : m_table(static_cast<uint8_t*>(workspace))
  {
    std::memset(m_table, 0xFF, kBuckets * 2 * sizeof(uint32_t));
  }

  void BeginChunk() {}

  // Longest match for `at` among the bucket's candidates; records `at` in the bucket.
  size_t Find(const uint8_t* base, size_t chunkStart, size_t at, size_t maxLength,
              size_t& distance)
  {
    const unsigned a = base[at], b = base[at + 1], c = base[at + 2];
    const unsigned x = ((b ^ (a << 4)) << 4) ^ c;
    const unsigned bucket = ((x * 40543u) >> 4) & 0xFFF;
    const uint32_t newer = Get(bucket, 0), older = Get(bucket, 1);
    const size_t newerLength = Length(base, chunkStart, at, newer, maxLength);
    const size_t olderLength = Length(base, chunkStart, at, older, maxLength);
    Set(bucket, 1, newer);
    Set(bucket, 0, uint32_t(at));
    if (olderLength > newerLength) {
      distance = at - older;
      return olderLength;
    }
    distance = newerLength ? at - newer : 0;
    return newerLength;
  }

  void Insert(const uint8_t*, size_t, size_t) {}  // only the positions asked about count

private:
  static size_t Length(const uint8_t* base, size_t chunkStart, size_t at, uint32_t candidate,
                       size_t maxLength)
  {
    if (candidate == kNoPosition || candidate < chunkStart || candidate >= at) return 0;
    const uint8_t* p = base + candidate;
    const uint8_t* q = base + at;
    if (p[0] != q[0] || p[1] != q[1] || p[2] != q[2]) return 0;
    size_t n = 3;
    while (n < maxLength && p[n] == q[n]) ++n;
    return n;
  }
  uint32_t Get(unsigned bucket, unsigned which) const
  {
    uint32_t v;
    std::memcpy(&v, m_table + (bucket * 2 + which) * sizeof v, sizeof v);
    return v;
  }
  void Set(unsigned bucket, unsigned which, uint32_t v)
  {
    std::memcpy(m_table + (bucket * 2 + which) * sizeof v, &v, sizeof v);
  }

  uint8_t* m_table;
};

// Maximum engine: the longest match against every earlier position of the chunk, the
// nearer winning a tie. Hash chains over all positions give the same answer as comparing
// with each of them, without the quadratic walk over positions that cannot match.
class MaximumMatcher {
public:
  void BeginChunk() { m_head.fill(kNone); }

  size_t Find(const uint8_t* base, size_t chunkStart, size_t at, size_t maxLength,
              size_t& distance)
  {
    const uint8_t* q = base + at;
    size_t best = 0;
    for (uint16_t c = m_head[Bucket(q)]; c != kNone; c = m_prev[c]) {
      const uint8_t* p = base + chunkStart + c;
      if (p[0] != q[0] || p[1] != q[1] || p[2] != q[2]) continue;
      size_t n = 3;
      while (n < maxLength && p[n] == q[n]) ++n;
      if (n > best) {  // chains run nearest first, so a tie keeps the nearer
        best = n;
        distance = size_t(q - p);
        if (n == maxLength) break;
      }
    }
    return best;
  }

  // Every position with three bytes left in the chunk joins the chains.
  void Insert(const uint8_t* base, size_t chunkStart, size_t at)
  {
    const uint16_t rel = uint16_t(at - chunkStart);
    const unsigned bucket = Bucket(base + at);
    m_prev[rel] = m_head[bucket];
    m_head[bucket] = rel;
  }

private:
  static constexpr uint16_t kNone = 0xFFFF;
  static unsigned Bucket(const uint8_t* p)
  {
    return ((unsigned(p[0]) << 4) ^ (unsigned(p[1]) << 2) ^ p[2]) & (kBuckets - 1);
  }
  std::array<uint16_t, kBuckets> m_head{};
  std::array<uint16_t, kChunkSize> m_prev{};
};

// Writes one chunk (n input bytes from chunkStart) in compressed form after a two-byte
// header slot. Returns the chunk's total size, or 0 when it does not fit in `limit`
// bytes (and must be stored). `allZero` is cleared by any non-zero literal.
template <class Matcher>
size_t CompressChunk(Matcher& matcher, const uint8_t* base, size_t chunkStart, size_t n,
                     uint8_t* out, size_t limit, bool& allZero)
{
  if (limit < 3) return 0;
  matcher.BeginChunk();
  size_t o = 2;
  size_t flagAt = 0;
  unsigned flagBit = 8;
  uint8_t flags = 0;
  TokenSplit split;
  size_t p = 0;
  while (p < n) {
    if (flagBit == 8) {
      if (flagAt) out[flagAt] = flags;
      if (o >= limit) return 0;
      flagAt = o++;
      flags = 0;
      flagBit = 0;
    }
    split.Advance(p);
    const size_t at = chunkStart + p;
    size_t length = 0, distance = 0;
    if (n - p >= 3)
      length = matcher.Find(base, chunkStart, at, std::min(split.MaxLength(), n - p), distance);
    if (length >= 3) {
      if (limit - o < 2) return 0;
      Store16(out + o, uint16_t(((distance - 1) << split.lengthBits) | (length - 3)));
      o += 2;
      flags = uint8_t(flags | (1u << flagBit));
    } else {
      if (limit - o < 1) return 0;
      length = 1;
      if (base[at] != 0) allZero = false;
      out[o++] = base[at];
    }
    for (size_t i = 0; i < length && n - (p + i) >= 3; ++i) matcher.Insert(base, chunkStart, at + i);
    p += length;
    ++flagBit;
  }
  out[flagAt] = flags;
  return o;
}

template <class Matcher>
Lznt1Result CompressAll(Matcher& matcher, const uint8_t* in, size_t inLength, uint8_t* out,
                        size_t outCapacity, size_t* compressedSize)
{
  size_t o = 0;
  bool allZero = true;
  for (size_t start = 0; start < inLength;) {
    const size_t n = std::min(kChunkSize, inLength - start);
    const size_t room = outCapacity - o;
    bool chunkZero = true;
    const size_t written = CompressChunk(matcher, in, start, n, out + o,
                                         std::min(room, kLargestCompressedChunk), chunkZero);
    if (written) {
      Store16(out + o, uint16_t(0xB000 | (written - 3)));
      o += written;
      allZero = allZero && chunkZero;
    } else {
      if (room < kStoredChunkBytes) return Lznt1Result::BufferTooSmall;
      // Stored chunks always carry 4096 bytes; a short last chunk is padded with zeros.
      Store16(out + o, Lznt1::kStoredHeader);
      std::memcpy(out + o + 2, in + start, n);
      std::memset(out + o + 2 + n, 0, kChunkSize - n);
      o += kStoredChunkBytes;
      allZero = false;  // zeros always compress, so a stored chunk holds a non-zero byte
    }
    start += n;
  }
  if (outCapacity - o >= 2) Store16(out + o, 0);
  *compressedSize = o;
  return allZero ? Lznt1Result::AllZeros : Lznt1Result::Ok;
}

bool KnownEngine(uint16_t engine)
{
  return engine == Lznt1::kEngineStandard || engine == Lznt1::kEngineMaximum;
}

}  // namespace

Lznt1Result Lznt1WorkspaceSize(uint16_t engine, uint32_t* compressWorkspace,
                               uint32_t* fragmentWorkspace)
{
  if (!KnownEngine(engine)) return Lznt1Result::EngineNotSupported;
  if (!compressWorkspace || !fragmentWorkspace) return Lznt1Result::InvalidParameter;
  *compressWorkspace =
      engine == Lznt1::kEngineStandard ? Lznt1::kStandardWorkspace : Lznt1::kMaximumWorkspace;
  *fragmentWorkspace = Lznt1::kFragmentWorkspace;
  return Lznt1Result::Ok;
}

Lznt1Result Lznt1Compress(uint16_t engine, const uint8_t* in, size_t inLength, uint8_t* out,
                          size_t outCapacity, size_t* compressedSize, void* workspace)
{
  if (!KnownEngine(engine)) return Lznt1Result::EngineNotSupported;
  if (!compressedSize || !workspace || (!in && inLength) || (!out && outCapacity))
    return Lznt1Result::InvalidParameter;
  *compressedSize = 0;
  if (engine == Lznt1::kEngineStandard) {
    StandardMatcher matcher(workspace);
    return CompressAll(matcher, in, inLength, out, outCapacity, compressedSize);
  }
  MaximumMatcher matcher;
  return CompressAll(matcher, in, inLength, out, outCapacity, compressedSize);
}

Lznt1Result Lznt1Decompress(uint8_t* out, size_t outCapacity, const uint8_t* in,
                            size_t inLength, size_t* sizeOrPosition)
{
  if (!sizeOrPosition || (!in && inLength) || (!out && outCapacity))
    return Lznt1Result::InvalidParameter;
  return DecodeStream(in, inLength, 0, out, outCapacity, nullptr, sizeOrPosition);
}

Lznt1Result Lznt1DecompressFragment(uint8_t* out, size_t outCapacity, const uint8_t* in,
                                    size_t inLength, uint64_t offset, size_t* sizeOrPosition,
                                    void* workspace)
{
  if (!sizeOrPosition || !workspace || (!in && inLength) || (!out && outCapacity))
    return Lznt1Result::InvalidParameter;
  return DecodeStream(in, inLength, offset, out, outCapacity, static_cast<uint8_t*>(workspace),
                      sizeOrPosition);
}

Lznt1Result Lznt1DescribeChunk(const uint8_t** cursor, const uint8_t* end,
                               const uint8_t** chunkStart, uint32_t* chunkSize)
{
  if (!cursor || !*cursor || !end || !chunkStart || !chunkSize)
    return Lznt1Result::InvalidParameter;
  const uint8_t* at = *cursor;
  *chunkStart = nullptr;
  *chunkSize = 0;
  if (end < at || end - at < 4) return Lznt1Result::NoMoreChunks;
  const uint16_t header = Load16(at);
  if (header == 0) return Lznt1Result::NoMoreChunks;
  const size_t total = ChunkTotalBytes(header);
  if (total > size_t(end - at) || !HasSignature(header)) return Lznt1Result::BadCompressedData;
  if ((header & kCompressedBit) == 0) {
    if (total != kStoredChunkBytes) return Lznt1Result::BadCompressedData;
    *chunkStart = at + 2;
    *chunkSize = uint32_t(kChunkSize);
  } else {
    *chunkStart = at;
    *chunkSize = uint32_t(total);
    // One zero literal repeated by a token of distance 1: the chunk is all zeros.
    if (total == 6 && at[2] == 2 && at[3] == 0 && (Load16(at + 4) >> 12) == 0) *chunkSize = 0;
  }
  *cursor = at + total;
  return Lznt1Result::Ok;
}

namespace {

using Cell = Lznt1Result (*)(Lznt1Args&);

Lznt1Result NotSupported(Lznt1Args&) { return Lznt1Result::FormatNotSupported; }

Lznt1Result CellWorkspaceSize(Lznt1Args& a)
{
  return Lznt1WorkspaceSize(a.engine, a.compressWorkspace, a.fragmentWorkspace);
}
Lznt1Result CellCompress(Lznt1Args& a)
{
  return Lznt1Compress(a.engine, a.in, a.inLength, a.out, a.outCapacity, a.sizeOrPosition,
                       a.workspace);
}
Lznt1Result CellDecompress(Lznt1Args& a)
{
  return Lznt1Decompress(a.out, a.outCapacity, a.in, a.inLength, a.sizeOrPosition);
}
Lznt1Result CellDecompressFragment(Lznt1Args& a)
{
  return Lznt1DecompressFragment(a.out, a.outCapacity, a.in, a.inLength, a.offset,
                                 a.sizeOrPosition, a.workspace);
}
Lznt1Result CellDescribeChunk(Lznt1Args& a)
{
  return Lznt1DescribeChunk(a.cursor, a.end, a.chunkStart, a.chunkSize);
}

constexpr size_t kFormats = 16;  // formats with any of the bits 0xF0 are outside the table
constexpr size_t kOps = size_t(Lznt1Op::Count);

struct OperationTable {
  Cell cells[kOps][kFormats];
  constexpr OperationTable() : cells()
  {
    for (size_t op = 0; op < kOps; ++op)
      for (size_t f = 0; f < kFormats; ++f) cells[op][f] = NotSupported;
    const size_t lznt1 = Lznt1::kFormatLznt1;
    cells[size_t(Lznt1Op::WorkspaceSize)][lznt1] = CellWorkspaceSize;
    cells[size_t(Lznt1Op::Compress)][lznt1] = CellCompress;
    cells[size_t(Lznt1Op::Decompress)][lznt1] = CellDecompress;
    cells[size_t(Lznt1Op::DecompressFragment)][lznt1] = CellDecompressFragment;
    cells[size_t(Lznt1Op::DescribeChunk)][lznt1] = CellDescribeChunk;
  }
};

constexpr OperationTable kTable;

}  // namespace

Lznt1Result Lznt1Dispatch(uint16_t formatAndEngine, Lznt1Op op, Lznt1Args& args)
{
  const unsigned format = formatAndEngine & 0xFF;
  if (format == Lznt1::kFormatDefault) return Lznt1Result::InvalidParameter;
  if ((format & 0xF0) != 0) return Lznt1Result::FormatNotSupported;
  if (size_t(op) >= kOps) return Lznt1Result::InvalidParameter;
  args.engine = uint16_t(formatAndEngine & 0xFF00);
  return kTable.cells[size_t(op)][format](args);
}

Lznt1Result Lznt1Codec::WorkspaceSize(uint16_t formatAndEngine, uint32_t* compressWorkspace,
                                      uint32_t* fragmentWorkspace)
{
  Lznt1Args a;
  a.compressWorkspace = compressWorkspace;
  a.fragmentWorkspace = fragmentWorkspace;
  return Lznt1Dispatch(formatAndEngine, Lznt1Op::WorkspaceSize, a);
}

Lznt1Result Lznt1Codec::Compress(uint16_t formatAndEngine, const uint8_t* in, size_t inLength,
                                 uint8_t* out, size_t outCapacity, size_t* compressedSize,
                                 void* workspace)
{
  Lznt1Args a;
  a.in = in;
  a.inLength = inLength;
  a.out = out;
  a.outCapacity = outCapacity;
  a.sizeOrPosition = compressedSize;
  a.workspace = workspace;
  return Lznt1Dispatch(formatAndEngine, Lznt1Op::Compress, a);
}

Lznt1Result Lznt1Codec::Decompress(uint16_t format, uint8_t* out, size_t outCapacity,
                                   const uint8_t* in, size_t inLength, size_t* sizeOrPosition)
{
  Lznt1Args a;
  a.in = in;
  a.inLength = inLength;
  a.out = out;
  a.outCapacity = outCapacity;
  a.sizeOrPosition = sizeOrPosition;
  return Lznt1Dispatch(format, Lznt1Op::Decompress, a);
}

Lznt1Result Lznt1Codec::DecompressFragment(uint16_t format, uint8_t* out, size_t outCapacity,
                                           const uint8_t* in, size_t inLength, uint64_t offset,
                                           size_t* sizeOrPosition, void* workspace)
{
  Lznt1Args a;
  a.in = in;
  a.inLength = inLength;
  a.out = out;
  a.outCapacity = outCapacity;
  a.offset = offset;
  a.sizeOrPosition = sizeOrPosition;
  a.workspace = workspace;
  return Lznt1Dispatch(format, Lznt1Op::DecompressFragment, a);
}

Lznt1Result Lznt1Codec::DescribeChunk(uint16_t format, const uint8_t** cursor,
                                      const uint8_t* end, const uint8_t** chunkStart,
                                      uint32_t* chunkSize)
{
  Lznt1Args a;
  a.cursor = cursor;
  a.end = end;
  a.chunkStart = chunkStart;
  a.chunkSize = chunkSize;
  return Lznt1Dispatch(format, Lznt1Op::DescribeChunk, a);
}
