// The carver's format walks on small whole files, every prefix of them, and structural
// fields patched: a file counts only when its own structure reaches its end.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "Carver.h"

namespace {

using qvtd::CarvedFile;
using qvtd::CarveSource;

std::string U32(uint32_t v) { return std::string(reinterpret_cast<const char*>(&v), 4); }
std::string Be32(uint32_t v) {
  const char b[4] = {char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
  return std::string(b, 4);
}

std::string Gif() {
  return std::string("GIF89a\x02\x00\x01\x00\x80\x00\x00\x00\x00\x00\xff\xff\xff"
                     "\x2c\x00\x00\x00\x00\x02\x00\x01\x00\x00\x02\x02\x44\x01\x00\x3b",
                     35);
}

std::string Png() {
  std::string ihdr = Be32(13) + "IHDR" + std::string(13, '\x01') + U32(0);
  return std::string("\x89PNG\r\n\x1a\n", 8) + ihdr + Be32(4) + "IDAT" + "abcd" + U32(0) + Be32(0) + "IEND" + U32(0);
}

std::string Bmp() {
  std::string b = "BM" + U32(70) + U32(0) + U32(54) + U32(40) + U32(2) + U32(2) + std::string("\x01\x00\x18\x00", 4);
  b.resize(70, '\x07');
  return b;
}

std::string Wav() {
  std::string body = "WAVE" + std::string("fmt ") + U32(16) + std::string(16, '\x01') + "data" + U32(8) + "12345678";
  return "RIFF" + U32(uint32_t(body.size())) + body;
}

std::string Zip() {
  const std::string name = "a.txt", data = "hello";
  std::string local = std::string("PK\x03\x04", 4) + std::string(14, '\0') + U32(5) + U32(5) +
                      std::string("\x05\x00\x00\x00", 4) + name + data;
  std::string central = std::string("PK\x01\x02", 4) + std::string(16, '\0') + U32(5) + U32(5) +
                        std::string("\x05\x00\x00\x00\x00\x00", 6) + std::string(12, '\0') + name;
  std::string end = std::string("PK\x05\x06", 4) + std::string(6, '\0') + std::string("\x01\x00", 2) +
                    U32(uint32_t(central.size())) + U32(uint32_t(local.size())) + std::string("\x00\x00", 2);
  return local + central + end;
}

// The end of line after %%EOF is optional: without it the file ends at the marker.
std::string Pdf() { return "%PDF-1.4\n1 0 obj\n<<>>\nendobj\ntrailer\n<<>>\n%%EOF"; }

bool Carve(const std::string& area, CarvedFile& out) {
  CarveSource source(
      [&](uint64_t offset, void* buffer, size_t length) {
        if (offset >= area.size()) return size_t(0);
        const size_t n = std::min(length, size_t(area.size() - offset));
        std::memcpy(buffer, area.data() + offset, n);
        return n;
      },
      area.size());
  std::vector<uint8_t> head(512, 0);
  std::memcpy(head.data(), area.data(), std::min(area.size(), head.size()));
  return qvtd::CarveAt(source, 0, head.data(), head.size(), out);
}

struct Format {
  const char* extension;
  std::string bytes;
};

std::vector<Format> Formats() {
  return {{"gif", Gif()}, {"png", Png()}, {"bmp", Bmp()}, {"wav", Wav()}, {"zip", Zip()}, {"pdf", Pdf()}};
}

TEST(Carver, WholeFilesEndWhereTheirStructureEnds) {
  for (const Format& f : Formats()) {
    // Bytes after the file (the next sectors) are no part of it.
    CarvedFile out;
    ASSERT_TRUE(Carve(f.bytes + std::string(700, '\x5a'), out)) << f.extension;
    EXPECT_EQ(out.length, f.bytes.size()) << f.extension;
    EXPECT_EQ(out.extension, f.extension);
  }
}

TEST(Carver, EveryPrefixIsRefused) {
  for (const Format& f : Formats()) {
    for (size_t n = 0; n < f.bytes.size(); ++n) {
      CarvedFile out;
      EXPECT_FALSE(Carve(f.bytes.substr(0, n), out)) << f.extension << " cut at " << n;
    }
  }
}

TEST(Carver, BrokenStructureIsRefused) {
  struct Patch {
    const char* name;
    std::string bytes;
    size_t at;
    std::string with;
  } const patches[] = {
      {"gif unknown block", Gif(), 19, "\x01"},
      {"png chunk type not letters", Png(), 12, "1"},
      {"png without IHDR first", Png(), 12, "IDAT"},
      {"bmp reserved bytes", Bmp(), 6, "\x01"},
      {"bmp planes", Bmp(), 26, "\x02"},
      {"riff neither wave nor avi", Wav(), 8, "XXXX"},
      {"zip directory offset", Zip(), Zip().size() - 6, "\x01"},
  };
  for (const Patch& p : patches) {
    std::string bytes = p.bytes;
    bytes.replace(p.at, p.with.size(), p.with);
    CarvedFile out;
    EXPECT_FALSE(Carve(bytes + std::string(700, '\0'), out)) << p.name;
  }
}

}  // namespace
