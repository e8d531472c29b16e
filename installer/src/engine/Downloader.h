#pragma once
// Package downloaders: the common base, the digest rules they share, and the
// single-stream libcurl downloader.
#include <memory>
#include <string>

#include "CurlClient.h"
#include "InstallEvents.h"
#include "Thread.h"

// The check of a finished package against the digest carried in its address.
enum class DigestCheck { NoDigest, Match, Mismatch };
// expected: the address's digest segment (NoDigest unless it has 32 characters); a
// package that cannot be read never matches. Hexadecimal digits match in either case.
DigestCheck CheckPackageDigest(const std::string& expected, const std::wstring& packagePath);

// The digest a package must have: the segment before the file name in the path of the
// address the installer was given (query and fragment left out), so that neither a
// redirect nor a "/" in a query can take the check away; else that of the address
// after redirects.
std::string ExpectedDigest(const std::string& givenUrl, const std::string& effectiveUrl);

class CDownloader {
public:
    virtual ~CDownloader() = default;
    // Starts (or restarts) the download on a worker; returns at once.
    virtual void Start() = 0;
};

class CCurlDownloader : public CDownloader {
public:
    static constexpr int kRetryBudget = 12;
    static constexpr DWORD kRetryPauseMs = 500;

    CCurlDownloader(InstallEventCallback handler, const std::wstring& url, const std::wstring& targetPath);
    ~CCurlDownloader() override;

    void Start() override;
    const CurlClient& Client() const { return m_client; }

    // Budget cost of one failed try: a partial transfer is resumed and costs less.
    static int FailureCost(int code) { return code == 18 ? 1 : 2; }

private:
    void dlThreadFun();
    void OnProgress(double speed, double percent);
    void Raise(int code, double value, const wchar_t* text) { if (m_handler) m_handler(code, value, text); }

    InstallEventCallback m_handler;
    std::wstring m_targetPath;
    std::wstring m_url;
    CurlClient m_client;
    std::unique_ptr<Utils::Thread> m_worker;
    // A worker that restarted the download from its own event; joined later.
    std::unique_ptr<Utils::Thread> m_retired;
    bool m_retriedOnce = false;
};
