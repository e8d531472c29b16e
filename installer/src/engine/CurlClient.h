#pragma once
// One file download over HTTP with libcurl's easy interface: probes for the address
// after redirects and the length, then a resumable transfer into "<target>.part".
#include <curl/curl.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <functional>
#include <string>

class CurlClient {
public:
    // The client's own results besides libcurl's codes.
    static constexpr int kNoLength = -998;       // length not announced or below 1 MiB
    static constexpr int kNoHandle = -997;       // no easy handle
    static constexpr int kPartNotOpened = -996;  // the part file cannot be opened
    static constexpr int kNotRenamed = -995;     // the finished part file could not be moved into place
    static constexpr double kMinLength = 1048576.0;
    // A redirect loop must end: more hops than this fail with libcurl's own code.
    static constexpr long kMaxRedirects = 30;
    // A probe that gets no answer at all ends within this time.
    static constexpr long kProbeTimeoutSeconds = 30;

    // (speed in bytes per second, percent done)
    using ProgressEntry = std::function<void(double speed, double percent)>;

    CurlClient(const std::wstring& url, const std::wstring& targetPath, ProgressEntry progress);
    ~CurlClient();
    CurlClient(const CurlClient&) = delete;
    CurlClient& operator=(const CurlClient&) = delete;

    // One try: 0, a libcurl code or one of the codes above.
    int Start();

    // result (when given) receives the request's libcurl code.
    CURL* Head(const std::string& url, int* result = nullptr);
    double GetDownloadFileLength(CURL* handle);
    static std::string EffectiveUrlOf(CURL* handle);
    std::string GetRealUrl_Str(const std::string& url);
    double GetDownloadFileLength_Str(const std::string& url);

    const std::string& EffectiveUrl() const { return m_effectiveUrl; }
    double Length() const { return m_length; }
    int64_t ResumeOffset() const { return m_resumeOffset; }
    const std::wstring& ErrorText() const { return m_errorText; }
    std::wstring PartPath() const { return m_targetPath + L".part"; }
    // The URL as libcurl takes it: UTF-8, or the ANSI code page for "file:///"; blanks
    // and control characters, which libcurl would refuse, are percent-escaped.
    static std::string CurlUrlText(const std::wstring& url);
    // Limits every request of the installer shares: redirects, connection, stall, and
    // TLS peer and host verification kept on (the installer runs elevated).
    static CURLcode SetRequestLimits(CURL* handle, long lowSpeedSeconds);

private:
    static size_t WritePart(char* data, size_t size, size_t count, void* file);
    static size_t Discard(char* data, size_t size, size_t count, void* self);
    static int ProgressCallback(void* self, curl_off_t total, curl_off_t now, curl_off_t, curl_off_t);
    static CURLcode SetProbeOptions(CURL* handle, const std::string& url, bool followRedirects);
    // The probe of Start: effective address and length; the transfer error of a probe
    // that got no answer (0 when it got one).
    int Probe(const std::string& url);

    std::wstring m_url;
    std::wstring m_targetPath;
    ProgressEntry m_progress;
    CURL* m_handle = nullptr;
    double m_length = -1.0;
    int64_t m_resumeOffset = -1;
    int64_t m_lastProgressSecond = 0;
    std::atomic<bool> m_stop{false};
    std::wstring m_errorText;
    std::string m_effectiveUrl;
};
