// Wide to narrow text conversion for the console, the core's log and SQLite.
#include "TextConvert.h"

#include <cwchar>

std::string NarrowText(const wchar_t* text, UINT codePage, size_t maxChars) {
  if (!text) return std::string();
  const int length = int(wcsnlen(text, maxChars));
  if (length == 0) return std::string();
  const int bytes = ::WideCharToMultiByte(codePage, 0, text, length, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return std::string();
  std::string out(size_t(bytes), '\0');
  ::WideCharToMultiByte(codePage, 0, text, length, &out[0], bytes, nullptr, nullptr);
  return out;
}
