// LZNT1, the compression format of NTFS compressed files: the data is cut into 4096-byte
// chunks, each stored either compressed (flag bytes, literals and 16-bit back-references)
// or raw, behind a 16-bit header. The codec answers with the platform's error numbers,
// so that a caller can hand them on as Windows errors.
#pragma once

#include <cstddef>
#include <cstdint>

enum class Lznt1Result : int {
  Ok = 0,
  EngineNotSupported = 50,     // engine other than standard or maximum
  InvalidParameter = 87,       // the "default" format, or a null buffer
  BufferTooSmall = 122,        // no room for a stored chunk
  BadCompressedData = 605,     // malformed input; the position names the chunk at fault
  FormatNotSupported = 618,
  AllZeros = 754,              // compression succeeded and the input was all zero bytes
  NoMoreChunks = -3,           // describe chunk: end of the stream
};

inline int Lznt1Code(Lznt1Result r) { return static_cast<int>(r); }

namespace Lznt1 {
constexpr uint16_t kFormatDefault = 1;
constexpr uint16_t kFormatLznt1 = 2;
constexpr uint16_t kEngineStandard = 0;
constexpr uint16_t kEngineMaximum = 0x100;

constexpr size_t kChunkSize = 4096;                  // uncompressed bytes per chunk
constexpr size_t kStoredChunkBytes = kChunkSize + 2; // header and raw data
constexpr uint16_t kStoredHeader = 0x3FFF;
constexpr uint32_t kStandardWorkspace = 32784;       // 4096 buckets of two positions, plus 16
constexpr uint32_t kMaximumWorkspace = 16;
constexpr uint32_t kFragmentWorkspace = 4096;        // one expanded chunk
}  // namespace Lznt1

// The LZNT1 operations themselves (the LZNT1 column of the codec's table).
Lznt1Result Lznt1WorkspaceSize(uint16_t engine, uint32_t* compressWorkspace,
                               uint32_t* fragmentWorkspace);
Lznt1Result Lznt1Compress(uint16_t engine, const uint8_t* in, size_t inLength, uint8_t* out,
                          size_t outCapacity, size_t* compressedSize, void* workspace);
Lznt1Result Lznt1Decompress(uint8_t* out, size_t outCapacity, const uint8_t* in,
                            size_t inLength, size_t* sizeOrPosition);
Lznt1Result Lznt1DecompressFragment(uint8_t* out, size_t outCapacity, const uint8_t* in,
                                    size_t inLength, uint64_t offset, size_t* sizeOrPosition,
                                    void* workspace);
Lznt1Result Lznt1DescribeChunk(const uint8_t** cursor, const uint8_t* end,
                               const uint8_t** chunkStart, uint32_t* chunkSize);

// Rows of the operation table; the last row has no LZNT1 operation.
enum class Lznt1Op { WorkspaceSize, Compress, Decompress, DecompressFragment, DescribeChunk,
                     Reserved, Count };

// The arguments of every row in one record; each operation reads the fields it names.
struct Lznt1Args {
  uint16_t engine = 0;
  const uint8_t* in = nullptr;
  size_t inLength = 0;
  uint8_t* out = nullptr;
  size_t outCapacity = 0;
  uint64_t offset = 0;
  size_t* sizeOrPosition = nullptr;
  void* workspace = nullptr;
  uint32_t* compressWorkspace = nullptr;
  uint32_t* fragmentWorkspace = nullptr;
  const uint8_t** cursor = nullptr;
  const uint8_t* end = nullptr;
  const uint8_t** chunkStart = nullptr;
  uint32_t* chunkSize = nullptr;
};

// Runs `op` for the format in the low byte of `formatAndEngine`, the high byte being the
// engine: format 1 gives InvalidParameter, any format but 2 FormatNotSupported.
Lznt1Result Lznt1Dispatch(uint16_t formatAndEngine, Lznt1Op op, Lznt1Args& args);

// The operations of the codec by format. Every entry point takes the format word: the low byte is
// the compression format, the high byte the engine (only compression and the workspace
// query look at the engine). The format is checked first: 1 gives InvalidParameter, any
// format but 2 gives FormatNotSupported.
class Lznt1Codec {
public:
  // Workspace the caller must pass to Compress and DecompressFragment.
  static Lznt1Result WorkspaceSize(uint16_t formatAndEngine, uint32_t* compressWorkspace,
                                   uint32_t* fragmentWorkspace);

  // Compresses `in` chunk by chunk into `out`. `*compressedSize` gets the bytes of the
  // stream; a 16-bit zero terminator follows when two bytes of room remain (not counted).
  // A last chunk shorter than 4096 bytes that does not compress is stored as 4096 bytes
  // padded with zeros, so a decompression into more room than the input length gives
  // those zeros too. Returns Ok, AllZeros (success: every input byte was zero),
  // BufferTooSmall, EngineNotSupported or InvalidParameter.
  static Lznt1Result Compress(uint16_t formatAndEngine, const uint8_t* in, size_t inLength,
                              uint8_t* out, size_t outCapacity, size_t* compressedSize,
                              void* workspace);

  // Expands a whole stream into `out`, at most `outCapacity` bytes. On Ok `*sizeOrPosition`
  // is the number of bytes produced; on BadCompressedData it is the input offset of the
  // chunk at fault. The stream ends at a zero header, at its last whole chunk, or when
  // the output is full; so a compression unit that holds a file's last bytes gives fewer
  // bytes than the unit, and the caller supplies the zeros behind them.
  static Lznt1Result Decompress(uint16_t format, uint8_t* out, size_t outCapacity,
                                const uint8_t* in, size_t inLength, size_t* sizeOrPosition);

  // As Decompress, but produces only the uncompressed bytes from `offset` on. Chunks that
  // lie wholly before the offset are skipped by their headers; the chunk holding it is
  // expanded into `workspace` (kFragmentWorkspace bytes).
  static Lznt1Result DecompressFragment(uint16_t format, uint8_t* out, size_t outCapacity,
                                        const uint8_t* in, size_t inLength, uint64_t offset,
                                        size_t* sizeOrPosition, void* workspace);

  // Reads the chunk header at `*cursor` and moves the cursor past the chunk. A stored
  // chunk is described by its raw data (header skipped, 4096 bytes); a compressed one by
  // the whole chunk, header included; a chunk that only encodes zeros by size 0.
  // NoMoreChunks at the end of the stream (fewer than 4 bytes left or a zero header);
  // BadCompressedData, cursor unchanged, for a chunk that runs past `end` or is malformed.
  static Lznt1Result DescribeChunk(uint16_t format, const uint8_t** cursor, const uint8_t* end,
                                   const uint8_t** chunkStart, uint32_t* chunkSize);
};
