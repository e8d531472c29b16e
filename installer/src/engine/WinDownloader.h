#pragma once
// The system URL downloader: the package fetched by the system's URL download service,
// its progress followed through a bind-status callback object.
#include <windows.h>
#include <urlmon.h>

#include <atomic>
#include <memory>
#include <string>

#include "Downloader.h"

class CWinDownloader : public CDownloader {
public:
    static constexpr int kTries = 3;
    static constexpr DWORD kRetryPauseMs = 1000;

    // Receives the service's notifications; lives inside its downloader, so it counts no
    // references.
    class CBindCallback : public IBindStatusCallbackEx {
    public:
        CBindCallback() = default;
        ~CBindCallback();
        void SetHandler(InstallEventCallback handler) { m_handler = std::move(handler); }
        void Stop() { m_stop = true; }

        HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override { return E_NOTIMPL; }
        ULONG STDMETHODCALLTYPE AddRef() override { return 0; }
        ULONG STDMETHODCALLTYPE Release() override { return 0; }
        HRESULT STDMETHODCALLTYPE OnStartBinding(DWORD, IBinding* binding) override;
        HRESULT STDMETHODCALLTYPE GetPriority(LONG*) override { return E_NOTIMPL; }
        HRESULT STDMETHODCALLTYPE OnLowResource(DWORD) override { return E_NOTIMPL; }
        HRESULT STDMETHODCALLTYPE OnProgress(ULONG progress, ULONG progressMax, ULONG statusCode,
                                             LPCWSTR statusText) override;
        HRESULT STDMETHODCALLTYPE OnStopBinding(HRESULT, LPCWSTR) override { return E_NOTIMPL; }
        HRESULT STDMETHODCALLTYPE GetBindInfo(DWORD* flags, BINDINFO* info) override;
        HRESULT STDMETHODCALLTYPE OnDataAvailable(DWORD, DWORD, FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
        HRESULT STDMETHODCALLTYPE OnObjectAvailable(REFIID, IUnknown*) override { return E_NOTIMPL; }
        HRESULT STDMETHODCALLTYPE GetBindInfoEx(DWORD*, BINDINFO*, DWORD*, DWORD*) override { return E_NOTIMPL; }

    private:
        InstallEventCallback m_handler;
        std::atomic<bool> m_stop{false};
        IBinding* m_binding = nullptr;   // kept, not used
    };

    CWinDownloader(InstallEventCallback handler, const std::wstring& url, const std::wstring& targetPath);
    ~CWinDownloader() override;
    CWinDownloader(const CWinDownloader&) = delete;
    CWinDownloader& operator=(const CWinDownloader&) = delete;

    // Runs the download once per object.
    void Start() override;

    // What the service saved is a package only when it has a package's size and, where
    // the address carries one, its digest (the service saves an error page as it would
    // the file): S_OK, or the failure this try counts as.
    static HRESULT CheckSaved(const std::wstring& url, const std::wstring& path);

private:
    void Run();
    void Raise(int code, double value, const wchar_t* text)
    {
        if (m_handler && !m_cancelled) m_handler(code, value, text);
    }

    CBindCallback m_callback;
    InstallEventCallback m_handler;
    std::wstring m_targetPath;
    std::wstring m_url;
    bool m_started = false;
    std::atomic<bool> m_cancelled{false};
    std::unique_ptr<Utils::Thread> m_worker;
};
