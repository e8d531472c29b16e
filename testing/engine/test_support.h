#pragma once
// Small helpers shared by the engine's unit tests.
#include <windows.h>

#include <mutex>
#include <ostream>
#include <string>
#include <vector>

#include "InstallEvents.h"

#include "Utils.h"

namespace testsupport {

// A fresh folder under the temporary folder, removed with its files at the end.
class TempFolder {
public:
    explicit TempFolder(const std::wstring& leaf = L"engine-test");
    ~TempFolder();
    const std::wstring& Path() const { return m_path; }
    std::wstring File(const std::wstring& name) const { return m_path + L"\\" + name; }

private:
    std::wstring m_path;
};

// One event as a runner raised it, and a receiver that keeps them in order.
struct Event {
    int code;
    double value;
    std::wstring text;
    bool operator==(const Event& o) const { return code == o.code && value == o.value && text == o.text; }
};
inline std::ostream& operator<<(std::ostream& os, const Event& e)
{
    return os << "{" << e.code << ", " << e.value << ", \"" << Utils::WideToMultiByte(e.text, CP_UTF8) << "\"}";
}

struct Recorder {
    std::mutex lock;
    std::vector<Event> events;
    InstallEventCallback Callback()
    {
        return [this](int c, double v, const wchar_t* t) {
            std::lock_guard<std::mutex> g(lock);
            events.push_back({c, v, t ? t : L"<null text>"});
        };
    }
};

bool WriteFileBytes(const std::wstring& path, const std::string& bytes);
std::string ReadFileBytes(const std::wstring& path);
// The folder of the running test program (the build's bin folder).
std::wstring ProgramFolder();

}  // namespace testsupport
