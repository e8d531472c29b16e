// The core's log: one line per call, "level<TAB>source<TAB>function<TAB>line<TAB>message",
// appended to QVTD_LOG or "qvtdserver.log" beside the DLL.
#include <windows.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <wchar.h>
#include <string>

#include "Core.h"
#include "Disk.h"
#include "Handles.h"

namespace qvtd {

namespace {

constexpr size_t kMaxMessage = 4096;

// Several processes (test programs run side by side) append to one log, and Wine's
// append is not atomic between processes: a mutex named after the path orders them.
class LogFileLock {
public:
  explicit LogFileLock(const std::string& path)
  {
    uint32_t hash = 2166136261u;
    for (char c : path) hash = (hash ^ uint8_t(c >= 'A' && c <= 'Z' ? c + 32 : c)) * 16777619u;
    char name[64];
    snprintf(name, sizeof(name), "qvtdserver-log-%08x", hash);
    m_mutex.Reset(CreateMutexA(nullptr, FALSE, name));
    if (m_mutex) {
      const DWORD r = WaitForSingleObject(m_mutex.Get(), 10000);
      m_held = r == WAIT_OBJECT_0 || r == WAIT_ABANDONED;
    }
  }
  ~LogFileLock()
  {
    if (m_held) ReleaseMutex(m_mutex.Get());
  }
  LogFileLock(const LogFileLock&) = delete;
  LogFileLock& operator=(const LogFileLock&) = delete;

private:
  UniqueHandle m_mutex;
  bool m_held = false;
};

// Keeps every message on its own line.
void Flatten(std::string& s)
{
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
  for (char& c : s)
    if (c == '\n' || c == '\r') c = ' ';
}

}  // namespace

std::string LogPath()
{
  char value[MAX_PATH * 2] = {};
  DWORD n = GetEnvironmentVariableA("QVTD_LOG", value, DWORD(sizeof(value)));
  if (n > 0 && n < sizeof(value)) return std::string(value, n);
  return Core::ModuleFolder() + "qvtdserver.log";
}

bool AppendLogLine(int level, const char* source, const char* function, int line, std::string message)
{
  Flatten(message);
  char head[64];
  snprintf(head, sizeof(head), "%d\t", level);
  std::string text = head;
  text += source ? source : "";
  text += '\t';
  text += function ? function : "";
  snprintf(head, sizeof(head), "\t%d\t", line);
  text += head;
  text += message;
  text += "\r\n";
  const std::string path = LogPath();
  LogFileLock held(path);
  UniqueFile f(CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!f) return false;
  DWORD written = 0;
  return WriteFile(f.Get(), text.data(), DWORD(text.size()), &written, nullptr) && written == text.size();
}

std::string FormatV(const char* format, va_list args)
{
  if (!format) return std::string();
  char buf[kMaxMessage];
  int n = vsnprintf(buf, sizeof(buf), format, args);
  if (n < 0) return std::string();
  return std::string(buf, size_t(n) < sizeof(buf) ? size_t(n) : sizeof(buf) - 1);
}

std::string FormatWV(const wchar_t* format, va_list args)
{
  if (!format) return std::string();
  wchar_t buf[kMaxMessage];
  // The Microsoft runtime's rules: %s is a wide string in a wide format.
  int n = _vsnwprintf(buf, kMaxMessage - 1, format, args);
  if (n < 0) n = int(wcsnlen(buf, kMaxMessage - 1));  // truncated
  buf[n] = L'\0';
  int bytes = WideCharToMultiByte(CP_UTF8, 0, buf, n, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return std::string();
  std::string out(size_t(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, buf, n, &out[0], bytes, nullptr, nullptr);
  return out;
}

void CoreLog(int level, const char* function, int line, const char* format, ...)
{
  va_list args;
  va_start(args, format);
  std::string message = FormatV(format, args);
  va_end(args);
  AppendLogLine(level, "qvtdserver", function, line, message);
}

}  // namespace qvtd
