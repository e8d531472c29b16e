// Benchmark (not a test): LZNT1 decompression throughput over the compression units of a
// real NTFS compressed file, as file recovery expands them.
//   lznt1-bench UNITS [--seconds S] [--out FILE]
// UNITS holds one record per compressed unit: 32-bit unit number, 32-bit length, then the
// unit's stored clusters (little-endian). Every unit is expanded into one 64 KiB buffer,
// pass after pass, for at least S seconds (default 2). --out writes each unit's output,
// padded with zeros to 64 KiB, in record order, so that the caller can compare it with the
// file. bench/ntfs-recover.py makes UNITS and reads the figures.
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cwchar>
#include <vector>

#include "Lznt1.h"

namespace {

constexpr size_t kUnitBytes = 65536;  // 16 clusters of 4 KiB

struct Unit {
  uint32_t number;
  const uint8_t* data;
  uint32_t length;
};

bool ReadWhole(const wchar_t* path, std::vector<uint8_t>* bytes)
{
  FILE* f = _wfopen(path, L"rb");
  if (!f) return false;
  uint8_t buf[1 << 16];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) bytes->insert(bytes->end(), buf, buf + n);
  const bool ok = !std::ferror(f);
  std::fclose(f);
  return ok;
}

uint32_t Load32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24; }

double Seconds(const LARGE_INTEGER& a, const LARGE_INTEGER& b, const LARGE_INTEGER& freq)
{
  return double(b.QuadPart - a.QuadPart) / double(freq.QuadPart);
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
  const wchar_t* unitsPath = nullptr;
  const wchar_t* outPath = nullptr;
  double minSeconds = 2.0;
  for (int i = 1; i < argc; ++i) {
    if (std::wcscmp(argv[i], L"--seconds") == 0 && i + 1 < argc) {
      minSeconds = _wtof(argv[++i]);
    } else if (std::wcscmp(argv[i], L"--out") == 0 && i + 1 < argc) {
      outPath = argv[++i];
    } else if (!unitsPath) {
      unitsPath = argv[i];
    } else {
      unitsPath = nullptr;
      break;
    }
  }
  if (!unitsPath) {
    std::fprintf(stderr, "usage: lznt1-bench UNITS [--seconds S] [--out FILE]\n");
    return 2;
  }

  std::vector<uint8_t> bytes;
  if (!ReadWhole(unitsPath, &bytes)) {
    std::fprintf(stderr, "cannot read the units file\n");
    return 1;
  }
  std::vector<Unit> units;
  uint64_t inBytes = 0;
  for (size_t pos = 0; pos < bytes.size();) {
    if (bytes.size() - pos < 8) return 1;
    const uint32_t length = Load32(&bytes[pos + 4]);
    if (length > bytes.size() - pos - 8) {
      std::fprintf(stderr, "truncated record at %zu\n", pos);
      return 1;
    }
    units.push_back(Unit{Load32(&bytes[pos]), &bytes[pos + 8], length});
    inBytes += length;
    pos += 8 + size_t(length);
  }
  if (units.empty()) {
    std::fprintf(stderr, "no units\n");
    return 1;
  }

  std::vector<uint8_t> out(kUnitBytes);
  // One checked pass first: every unit must expand, and its output is what --out keeps.
  uint64_t outBytes = 0;
  FILE* dump = outPath ? _wfopen(outPath, L"wb") : nullptr;
  if (outPath && !dump) return 1;
  for (const Unit& u : units) {
    size_t made = 0;
    const Lznt1Result r = Lznt1Codec::Decompress(Lznt1::kFormatLznt1, out.data(), out.size(),
                                                 u.data, u.length, &made);
    if (r != Lznt1Result::Ok) {
      std::fprintf(stderr, "unit %u: result %d at %zu\n", u.number, Lznt1Code(r), made);
      return 1;
    }
    outBytes += made;
    if (dump) {
      std::fill(out.begin() + made, out.end(), 0);
      if (std::fwrite(out.data(), 1, out.size(), dump) != out.size()) return 1;
    }
  }
  if (dump && std::fclose(dump) != 0) return 1;

  LARGE_INTEGER freq, start, now;
  QueryPerformanceFrequency(&freq);
  QueryPerformanceCounter(&start);
  double best = 1e30, total = 0;
  int passes = 0;
  do {
    LARGE_INTEGER a, b;
    QueryPerformanceCounter(&a);
    for (const Unit& u : units) {
      size_t made = 0;
      Lznt1Codec::Decompress(Lznt1::kFormatLznt1, out.data(), out.size(), u.data, u.length, &made);
    }
    QueryPerformanceCounter(&b);
    best = std::min(best, Seconds(a, b, freq));
    ++passes;
    QueryPerformanceCounter(&now);
    total = Seconds(start, now, freq);
  } while (total < minSeconds);

  const double mean = total / passes;
  std::printf("units=%zu in_bytes=%llu out_bytes=%llu passes=%d seconds=%.3f "
              "out_mbs=%.1f in_mbs=%.1f best_out_mbs=%.1f\n",
              units.size(), static_cast<unsigned long long>(inBytes),
              static_cast<unsigned long long>(outBytes), passes, total,
              double(outBytes) / 1e6 / mean, double(inBytes) / 1e6 / mean,
              double(outBytes) / 1e6 / best);
  return 0;
}
