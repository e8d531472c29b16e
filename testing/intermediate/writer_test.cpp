// The recovery's writer thread: every piece lands in order, and a failed write is
// reported, however the pieces fall on its buffers.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "BackgroundWriter.h"

namespace {

std::wstring TempFile(const wchar_t* name) {
  wchar_t folder[MAX_PATH];
  GetTempPathW(MAX_PATH, folder);
  return std::wstring(folder) + name;
}

std::string ReadBack(const std::wstring& path) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  std::string data;
  if (file == INVALID_HANDLE_VALUE) return data;
  std::vector<char> buffer(1 << 16);
  DWORD got = 0;
  while (ReadFile(file, buffer.data(), DWORD(buffer.size()), &got, nullptr) && got > 0) data.append(buffer.data(), got);
  CloseHandle(file);
  return data;
}

TEST(BackgroundWriter, WritesEveryPieceInOrderWhateverTheirSizes) {
  const std::wstring path = TempFile(L"writer-order.bin");
  // Pieces smaller than, equal to and larger than a buffer, ending part-way into one.
  const std::vector<size_t> sizes = {1, 4095, (1u << 20) - 4096, 1u << 20, (3u << 20) + 3, 7, 0, 5000};
  std::string expected;
  for (size_t i = 0; i < sizes.size(); ++i)
    for (size_t j = 0; j < sizes[i]; ++j) expected.push_back(char((i * 131 + j * 7) & 0xFF));
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  {
    CBackgroundWriter writer(file);
    size_t at = 0;
    for (size_t size : sizes) {
      ASSERT_EQ(writer.Write(reinterpret_cast<const uint8_t*>(expected.data()) + at, size), 0);
      at += size;
    }
    EXPECT_EQ(writer.Finish(), 0);
    // After the end, writes go straight to the file, still in order.
    EXPECT_EQ(writer.Write(reinterpret_cast<const uint8_t*>("tail"), 4), 0);
  }
  CloseHandle(file);
  expected += "tail";
  const std::string got = ReadBack(path);
  EXPECT_EQ(got.size(), expected.size());
  EXPECT_TRUE(got == expected);
  DeleteFileW(path.c_str());
}

TEST(BackgroundWriter, ReportsTheFailedWriteToTheCallerAndAtTheEnd) {
  const std::wstring path = TempFile(L"writer-fail.bin");
  HANDLE made = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(made, INVALID_HANDLE_VALUE);
  CloseHandle(made);
  // Opened for reading only: every write fails.
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  const std::vector<uint8_t> piece(1u << 20, 0x5A);
  {
    CBackgroundWriter writer(file);
    int32_t result = 0;
    // The thread meets the failure on the first buffer; a later Write or the end says so.
    for (int i = 0; i < 8 && result == 0; ++i) result = writer.Write(piece.data(), piece.size());
    const int32_t end = writer.Finish();
    EXPECT_EQ(end, -int32_t(ERROR_ACCESS_DENIED));
    EXPECT_TRUE(result == 0 || result == end);
  }
  {
    // A piece that never fills a buffer fails at the end too.
    CBackgroundWriter writer(file);
    EXPECT_EQ(writer.Write(piece.data(), 10), 0);
    EXPECT_EQ(writer.Finish(), -int32_t(ERROR_ACCESS_DENIED));
  }
  CloseHandle(file);
  DeleteFileW(path.c_str());
}

}  // namespace
