// Each format's end is found by walking its own structure: JPEG segments and the
// entropy data to EOI, PNG chunks to IEND, GIF blocks to the trailer, the BMP and RIFF
// sizes, the last %%EOF of a PDF, the ZIP end record that names its own central
// directory, MPEG audio frames, ISO media boxes, Ogg pages to the last stream's end and
// MPEG program-stream packs.
#include "Carver.h"

#include <string.h>

#include <algorithm>
#include <set>
#include <vector>

namespace qvtd {

namespace {

constexpr uint64_t kSector = 512;
constexpr uint64_t kMiB = 1u << 20;
constexpr uint64_t kGiB = uint64_t(1) << 30;
constexpr uint64_t kMaxJpeg = 256 * kMiB;
constexpr uint64_t kMaxPdf = kGiB;
constexpr uint64_t kMaxZip = kGiB;
constexpr uint64_t kMaxStream = 4 * kGiB;  // audio and video walks

uint16_t Be16(const uint8_t* p) { return uint16_t(p[0] << 8 | p[1]); }
uint32_t Be32(const uint8_t* p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; }
uint64_t Be64(const uint8_t* p) { return uint64_t(Be32(p)) << 32 | Be32(p + 4); }
uint16_t Le16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
uint32_t Le32(const uint8_t* p) { return uint32_t(Le16(p)) | uint32_t(Le16(p + 2)) << 16; }
uint64_t Le64(const uint8_t* p) { return uint64_t(Le32(p)) | uint64_t(Le32(p + 4)) << 32; }

bool Has(const uint8_t* head, size_t n, const char* text, size_t at = 0)
{
  const size_t len = strlen(text);
  return n >= at + len && memcmp(head + at, text, len) == 0;
}

// ---- JPEG ----

bool Jpeg(const CarveSource& s, uint64_t at, CarvedFile& out)
{
  const uint64_t limit = std::min(s.Size(), at + kMaxJpeg);
  uint64_t pos = at + 2;
  bool sawFrame = false;
  uint8_t m[4];
  std::vector<uint8_t> block(64 * 1024);
  while (pos + 4 <= limit) {
    if (!s.Read(pos, m, 4) || m[0] != 0xFF) return false;
    const uint8_t code = m[1];
    if (code == 0xFF) { ++pos; continue; }  // fill byte
    if (code == 0xD9) {
      if (!sawFrame) return false;
      out.length = pos + 2 - at;
      out.extension = "jpg";
      return true;
    }
    if (code == 0x01 || (code >= 0xD0 && code <= 0xD7)) { pos += 2; continue; }
    if (code == 0x00 || code == 0xD8) return false;
    const uint16_t len = Be16(m + 2);
    if (len < 2) return false;
    if ((code >= 0xC0 && code <= 0xCF && code != 0xC4 && code != 0xC8 && code != 0xCC)) sawFrame = true;
    pos += 2 + uint64_t(len);
    if (code != 0xDA) continue;
    // Entropy-coded data: runs to the next marker that is not a stuffed byte or a restart.
    bool marker = false;
    while (!marker && pos < limit) {
      const size_t want = size_t(std::min<uint64_t>(block.size(), limit - pos));
      if (!s.Read(pos, block.data(), want)) return false;
      for (size_t i = 0; i + 1 < want; ++i) {
        if (block[i] != 0xFF) continue;
        const uint8_t next = block[i + 1];
        if (next == 0x00 || (next >= 0xD0 && next <= 0xD7) || next == 0xFF) continue;
        pos += i;
        marker = true;
        break;
      }
      if (!marker) pos += want > 1 ? want - 1 : 1;
    }
  }
  return false;
}

// ---- PNG ----

bool Png(const CarveSource& s, uint64_t at, CarvedFile& out)
{
  uint64_t pos = at + 8;
  uint8_t c[8];
  bool first = true;
  while (pos + 12 <= s.Size()) {
    if (!s.Read(pos, c, 8)) return false;
    const uint32_t len = Be32(c);
    for (int i = 4; i < 8; ++i)
      if (!((c[i] >= 'A' && c[i] <= 'Z') || (c[i] >= 'a' && c[i] <= 'z'))) return false;
    if (len > 0x7FFFFFFFu || (first && memcmp(c + 4, "IHDR", 4) != 0)) return false;
    first = false;
    pos += 12 + uint64_t(len);
    if (memcmp(c + 4, "IEND", 4) == 0) {
      out.length = pos - at;
      out.extension = "png";
      return pos <= s.Size();
    }
  }
  return false;
}

// ---- GIF ----

bool SkipSubBlocks(const CarveSource& s, uint64_t& pos)
{
  uint8_t n = 0;
  for (;;) {
    if (!s.Read(pos, &n, 1)) return false;
    pos += 1 + uint64_t(n);
    if (n == 0) return true;
  }
}

bool Gif(const CarveSource& s, uint64_t at, CarvedFile& out)
{
  uint8_t h[13];
  if (!s.Read(at, h, 13)) return false;
  uint64_t pos = at + 13;
  if (h[10] & 0x80) pos += 3u << ((h[10] & 7) + 1);
  for (int blocks = 0; blocks < 1 << 20; ++blocks) {
    uint8_t b[10];
    if (!s.Read(pos, b, 1)) return false;
    if (b[0] == 0x3B) {
      out.length = pos + 1 - at;
      out.extension = "gif";
      return true;
    }
    if (b[0] == 0x21) {
      pos += 2;
      if (!SkipSubBlocks(s, pos)) return false;
    } else if (b[0] == 0x2C) {
      if (!s.Read(pos, b, 10)) return false;
      pos += 10;
      if (b[9] & 0x80) pos += 3u << ((b[9] & 7) + 1);
      pos += 1;  // LZW code size
      if (!SkipSubBlocks(s, pos)) return false;
    } else {
      return false;
    }
  }
  return false;
}

// ---- BMP ----

bool Bmp(const CarveSource& s, uint64_t at, const uint8_t* h, CarvedFile& out)
{
  const uint32_t size = Le32(h + 2), offset = Le32(h + 10), dib = Le32(h + 14);
  if (Le32(h + 6) != 0 || size < 26 || offset >= size || offset < 14 + dib) return false;
  if (dib != 12 && dib != 40 && dib != 52 && dib != 56 && dib != 64 && dib != 108 && dib != 124) return false;
  if (dib >= 40 && (Le16(h + 26) != 1 || Le32(h + 18) == 0)) return false;
  if (at + size > s.Size()) return false;
  out.length = size;
  out.extension = "bmp";
  return true;
}

// ---- RIFF (WAV, AVI) ----

bool Riff(const CarveSource& s, uint64_t at, const uint8_t* h, CarvedFile& out)
{
  const bool wav = memcmp(h + 8, "WAVE", 4) == 0, avi = memcmp(h + 8, "AVI ", 4) == 0;
  if (!wav && !avi) return false;
  uint64_t end = at + 8 + uint64_t(Le32(h + 4));
  if (Le32(h + 4) < 4 || end > s.Size()) return false;
  // Large AVIs go on in further "RIFF....AVIX" lists.
  uint8_t next[12];
  while (avi && s.Read(end, next, 12) && memcmp(next, "RIFF", 4) == 0 && memcmp(next + 8, "AVIX", 4) == 0)
    end += 8 + uint64_t(Le32(next + 4));
  out.length = end - at;
  out.extension = wav ? "wav" : "avi";
  return end <= s.Size();
}

// ---- PDF ----

bool Pdf(const CarveSource& s, uint64_t at, CarvedFile& out)
{
  // Updates appended after an %%EOF belong to the file, so the last %%EOF counts; the
  // header of another file at a sector start, or a long stretch without one, ends it.
  const uint64_t limit = std::min(s.Size(), at + kMaxPdf);
  std::vector<uint8_t> block(kMiB + 8);
  uint64_t end = 0;
  for (uint64_t pos = at; pos < limit;) {
    const size_t want = size_t(std::min<uint64_t>(block.size(), limit - pos));
    if (!s.Read(pos, block.data(), want)) break;
    const size_t scan = want == block.size() ? want - 8 : want;
    for (size_t i = 0; i < scan; ++i) {
      if (end != 0 && (pos + i) % kSector == 0 && i + 64 <= want && LooksLikeHeader(&block[i], 64)) {
        out.length = end - at;
        out.extension = "pdf";
        return true;
      }
      if (block[i] != '%' || i + 5 > want || memcmp(&block[i], "%%EOF", 5) != 0) continue;
      size_t e = i + 5;
      if (e + 1 < want && block[e] == '\r' && block[e + 1] == '\n') e += 2;
      else if (e < want && (block[e] == '\n' || block[e] == '\r')) e += 1;
      end = pos + e;
    }
    if (end != 0 && pos + scan > end + 16 * kMiB) break;
    pos += scan;
  }
  if (end == 0) return false;
  out.length = end - at;
  out.extension = "pdf";
  return true;
}

// ---- ZIP and the formats built on it ----

std::string ZipKind(const CarveSource& s, uint64_t at, uint64_t cdOffset, uint64_t cdSize)
{
  uint8_t local[30];
  if (!s.Read(at, local, 30)) return "zip";
  const uint16_t nameLen = Le16(local + 26), extraLen = Le16(local + 28);
  std::string first(nameLen, '\0');
  if (!s.Read(at + 30, &first[0], nameLen)) return "zip";
  if (first == "mimetype") {
    char mime[64] = {};
    s.Read(at + 30 + nameLen + extraLen, mime, std::min<size_t>(Le32(local + 18), 63));
    const std::string m = mime;
    if (m == "application/vnd.oasis.opendocument.text") return "odt";
    if (m == "application/vnd.oasis.opendocument.spreadsheet") return "ods";
    if (m == "application/vnd.oasis.opendocument.presentation") return "odp";
    if (m == "application/epub+zip") return "epub";
    return "zip";
  }
  // Office Open XML: the central directory names the part folders.
  if (cdSize > 16 * kMiB) return "zip";
  std::vector<uint8_t> cd(static_cast<size_t>(cdSize));
  if (!s.Read(at + cdOffset, cd.data(), cd.size())) return "zip";
  bool contentTypes = false;
  std::string kind = "zip";
  for (size_t p = 0; p + 46 <= cd.size() && Le32(&cd[p]) == 0x02014B50;) {
    const size_t n = Le16(&cd[p + 28]), e = Le16(&cd[p + 30]), c = Le16(&cd[p + 32]);
    if (p + 46 + n > cd.size()) break;
    const std::string name(reinterpret_cast<const char*>(&cd[p + 46]), n);
    if (name == "[Content_Types].xml") contentTypes = true;
    if (name.compare(0, 5, "word/") == 0) kind = "docx";
    else if (name.compare(0, 3, "xl/") == 0) kind = "xlsx";
    else if (name.compare(0, 4, "ppt/") == 0) kind = "pptx";
    else if (name == "META-INF/MANIFEST.MF" && kind == "zip") kind = "jar";
    p += 46 + n + e + c;
  }
  if (kind == "jar") return "jar";
  return contentTypes ? kind : "zip";
}

bool Zip(const CarveSource& s, uint64_t at, CarvedFile& out)
{
  const uint64_t limit = std::min(s.Size(), at + kMaxZip);
  for (uint64_t from = at + 30;;) {
    const uint64_t e = s.Find(from, limit, "PK\x05\x06", 4);
    if (e == UINT64_MAX) return false;
    from = e + 1;
    uint8_t r[22];
    if (!s.Read(e, r, 22)) return false;
    uint64_t cdSize = Le32(r + 12), cdOffset = Le32(r + 16);
    if (cdOffset == 0xFFFFFFFFu || cdSize == 0xFFFFFFFFu) {
      // ZIP64: the locator before the end record names the 64-bit end record.
      uint8_t loc[20], rec[56];
      if (e < at + 20 || !s.Read(e - 20, loc, 20) || Le32(loc) != 0x07064B50) continue;
      const uint64_t rec64 = Le64(loc + 8);
      if (!s.Read(at + rec64, rec, 56) || Le32(rec) != 0x06064B50) continue;
      cdSize = Le64(rec + 40);
      cdOffset = Le64(rec + 48);
      if (cdOffset + cdSize != rec64) continue;
    } else if (cdOffset + cdSize != e - at) {
      continue;  // an end record of some other archive, or bytes that only look like one
    }
    out.length = e + 22 + Le16(r + 20) - at;
    out.extension = ZipKind(s, at, cdOffset, cdSize);
    return at + out.length <= s.Size();
  }
}

// ---- MPEG audio ----

// Length of the frame whose header is h, 0 when h is no layer II/III frame header;
// the version/layer/rate bits go to key for comparing frames.
uint32_t MpegFrame(const uint8_t* h, uint32_t& key)
{
  static const uint16_t kRates1[3][16] = {
      {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, 0},
      {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0},
      {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0}};
  static const uint16_t kRates2[16] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0};
  static const uint32_t kSampleRates[4] = {44100, 48000, 32000, 0};
  if (h[0] != 0xFF || (h[1] & 0xE0) != 0xE0) return 0;
  const int version = (h[1] >> 3) & 3;  // 0 MPEG 2.5, 2 MPEG 2, 3 MPEG 1
  const int layer = (h[1] >> 1) & 3;    // 1 III, 2 II, 3 I
  const int rateIndex = h[2] >> 4, srIndex = (h[2] >> 2) & 3, pad = (h[2] >> 1) & 1;
  if (version == 1 || (layer != 1 && layer != 2) || rateIndex == 0 || rateIndex == 15 || srIndex == 3) return 0;
  uint32_t rate = version == 3 ? kRates1[3 - layer][rateIndex] : kRates2[rateIndex];
  uint32_t sr = kSampleRates[srIndex] >> (version == 3 ? 0 : version == 2 ? 1 : 2);
  key = uint32_t(h[1]) << 8 | (h[2] & 0x0C);
  const uint32_t factor = (layer == 1 && version != 3) ? 72 : 144;
  return factor * rate * 1000 / sr + uint32_t(pad);
}

bool Mp3(const CarveSource& s, uint64_t at, const uint8_t* h, CarvedFile& out)
{
  uint64_t pos = at;
  int needed = 8;  // bare frames: this many in a row before it counts as audio
  if (memcmp(h, "ID3", 3) == 0) {
    if (h[3] > 4 || (h[6] | h[7] | h[8] | h[9]) & 0x80) return false;
    pos += 10 + (uint64_t(h[6]) << 21 | uint64_t(h[7]) << 14 | uint64_t(h[8]) << 7 | h[9]);
    if (h[5] & 0x10) pos += 10;
    needed = 2;
  }
  const uint64_t limit = std::min(s.Size(), at + kMaxStream);
  uint32_t firstKey = 0;
  int frames = 0;
  uint8_t f[4];
  while (pos + 4 <= limit && s.Read(pos, f, 4)) {
    uint32_t key = 0;
    const uint32_t len = MpegFrame(f, key);
    if (len == 0 || (frames > 0 && key != firstKey) || pos + len > limit) break;
    if (frames == 0) firstKey = key;
    ++frames;
    pos += len;
  }
  if (frames < needed) return false;
  uint8_t tag[3];
  if (s.Read(pos, tag, 3) && memcmp(tag, "TAG", 3) == 0 && pos + 128 <= s.Size()) pos += 128;
  out.length = pos - at;
  out.extension = "mp3";
  return true;
}

// ---- ISO base media (MP4, MOV, 3GP) ----

bool TopLevelBox(const uint8_t* t)
{
  static const char* const kTypes[] = {"ftyp", "moov", "mdat", "free", "skip", "wide", "pnot", "uuid",
                                       "meta", "moof", "mfra", "pdin", "styp", "sidx", "junk", "PICT"};
  for (const char* k : kTypes)
    if (memcmp(t, k, 4) == 0) return true;
  return false;
}

bool IsoMedia(const CarveSource& s, uint64_t at, const uint8_t* h, CarvedFile& out)
{
  const uint64_t limit = std::min(s.Size(), at + kMaxStream);
  uint64_t pos = at;
  bool moov = false, mdat = false;
  uint8_t b[16];
  while (pos + 8 <= limit && s.Read(pos, b, 16) && TopLevelBox(b + 4)) {
    uint64_t size = Be32(b);
    if (size == 1) size = Be64(b + 8);
    if (size < 8 || pos + size > limit) break;
    moov = moov || memcmp(b + 4, "moov", 4) == 0;
    mdat = mdat || memcmp(b + 4, "mdat", 4) == 0;
    pos += size;
  }
  if (!moov || (!mdat && memcmp(h + 4, "ftyp", 4) != 0)) return false;
  out.length = pos - at;
  out.extension = "mov";
  if (memcmp(h + 4, "ftyp", 4) == 0) {
    const std::string brand(reinterpret_cast<const char*>(h + 8), 4);
    if (brand == "qt  ") out.extension = "mov";
    else if (brand == "M4A " || brand == "M4B ") out.extension = "m4a";
    else if (brand == "M4V ") out.extension = "m4v";
    else if (brand.compare(0, 3, "3gp") == 0) out.extension = "3gp";
    else if (brand.compare(0, 3, "3g2") == 0) out.extension = "3g2";
    else out.extension = "mp4";
  }
  return true;
}

// ---- Ogg ----

bool Ogg(const CarveSource& s, uint64_t at, CarvedFile& out)
{
  const uint64_t limit = std::min(s.Size(), at + kMaxStream);
  std::set<uint32_t> open;
  uint64_t pos = at;
  bool first = true;
  uint8_t page[27 + 255];
  while (pos + 27 <= limit && s.Read(pos, page, 27) && memcmp(page, "OggS", 4) == 0 && page[4] == 0) {
    const uint8_t flags = page[5];
    const uint32_t serial = Le32(page + 14);
    const uint8_t segments = page[26];
    if (!s.Read(pos + 27, page + 27, segments)) return false;
    uint64_t body = 0;
    for (int i = 0; i < segments; ++i) body += page[27 + i];
    if (first) {
      if (!(flags & 0x02)) return false;  // a stream starts with its first page
      uint8_t id[8] = {};
      s.Read(pos + 27 + segments, id, 8);
      out.extension = memcmp(id, "\x80theora", 7) == 0 ? "ogv" : memcmp(id, "OpusHead", 8) == 0 ? "opus" : "ogg";
    }
    if (flags & 0x02) {
      if (!first && open.empty()) break;  // the next file's first page
      open.insert(serial);
    }
    first = false;
    pos += 27 + segments + body;
    if (flags & 0x04) {
      open.erase(serial);
      if (open.empty()) break;
    }
  }
  if (first || pos > limit) return false;
  out.length = pos - at;
  return true;
}

// ---- MPEG program stream ----

bool MpegPs(const CarveSource& s, uint64_t at, CarvedFile& out)
{
  const uint64_t limit = std::min(s.Size(), at + kMaxStream);
  uint64_t pos = at;
  int packs = 0;
  uint8_t h[14];
  while (pos + 4 <= limit && s.Read(pos, h, 4) && h[0] == 0 && h[1] == 0 && h[2] == 1) {
    const uint8_t code = h[3];
    if (code == 0xB9) {
      pos += 4;
      break;
    }
    if (code == 0xBA) {
      if (!s.Read(pos, h, 14)) break;
      if ((h[4] & 0xC0) == 0x40) pos += 14 + (h[13] & 7);
      else if ((h[4] & 0xF0) == 0x20) pos += 12;
      else break;
      ++packs;
    } else if (code >= 0xBB) {
      uint8_t len[2];
      if (!s.Read(pos + 4, len, 2)) break;
      pos += 6 + uint64_t(Be16(len));
    } else {
      break;
    }
  }
  if (packs < 2 || pos > limit) return false;
  out.length = pos - at;
  out.extension = "mpg";
  return true;
}

}  // namespace

bool CarveSource::Read(uint64_t offset, void* buffer, size_t length) const
{
  if (offset > m_size || length > m_size - offset) return false;
  if (length > kWindow / 2) return m_read(offset, buffer, length) == length;
  if (offset < m_windowAt || offset + length > m_windowAt + m_windowBytes) {
    m_window.resize(kWindow);
    m_windowAt = offset / 4096 * 4096;
    m_windowBytes = m_read(m_windowAt, m_window.data(), size_t(std::min<uint64_t>(kWindow, m_size - m_windowAt)));
    if (offset + length > m_windowAt + m_windowBytes) return false;
  }
  memcpy(buffer, m_window.data() + size_t(offset - m_windowAt), length);
  return true;
}

uint64_t CarveSource::Find(uint64_t from, uint64_t limit, const void* pattern, size_t length) const
{
  limit = std::min(limit, m_size);
  const uint8_t* pat = static_cast<const uint8_t*>(pattern);
  std::vector<uint8_t> block(1 << 20);
  while (from + length <= limit) {
    const size_t want = size_t(std::min<uint64_t>(block.size(), limit - from));
    const size_t got = m_read(from, block.data(), want);
    if (got < length) return UINT64_MAX;
    for (size_t i = 0; i + length <= got; ++i) {
      const void* hit = memchr(block.data() + i, pat[0], got - length + 1 - i);
      if (!hit) break;
      i = size_t(static_cast<const uint8_t*>(hit) - block.data());
      if (memcmp(block.data() + i, pat, length) == 0) return from + i;
    }
    from += got - length + 1;
  }
  return UINT64_MAX;
}

bool LooksLikeHeader(const uint8_t* h, size_t n)
{
  if (n < 16) return false;
  switch (h[0]) {
  case 0xFF: return (h[1] == 0xD8 && h[2] == 0xFF) || (h[1] & 0xE0) == 0xE0;
  case 0x89: return Has(h, n, "\x89PNG\r\n\x1A\n");
  case 'G': return Has(h, n, "GIF87a") || Has(h, n, "GIF89a");
  case 'B': return Has(h, n, "BM");
  case '%': return Has(h, n, "%PDF-");
  case 'P': return Has(h, n, "PK\x03\x04");
  case 'I': return Has(h, n, "ID3");
  case 'R': return Has(h, n, "RIFF");
  case 'O': return Has(h, n, "OggS");
  case 0: return (h[1] == 0 && h[2] == 1 && h[3] == 0xBA) || Has(h, n, "ftyp", 4) || Has(h, n, "moov", 4);
  default: return Has(h, n, "ftyp", 4) || Has(h, n, "moov", 4) || Has(h, n, "mdat", 4);
  }
}

bool CarveAt(const CarveSource& s, uint64_t at, const uint8_t* h, size_t n, CarvedFile& out)
{
  if (n < 32 || !LooksLikeHeader(h, n)) return false;
  out = CarvedFile();
  bool ok = false;
  if (h[0] == 0xFF && h[1] == 0xD8) ok = Jpeg(s, at, out);
  else if (h[0] == 0xFF || Has(h, n, "ID3")) ok = Mp3(s, at, h, out);
  else if (h[0] == 0x89) ok = Png(s, at, out);
  else if (h[0] == 'G') ok = Gif(s, at, out);
  else if (Has(h, n, "BM")) ok = Bmp(s, at, h, out);
  else if (h[0] == '%') ok = Pdf(s, at, out);
  else if (h[0] == 'P') ok = Zip(s, at, out);
  else if (h[0] == 'R') ok = Riff(s, at, h, out);
  else if (h[0] == 'O') ok = Ogg(s, at, out);
  else if (h[0] == 0 && h[1] == 0 && h[2] == 1 && h[3] == 0xBA) ok = MpegPs(s, at, out);
  else ok = IsoMedia(s, at, h, out);
  return ok && out.length > 0;
}

}  // namespace qvtd
