// The system URL downloader: up to three tries of the system's URL download, each result
// checked for a package's size and digest, progress from the bind-status callback.
#include "WinDownloader.h"

#include "CurlClient.h"
#include "Trace.h"
#include "Utils.h"

CWinDownloader::CBindCallback::~CBindCallback()
{
    m_stop = true;
    m_handler = nullptr;
}

HRESULT CWinDownloader::CBindCallback::OnStartBinding(DWORD, IBinding* binding)
{
    m_binding = binding;
    return E_NOTIMPL;
}

HRESULT CWinDownloader::CBindCallback::OnProgress(ULONG progress, ULONG progressMax, ULONG, LPCWSTR)
{
    if (m_stop) return E_ABORT;
    // A reply without a length (chunked) reports a maximum of 0: nothing to show.
    if (progressMax == 0) return S_OK;
    if (m_handler) m_handler(EVT_DL_PROGRESS, double(uint32_t(progress)) / double(uint32_t(progressMax)), L"");
    return S_OK;
}

HRESULT CWinDownloader::CBindCallback::GetBindInfo(DWORD*, BINDINFO* info)
{
    if (info) info->dwCodePage = CP_UTF8;
    return E_NOTIMPL;
}

CWinDownloader::CWinDownloader(InstallEventCallback handler, const std::wstring& url, const std::wstring& targetPath)
    : m_handler(std::move(handler)), m_targetPath(targetPath), m_url(url)
{
    m_worker.reset(new Utils::Thread(this, L"ABDEF", [](void* self) { static_cast<CWinDownloader*>(self)->Run(); }));
}

CWinDownloader::~CWinDownloader()
{
    // A transfer in progress aborts at its next notification; no further try follows.
    m_cancelled = true;
    m_callback.Stop();
    if (!m_started && m_worker) m_worker->Resume();   // else it would be waited for forever
    m_worker.reset();
}

void CWinDownloader::Start()
{
    if (m_started) return;
    m_started = true;
    m_callback.SetHandler(m_handler);
    if (m_worker) m_worker->Resume();
}

HRESULT CWinDownloader::CheckSaved(const std::wstring& url, const std::wstring& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return INET_E_DOWNLOAD_FAILURE;
    const uint64_t size = uint64_t(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
    if (double(size) < CurlClient::kMinLength) return INET_E_DOWNLOAD_FAILURE;
    if (CheckPackageDigest(ExpectedDigest(CurlClient::CurlUrlText(url), ""), path) == DigestCheck::Mismatch)
        return INET_E_DOWNLOAD_FAILURE;
    return S_OK;
}

void CWinDownloader::Run()
{
    if (m_cancelled) return;
    const HRESULT com = ::CoInitialize(nullptr);
    Raise(EVT_DL_START, 1.0, L"");
    if (m_targetPath.empty()) {
        Raise(EVT_DL_FAIL, 1.0, L"");
        if (SUCCEEDED(com)) ::CoUninitialize();
        return;
    }
    const std::wstring address = Utils::StartsWith(m_url, L"file:///") ? m_url : Utils::UrlEncodeWide(m_url);
    HRESULT hr = E_FAIL;
    for (int attempt = 1; attempt <= kTries && !m_cancelled; ++attempt) {
        hr = ::URLDownloadToFileW(nullptr, address.c_str(), m_targetPath.c_str(), 0, &m_callback);
        if (SUCCEEDED(hr)) {
            hr = CheckSaved(m_url, m_targetPath);
            if (FAILED(hr)) {
                TraceLine(L"CWinDownloader::Run", __LINE__, L"saved file is no package");
                ::DeleteFileW(m_targetPath.c_str());
            }
        }
        if (SUCCEEDED(hr)) {
            Raise(EVT_DL_SUCCESS, 0, L"URLDownloadToFile");
            break;
        }
        TraceLine(L"CWinDownloader::Run", __LINE__, L"URLDownloadToFile 0x%08lx", (unsigned long)hr);
        if (m_cancelled) break;
        ::Sleep(kRetryPauseMs);
        if (attempt == kTries) Raise(EVT_DL_FAIL, double(int32_t(hr)), L"URLDownloadToFile");
    }
    if (SUCCEEDED(com)) ::CoUninitialize();
}
