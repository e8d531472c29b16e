// The shared run of a console program whose output lines the engine reads.
#include "LineRunner.h"

#include "ProcessRunner.h"
#include "Trace.h"
#include "Utils.h"

bool CChildLineRunner::Wait(DWORD timeoutMs)
{
    if (!m_worker || !m_worker->Handle()) return true;
    if (::WaitForSingleObject(m_worker->Handle(), timeoutMs) != WAIT_OBJECT_0) return false;
    m_worker->Join();
    return true;
}

int CChildLineRunner::Parse(const std::wstring& text)
{
    int result = kGoOn;
    size_t from = 0;
    while (from <= text.size()) {
        const size_t lf = text.find(L'\n', from);
        const int r = ParseLine(text.substr(from, lf == std::wstring::npos ? std::wstring::npos : lf - from));
        if (r != kGoOn && result == kGoOn) result = r;
        if (lf == std::wstring::npos) break;
        from = lf + 1;
    }
    return result;
}

void CChildLineRunner::StartWorker(const wchar_t* name)
{
    m_worker.reset();
    m_worker.reset(new Utils::Thread(this, name, [](void* self) { static_cast<CChildLineRunner*>(self)->Run(); }));
    m_worker->Resume();
}

bool CChildLineRunner::RunChild(const std::wstring& commandLine, const wchar_t* operation, int& result,
                                DWORD& exitCode)
{
    std::unique_ptr<ProcessRunner> child;
    try {
        child.reset(new ProcessRunner());
        child->Start(commandLine);
    } catch (const std::exception&) {
        TraceLine(operation, __LINE__, L"cannot start: %ls", commandLine.c_str());
        return false;
    }
    m_codePage = 0;
    m_final = FinalEvent();
    result = kGoOn;
    exitCode = child->ReadLinesToEnd([&](const std::string& bytes) {
        // Decoded whole, up to a NUL byte, with the code page in force; only the first
        // final line counts, so that two final lines can never both act.
        const std::wstring line = Utils::MultiByteToWide(std::string(bytes.c_str()), m_codePage);
        if (result == kGoOn)
            result = ParseLine(line);
        else
            TraceLine(operation, __LINE__, L"after the final line: %ls", line.c_str());
    });
    child->CloseHandles();
    TraceLine(operation, __LINE__, L"ended, exit code %lu", static_cast<unsigned long>(exitCode));
    return true;
}
