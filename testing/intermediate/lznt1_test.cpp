// The LZNT1 codec: round trips over many kinds of data, decoder rules and errors on
// hand-made streams, and units that ntfs-3g wrote for a real compressed file.
#include "Lznt1.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint16_t kLznt1 = Lznt1::kFormatLznt1;
constexpr uint16_t kEngines[] = {Lznt1::kEngineStandard, Lznt1::kEngineMaximum};

Bytes Random(size_t n, uint32_t seed)
{
  Bytes b(n);
  for (auto& c : b) {
    seed = seed * 1103515245u + 12345u;
    c = uint8_t(seed >> 23);
  }
  return b;
}

// Words and numbers: repeats at every distance, the kind of data that compresses.
Bytes Text(size_t n)
{
  static const char* const kWords[] = {"volume ", "cluster ", "record ", "attribute ",
                                       "$DATA ", "index ", "0x1F40 ", "\r\n", "stream ",
                                       "recovered ", "fragment ", "sparse "};
  Bytes b;
  uint32_t seed = 7;
  while (b.size() < n) {
    seed = seed * 1103515245u + 12345u;
    const char* w = kWords[(seed >> 16) % 12];
    b.insert(b.end(), w, w + std::strlen(w));
    if ((seed >> 8) % 5 == 0) {
      char num[16];
      std::snprintf(num, sizeof num, "%u ", unsigned(seed >> 20));
      b.insert(b.end(), num, num + std::strlen(num));
    }
  }
  b.resize(n);
  return b;
}

Bytes Concat(std::initializer_list<Bytes> parts)
{
  Bytes b;
  for (const auto& p : parts) b.insert(b.end(), p.begin(), p.end());
  return b;
}

Bytes CompressOrDie(uint16_t engine, const Bytes& in, Lznt1Result* result = nullptr)
{
  const size_t chunks = (in.size() + Lznt1::kChunkSize - 1) / Lznt1::kChunkSize;
  Bytes out(chunks * Lznt1::kStoredChunkBytes + 2);
  uint32_t ws = 0, frag = 0;
  EXPECT_EQ(Lznt1Codec::WorkspaceSize(kLznt1 | engine, &ws, &frag), Lznt1Result::Ok);
  Bytes workspace(ws);
  size_t size = 0;
  const Lznt1Result r = Lznt1Codec::Compress(kLznt1 | engine, in.data(), in.size(), out.data(),
                                             out.size(), &size, workspace.data());
  if (result) *result = r;
  EXPECT_TRUE(r == Lznt1Result::Ok || r == Lznt1Result::AllZeros) << int(r);
  EXPECT_EQ(out[size], 0);
  EXPECT_EQ(out[size + 1], 0);  // terminator behind the counted bytes
  out.resize(size);
  return out;
}

struct Decoded {
  Lznt1Result result;
  size_t sizeOrPosition;
  Bytes bytes;
};

// Decodes into a buffer of exactly `capacity` bytes followed by a guard that must survive.
Decoded Decode(const Bytes& in, size_t capacity, size_t inLength = SIZE_MAX)
{
  constexpr size_t kGuard = 64;
  Bytes out(capacity + kGuard, 0xA5);
  size_t sp = 0;
  // The input is copied into a buffer of its exact length, so reads past it are reads
  // past an allocation.
  const Bytes input(in.begin(), in.begin() + std::min(inLength, in.size()));
  const Lznt1Result r =
      Lznt1Codec::Decompress(kLznt1, out.data(), capacity, input.data(), input.size(), &sp);
  for (size_t i = capacity; i < out.size(); ++i) EXPECT_EQ(out[i], 0xA5) << "guard at " << i;
  out.resize(r == Lznt1Result::Ok ? std::min(sp, capacity) : 0);
  return {r, sp, out};
}

Decoded DecodeFragment(const Bytes& in, size_t capacity, uint64_t offset)
{
  Bytes out(capacity + 64, 0xA5);
  Bytes workspace(Lznt1::kFragmentWorkspace);
  size_t sp = 0;
  const Lznt1Result r = Lznt1Codec::DecompressFragment(kLznt1, out.data(), capacity, in.data(),
                                                       in.size(), offset, &sp, workspace.data());
  for (size_t i = capacity; i < out.size(); ++i) EXPECT_EQ(out[i], 0xA5) << "guard at " << i;
  out.resize(r == Lznt1Result::Ok ? std::min(sp, capacity) : 0);
  return {r, sp, out};
}

bool AllZero(const Bytes& b)
{
  return std::all_of(b.begin(), b.end(), [](uint8_t c) { return c == 0; });
}

bool IsPrefix(const Bytes& part, const Bytes& whole)
{
  return part.size() <= whole.size() && std::equal(part.begin(), part.end(), whole.begin());
}

struct Input {
  const char* name;
  Bytes data;
  bool compressible;
};

const std::vector<Input>& Inputs()
{
  static const std::vector<Input> kInputs = {
      {"empty", {}, false},
      {"one byte", {0x41}, false},
      {"one zero", {0}, false},
      {"zeros 10000", Bytes(10000, 0), true},
      {"random 20000", Random(20000, 1), false},
      {"random 4095", Random(4095, 2), false},  // short last chunk that must be stored
      {"text 9000", Text(9000), true},
      {"text 4096", Text(4096), true},
      {"text 4097", Text(4097), true},
      {"text 4095", Text(4095), true},
      {"one run 4098", Bytes(4098, 0x5A), true},
      {"unit 64 KiB", Concat({Text(20000), Bytes(8000, 0), Random(9000, 3), Text(28536)}), true},
  };
  return kInputs;
}

TEST(Lznt1Codec, RoundTripsEveryInputWithBothEngines)
{
  for (const uint16_t engine : kEngines) {
    for (const auto& input : Inputs()) {
      SCOPED_TRACE(std::string(input.name) + (engine ? " maximum" : " standard"));
      Lznt1Result cr;
      const Bytes packed = CompressOrDie(engine, input.data, &cr);
      EXPECT_EQ(cr == Lznt1Result::AllZeros, AllZero(input.data));
      if (input.compressible) {
        EXPECT_LT(packed.size(), input.data.size() / 2);
      }

      const Decoded exact = Decode(packed, input.data.size());
      ASSERT_EQ(exact.result, Lznt1Result::Ok);
      EXPECT_EQ(exact.sizeOrPosition, input.data.size());
      EXPECT_EQ(exact.bytes, input.data);

      // With room to spare the stream gives the input, then only zeros of a padded
      // stored last chunk.
      const Decoded roomy = Decode(packed, input.data.size() + 3 * Lznt1::kChunkSize);
      ASSERT_EQ(roomy.result, Lznt1Result::Ok);
      ASSERT_GE(roomy.bytes.size(), input.data.size());
      EXPECT_TRUE(IsPrefix(input.data, roomy.bytes));
      EXPECT_TRUE(AllZero(Bytes(roomy.bytes.begin() + input.data.size(), roomy.bytes.end())));
      EXPECT_LE(roomy.bytes.size(), (input.data.size() + 4095) / 4096 * 4096);
    }
  }
}

TEST(Lznt1Codec, CompressesKnownInputsToTheirExactStreams)
{
  struct Case {
    const char* name;
    Bytes in;
    Bytes stream;  // terminator included
  } const kCases[] = {
      // Three literals, then distance 3 length 6 at position 3 (12 length bits).
      {"abcabcabc", {'a', 'b', 'c', 'a', 'b', 'c', 'a', 'b', 'c'},
       {0x05, 0xB0, 0x08, 'a', 'b', 'c', 0x03, 0x20, 0, 0}},
      // One zero literal and a token of distance 1 covering the rest of the chunk.
      {"zero chunk", Bytes(4096, 0), {0x03, 0xB0, 0x02, 0x00, 0xFC, 0x0F, 0, 0}},
      {"one byte", {0x7E}, {0x01, 0xB0, 0x00, 0x7E, 0, 0}},
      // Two candidates of equal length at position 8: the nearer one (distance 4) wins.
      {"tie", {'a', 'b', 'c', 'X', 'a', 'b', 'c', 'Y', 'a', 'b', 'c', 'Z'},
       {0x0A, 0xB0, 0x50, 'a', 'b', 'c', 'X', 0x00, 0x30, 'Y', 0x00, 0x30, 'Z', 0, 0}},
      // At position 9 the older candidate is longer (4 against 3) and wins.
      {"older and longer", {'a', 'b', 'c', 'd', 'X', 'a', 'b', 'c', 'Y', 'a', 'b', 'c', 'd'},
       {0x0A, 0xB0, 0xA0, 'a', 'b', 'c', 'd', 'X', 0x00, 0x40, 'Y', 0x01, 0x80, 0, 0}},
  };
  for (const uint16_t engine : kEngines) {
    for (const auto& c : kCases) {
      SCOPED_TRACE(c.name);
      Bytes out(c.stream.size() + 8, 0xEE);
      Bytes workspace(Lznt1::kStandardWorkspace);
      size_t size = 0;
      const Lznt1Result r = Lznt1Codec::Compress(kLznt1 | engine, c.in.data(), c.in.size(),
                                                 out.data(), c.stream.size(), &size,
                                                 workspace.data());
      EXPECT_EQ(r, AllZero(c.in) ? Lznt1Result::AllZeros : Lznt1Result::Ok);
      EXPECT_EQ(size, c.stream.size() - 2);
      EXPECT_EQ(Bytes(out.begin(), out.begin() + c.stream.size()), c.stream);
      EXPECT_EQ(out[c.stream.size()], 0xEE);
    }
  }
}

TEST(Lznt1Codec, MaximumEngineFindsTheLongestMatchWhereTheStandardOneMissesIt)
{
  // "abcdefgh" then three "abcX" decoys, then "abcdefgh" again: the standard engine keeps
  // only the two latest "abc" positions (both decoys), the maximum engine reaches back.
  const std::string s = "abcdefgh" "abc1" "abc2" "abc3" "abcdefgh";
  const Bytes in(s.begin(), s.end());
  const Bytes standard = CompressOrDie(Lznt1::kEngineStandard, in);
  const Bytes maximum = CompressOrDie(Lznt1::kEngineMaximum, in);
  EXPECT_LT(maximum.size(), standard.size());
  for (const Bytes* packed : {&standard, &maximum}) {
    const Decoded d = Decode(*packed, in.size());
    ASSERT_EQ(d.result, Lznt1Result::Ok);
    EXPECT_EQ(d.bytes, in);
  }
  // The last token of the maximum stream: distance 20, length 8 at position 20.
  EXPECT_EQ(Bytes(maximum.end() - 2, maximum.end()), (Bytes{0x05, 0x98}));
}

TEST(Lznt1Codec, StandardEngineForgetsAllButTwoPositionsOfABucket)
{
  // "xyz" and "jhb" share a bucket: after "jhb" twice the bucket no longer holds the
  // "xyz" at 0, so the last "xyz" goes out as literals (the maximum engine finds it).
  const std::string s = "xyz1jhb2jhb3xyz";
  const Bytes in(s.begin(), s.end());
  const Bytes want = {0x0F, 0xB0, 0x00, 'x', 'y', 'z', '1', 'j', 'h', 'b', '2',
                      0x01, 0x00, 0x30, '3', 'x', 'y', 'z'};
  EXPECT_EQ(CompressOrDie(Lznt1::kEngineStandard, in), want);
  EXPECT_EQ(CompressOrDie(Lznt1::kEngineMaximum, in).size(), want.size() - 1);
}

TEST(Lznt1Codec, CompressionErrors)
{
  const Bytes text = Text(5000);
  Bytes workspace(Lznt1::kStandardWorkspace);
  Bytes out(20000);
  size_t size = 99;
  EXPECT_EQ(Lznt1Codec::Compress(kLznt1 | 0x200, text.data(), text.size(), out.data(),
                                 out.size(), &size, workspace.data()),
            Lznt1Result::EngineNotSupported);
  EXPECT_EQ(Lznt1Codec::Compress(kLznt1, text.data(), text.size(), out.data(), out.size(),
                                 &size, nullptr),
            Lznt1Result::InvalidParameter);

  // Incompressible data needs a stored chunk of 4098 bytes; one byte less is too small.
  const Bytes noise = Random(4096, 9);
  for (const uint16_t engine : kEngines) {
    EXPECT_EQ(Lznt1Codec::Compress(kLznt1 | engine, noise.data(), noise.size(), out.data(),
                                   4097, &size, workspace.data()),
              Lznt1Result::BufferTooSmall);
    EXPECT_EQ(Lznt1Codec::Compress(kLznt1 | engine, noise.data(), noise.size(), out.data(),
                                   4098, &size, workspace.data()),
              Lznt1Result::Ok);
    EXPECT_EQ(size, 4098u);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 2), (Bytes{0xFF, 0x3F}));
  }
  // A compressed stream fits exactly into its own size (the terminator is optional).
  const Bytes packed = CompressOrDie(Lznt1::kEngineStandard, text);
  EXPECT_EQ(Lznt1Codec::Compress(kLznt1, text.data(), text.size(), out.data(), packed.size(),
                                 &size, workspace.data()),
            Lznt1Result::Ok);
  EXPECT_EQ(size, packed.size());
  EXPECT_EQ(Lznt1Codec::Compress(kLznt1, text.data(), text.size(), out.data(),
                                 packed.size() - 1, &size, workspace.data()),
            Lznt1Result::BufferTooSmall);
}

TEST(Lznt1Codec, DispatchByFormatAndWorkspaceSizes)
{
  uint32_t ws = 0, frag = 0;
  EXPECT_EQ(Lznt1Codec::WorkspaceSize(kLznt1, &ws, &frag), Lznt1Result::Ok);
  EXPECT_EQ(ws, 32784u);
  EXPECT_EQ(frag, 4096u);
  EXPECT_EQ(Lznt1Codec::WorkspaceSize(kLznt1 | Lznt1::kEngineMaximum, &ws, &frag),
            Lznt1Result::Ok);
  EXPECT_EQ(ws, 16u);
  EXPECT_EQ(Lznt1Codec::WorkspaceSize(kLznt1 | 0x300, &ws, &frag),
            Lznt1Result::EngineNotSupported);

  const Bytes stream = {0x01, 0xB0, 0x00, 0x7E};
  uint8_t out[8];
  size_t sp = 0;
  struct Case {
    uint16_t format;
    Lznt1Result expected;
  } const kFormats[] = {
      {0, Lznt1Result::FormatNotSupported},  {1, Lznt1Result::InvalidParameter},
      {0x101, Lznt1Result::InvalidParameter}, {2, Lznt1Result::Ok},
      {0x102, Lznt1Result::Ok},               {3, Lznt1Result::FormatNotSupported},
      {15, Lznt1Result::FormatNotSupported},  {0x12, Lznt1Result::FormatNotSupported},
      {0xF2, Lznt1Result::FormatNotSupported},
  };
  for (const auto& c : kFormats) {
    EXPECT_EQ(Lznt1Codec::Decompress(c.format, out, sizeof out, stream.data(), stream.size(), &sp),
              c.expected)
        << c.format;
    EXPECT_EQ(Lznt1Codec::WorkspaceSize(c.format, &ws, &frag), c.expected) << c.format;
  }
  Lznt1Args args;
  EXPECT_EQ(Lznt1Dispatch(kLznt1, Lznt1Op::Reserved, args), Lznt1Result::FormatNotSupported);
}

// Hand-made streams for the decoder's rules and its errors. Positions are input offsets
// of the chunk at fault.
TEST(Lznt1Codec, DecodesCraftedStreams)
{
  Bytes shortThenNext = {0x02, 0xB0, 0x00, 'x', 'y'};   // 2 bytes, padded to 4096
  shortThenNext.insert(shortThenNext.end(), {0x01, 0xB0, 0x00, 'z'});
  Bytes shortThenNextWant(4097, 0);
  shortThenNextWant[0] = 'x';
  shortThenNextWant[1] = 'y';
  shortThenNextWant[4096] = 'z';

  Bytes stored = {0xFF, 0x3F};
  const Bytes noise = Random(4096, 5);
  stored.insert(stored.end(), noise.begin(), noise.end());

  struct Case {
    const char* name;
    Bytes in;
    Lznt1Result result;
    size_t sizeOrPosition;
    Bytes want;
  } const kCases[] = {
      {"empty input", {}, Lznt1Result::Ok, 0, {}},
      {"one byte", {0x05}, Lznt1Result::Ok, 0, {}},
      {"zero header", {0x00, 0x00, 0x05, 0xB0}, Lznt1Result::Ok, 0, {}},
      {"literal then overlapping token", {0x03, 0xB0, 0x02, 'k', 0x07, 0x00}, Lznt1Result::Ok,
       11, Bytes(11, 'k')},
      {"short chunk pads its slot", shortThenNext, Lznt1Result::Ok, 4097, shortThenNextWant},
      {"stored chunk", stored, Lznt1Result::Ok, 4096, noise},
      {"no terminator, one stray byte", {0x01, 0xB0, 0x00, 'a', 0x33}, Lznt1Result::Ok, 1,
       {'a'}},
      {"token at position 0", {0x02, 0xB0, 0x01, 0x00, 0x00}, Lznt1Result::BadCompressedData, 0,
       {}},
      {"distance past chunk start", {0x03, 0xB0, 0x02, 'k', 0x00, 0x10},
       Lznt1Result::BadCompressedData, 0, {}},
      {"reference into the previous chunk",
       Concat({Bytes{0x01, 0xB0, 0x00, 'a'}, Bytes{0x02, 0xB0, 0x01, 0x00, 0x00}}),
       Lznt1Result::BadCompressedData, 4, {}},
      {"token cut after one byte", {0x02, 0xB0, 0x02, 'k', 0x07}, Lznt1Result::BadCompressedData,
       0, {}},
      {"first chunk runs past the input", {0x05, 0xB0, 0x00, 'a', 'b'},
       Lznt1Result::BadCompressedData, 0, {}},
      {"second chunk runs past the input",
       Concat({Bytes{0x01, 0xB0, 0x00, 'a'}, Bytes{0x10, 0xB0, 0x00, 'b'}}),
       Lznt1Result::BadCompressedData, 4, {}},
      {"stored chunk runs past the input", {0xFF, 0x3F, 1, 2, 3}, Lznt1Result::BadCompressedData,
       0, {}},
      {"header without signature", {0x00, 0x80, 0x00, 'a'}, Lznt1Result::BadCompressedData, 0,
       {}},
      // Two literals and a token of 4095 bytes: one byte more than a chunk holds.
      {"chunk expands past 4096 bytes", {0x04, 0xB0, 0x04, 'q', 'r', 0xFC, 0x0F},
       Lznt1Result::BadCompressedData, 0, {}},
      {"items after a full chunk", {0x05, 0xB0, 0x06, 'q', 0xFC, 0x0F, 0x00, 0x00},
       Lznt1Result::BadCompressedData, 0, {}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    const Decoded d = Decode(c.in, 3 * Lznt1::kChunkSize);
    EXPECT_EQ(d.result, c.result);
    EXPECT_EQ(d.sizeOrPosition, c.sizeOrPosition);
    EXPECT_EQ(d.bytes, c.want);
  }
}

TEST(Lznt1Codec, OutputEndCutsTheStreamAnywhere)
{
  const Bytes plain = Concat({Text(5000), Bytes(3000, 0), Random(2000, 4)});
  for (const uint16_t engine : kEngines) {
    const Bytes packed = CompressOrDie(engine, plain);
    for (size_t cap = 0; cap <= plain.size(); cap += (cap < 8200 && cap > 8180) ? 1 : 97) {
      const Decoded d = Decode(packed, cap);
      ASSERT_EQ(d.result, Lznt1Result::Ok) << cap;
      EXPECT_EQ(d.sizeOrPosition, cap);
      EXPECT_EQ(d.bytes, Bytes(plain.begin(), plain.begin() + cap)) << cap;
    }
  }
}

TEST(Lznt1Codec, FragmentsMatchTheWholeFromEveryOffset)
{
  const Bytes plain = Concat({Text(9000), Bytes(5000, 0), Random(4200, 6), Text(3000)});
  const Bytes packed = CompressOrDie(Lznt1::kEngineStandard, plain);
  std::vector<uint64_t> offsets;
  for (uint64_t at = 0; at <= plain.size() + 4096; at += 4096)
    for (uint64_t d : {0, 1, 2, 4095, 4094, 2048})
      if (at + d <= plain.size() + 4096) offsets.push_back(at + d);
  for (const uint64_t offset : offsets) {
    SCOPED_TRACE(offset);
    const Decoded d = DecodeFragment(packed, plain.size() + 4096, offset);
    ASSERT_EQ(d.result, Lznt1Result::Ok);
    const Bytes want(plain.begin() + std::min<size_t>(offset, plain.size()), plain.end());
    EXPECT_EQ(d.bytes, want);
    // A small window at the offset gives just those bytes.
    const Decoded small = DecodeFragment(packed, 100, offset);
    ASSERT_EQ(small.result, Lznt1Result::Ok);
    EXPECT_EQ(small.bytes, Bytes(want.begin(), want.begin() + std::min<size_t>(100, want.size())));
  }
  // Short chunks stand for whole slots: the zeros behind them are part of any fragment.
  const Bytes shortChunks = {0x02, 0xB0, 0x00, 'x', 'y', 0x01, 0xB0, 0x00, 'z',
                             0x02, 0xB0, 0x00, 'u', 'v'};
  const Decoded whole = Decode(shortChunks, 3 * 4096);
  ASSERT_EQ(whole.result, Lznt1Result::Ok);
  ASSERT_EQ(whole.bytes.size(), 2 * 4096 + 2u);
  for (const uint64_t offset : {1, 2, 3, 4000, 4095, 4096, 4097, 8191, 8193, 8194, 9000}) {
    const Decoded d = DecodeFragment(shortChunks, 3 * 4096, offset);
    ASSERT_EQ(d.result, Lznt1Result::Ok) << offset;
    EXPECT_EQ(d.bytes, Bytes(whole.bytes.begin() + std::min<size_t>(offset, whole.bytes.size()),
                             whole.bytes.end()))
        << offset;
  }

  // A fault in a skipped chunk's header is still found; one inside its data is not read.
  Bytes badLater = packed;
  badLater[1] = 0x00;  // first chunk loses its signature
  EXPECT_EQ(DecodeFragment(badLater, 100, 5000).result, Lznt1Result::BadCompressedData);
  Bytes badData = packed;
  badData[3] ^= 0xFF;
  EXPECT_EQ(DecodeFragment(badData, 100, 4096).result, Lznt1Result::Ok);
}

TEST(Lznt1Codec, EveryPrefixGivesAnErrorOrAPrefixOfThePlainBytes)
{
  const Bytes plain = Concat({Text(6000), Random(4096, 8), Bytes(2000, 0), Text(900)});
  for (const uint16_t engine : kEngines) {
    const Bytes packed = CompressOrDie(engine, plain);
    size_t okCount = 0;
    for (size_t n = 0; n <= packed.size(); ++n) {
      const Decoded d = Decode(packed, plain.size() + 4096, n);
      if (d.result == Lznt1Result::Ok) {
        ++okCount;
        ASSERT_TRUE(IsPrefix(d.bytes, plain)) << n;
      } else {
        ASSERT_EQ(d.result, Lznt1Result::BadCompressedData) << n;
        EXPECT_LT(d.sizeOrPosition, n) << n;
      }
    }
    // Only cuts at a chunk's end (or one byte behind it) decode.
    const size_t chunks = (plain.size() + 4095) / 4096;
    EXPECT_LE(okCount, 2 * chunks + 2);
  }
}

TEST(Lznt1Codec, CorruptedBytesNeverWritePastTheOutput)
{
  const Bytes plain = Concat({Text(3000), Bytes(1500, 0), Text(1000)});
  const Bytes packed = CompressOrDie(Lznt1::kEngineStandard, plain);
  for (size_t i = 0; i < packed.size(); ++i) {
    for (const uint8_t x : {0x01, 0x10, 0x80, 0xFF}) {
      Bytes bad = packed;
      bad[i] ^= x;
      const Decoded d = Decode(bad, plain.size());
      ASSERT_TRUE(d.result == Lznt1Result::Ok || d.result == Lznt1Result::BadCompressedData)
          << i;
      if (d.result == Lznt1Result::Ok) {
        EXPECT_LE(d.sizeOrPosition, plain.size());
      }
    }
  }
}

TEST(Lznt1Codec, DescribesChunksInOrder)
{
  const Bytes plain = Concat({Text(4096), Random(4096, 10), Bytes(4096, 0), Text(100)});
  const Bytes packed = CompressOrDie(Lznt1::kEngineStandard, plain);
  const uint8_t* cursor = packed.data();
  const uint8_t* const end = packed.data() + packed.size();
  const uint8_t* start = nullptr;
  uint32_t size = 0;
  struct Want {
    ptrdiff_t start;  // from the chunk header
    uint32_t size;    // 1: the chunk's own total
  } const kWant[] = {{0, 1}, {2, 4096}, {0, 0}, {0, 1}};
  for (const auto& w : kWant) {
    const uint8_t* header = cursor;
    const size_t total = size_t(header[0] | ((header[1] & 0x0F) << 8)) + 3;
    ASSERT_EQ(Lznt1Codec::DescribeChunk(kLznt1, &cursor, end, &start, &size), Lznt1Result::Ok);
    EXPECT_EQ(start, header + w.start);
    EXPECT_EQ(size, w.size == 1 ? total : w.size);
    EXPECT_EQ(cursor, header + total);
  }
  EXPECT_EQ(Lznt1Codec::DescribeChunk(kLznt1, &cursor, end, &start, &size),
            Lznt1Result::NoMoreChunks);

  struct Case {
    const char* name;
    Bytes in;
    Lznt1Result result;
  } const kCases[] = {
      {"three bytes", {0x00, 0xB0, 0x00}, Lznt1Result::NoMoreChunks},
      {"zero header", {0x00, 0x00, 0x00, 0x00}, Lznt1Result::NoMoreChunks},
      {"runs past the end", {0x04, 0xB0, 0x00, 0x01}, Lznt1Result::BadCompressedData},
      {"no signature", {0x01, 0xA0, 0x00, 0x01}, Lznt1Result::BadCompressedData},
      {"short stored chunk", {0x02, 0x30, 1, 2, 3}, Lznt1Result::BadCompressedData},
      {"zeros with a bad distance", {0x03, 0xB0, 0x02, 0x00, 0xFC, 0x1F}, Lznt1Result::Ok},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    const uint8_t* at = c.in.data();
    EXPECT_EQ(Lznt1Codec::DescribeChunk(kLznt1, &at, c.in.data() + c.in.size(), &start, &size),
              c.result);
    EXPECT_EQ(at, c.result == Lznt1Result::Ok ? c.in.data() + c.in.size() : c.in.data());
    if (c.result == Lznt1Result::Ok) {
      EXPECT_EQ(size, 6u);  // not taken for a zero chunk
    }
  }
}

#ifdef RECOVERY_FIXTURES_DIR
std::string DataPath(const char* name)
{
  return std::string(RECOVERY_FIXTURES_DIR) + "/../intermediate/data/" + name;
}
#else
std::string DataPath(const char* name) { return std::string("testing/intermediate/data/") + name; }
#endif

bool ReadFile(const std::string& path, Bytes& out)
{
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  out.clear();
  uint8_t buf[16384];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.insert(out.end(), buf, buf + n);
  std::fclose(f);
  return true;
}

// Compression units as ntfs-3g wrote them for a file in a compressed folder, with the
// file's plain bytes (made by make-ntfs-lznt1.sh beside the data).
TEST(Lznt1Codec, ExpandsUnitsWrittenByNtfs3g)
{
  Bytes plain, manifest;
  ASSERT_TRUE(ReadFile(DataPath("ntfs3g-plain.bin"), plain));
  ASSERT_TRUE(ReadFile(DataPath("ntfs3g-units.txt"), manifest));
  const std::string text(manifest.begin(), manifest.end());
  size_t units = 0, compressed = 0;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t eol = text.find('\n', pos);
    if (eol == std::string::npos) eol = text.size();
    const std::string line = text.substr(pos, eol - pos);
    pos = eol + 1;
    if (line.empty() || line[0] == '#') continue;
    char name[64] = {};
    unsigned long long offset = 0, length = 0;
    int stored = 0;
    ASSERT_EQ(std::sscanf(line.c_str(), "%63s %llu %llu %d", name, &offset, &length, &stored), 4)
        << line;
    SCOPED_TRACE(name);
    Bytes unit;
    ASSERT_TRUE(ReadFile(DataPath(name), unit));
    ASSERT_LE(offset + length, plain.size());
    const Bytes want(plain.begin() + size_t(offset), plain.begin() + size_t(offset + length));
    ++units;
    if (stored) {  // all clusters of the unit present: raw data, no codec
      EXPECT_EQ(Bytes(unit.begin(), unit.begin() + std::min(unit.size(), want.size())), want);
      continue;
    }
    ++compressed;
    const size_t unitSize = 65536;
    const Decoded d = Decode(unit, unitSize);
    ASSERT_EQ(d.result, Lznt1Result::Ok);
    ASSERT_GE(d.bytes.size(), want.size());
    EXPECT_EQ(Bytes(d.bytes.begin(), d.bytes.begin() + want.size()), want);
    // Reading the tail of the unit by fragment gives the same bytes.
    const uint64_t at = std::min<uint64_t>(length, 3 * 4096 + 100);
    const Decoded f = DecodeFragment(unit, unitSize, at);
    ASSERT_EQ(f.result, Lznt1Result::Ok);
    EXPECT_EQ(Bytes(f.bytes.begin(), f.bytes.begin() + (want.size() - at)),
              Bytes(want.begin() + at, want.end()));
  }
  EXPECT_GE(units, 2u);
  EXPECT_GE(compressed, 2u);
}

}  // namespace
