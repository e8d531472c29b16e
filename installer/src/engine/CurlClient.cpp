// The HTTP client of the single-stream road: probes, the resumable transfer into the
// part file, progress, and the move of the finished file into place.
#include "CurlClient.h"

#include <windows.h>

#include <cerrno>
#include <cstring>
#include <cwchar>

#include "Trace.h"
#include "Utils.h"

namespace {
// A transfer slower than 1 byte per second for this long fails the try (and is retried).
constexpr long kLowSpeedLimit = 1;
constexpr long kLowSpeedSeconds = 10;
constexpr long kConnectTimeoutSeconds = 60;
constexpr long kReceiveBuffer = 256 * 1024;
constexpr size_t kPartFileBuffer = 1024 * 1024;

struct CurlSlist {
    curl_slist* list = nullptr;
    ~CurlSlist() { curl_slist_free_all(list); }
};

std::wstring CurlErrorText(int code)
{
    if (code >= 0) return Utils::MultiByteToWide(curl_easy_strerror(CURLcode(code)), CP_UTF8);
    switch (code) {
    case CurlClient::kNoLength: return L"length not announced or below 1 MiB";
    case CurlClient::kNoHandle: return L"no libcurl handle";
    case CurlClient::kPartNotOpened: return L"part file cannot be opened";
    case CurlClient::kNotRenamed: return L"part file cannot be renamed";
    default: return L"unknown";
    }
}

bool FileSize(const std::wstring& path, int64_t& size)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return false;
    size = int64_t(uint64_t(data.nFileSizeHigh) << 32 | data.nFileSizeLow);
    return true;
}
}  // namespace

CurlClient::CurlClient(const std::wstring& url, const std::wstring& targetPath, ProgressEntry progress)
    : m_url(url), m_targetPath(targetPath), m_progress(std::move(progress))
{
}

CurlClient::~CurlClient()
{
    m_stop = true;
    ::DeleteFileW(PartPath().c_str());
}

std::string CurlClient::CurlUrlText(const std::wstring& url)
{
    if (Utils::StartsWith(url, L"file:///")) return Utils::WideToMultiByte(url, CP_ACP);
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : Utils::WideToMultiByte(url, CP_UTF8)) {
        if (c <= 0x20 || c == 0x7F) {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        } else {
            out += char(c);
        }
    }
    return out;
}

CURLcode CurlClient::SetRequestLimits(CURL* handle, long lowSpeedSeconds)
{
    CURLcode rc = curl_easy_setopt(handle, CURLOPT_MAXREDIRS, kMaxRedirects);
    if (rc == CURLE_OK) rc = curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT, kConnectTimeoutSeconds);
    if (rc == CURLE_OK) rc = curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    if (rc == CURLE_OK) rc = curl_easy_setopt(handle, CURLOPT_LOW_SPEED_LIMIT, kLowSpeedLimit);
    if (rc == CURLE_OK) rc = curl_easy_setopt(handle, CURLOPT_LOW_SPEED_TIME, lowSpeedSeconds);
    if (rc == CURLE_OK) rc = curl_easy_setopt(handle, CURLOPT_SSL_VERIFYPEER, 1L);
    if (rc == CURLE_OK) rc = curl_easy_setopt(handle, CURLOPT_SSL_VERIFYHOST, 2L);
    return rc;
}

size_t CurlClient::WritePart(char* data, size_t size, size_t count, void* file)
{
    return std::fwrite(data, size, count, static_cast<FILE*>(file)) * size;
}

size_t CurlClient::Discard(char*, size_t size, size_t count, void*) { return size * count; }

int CurlClient::ProgressCallback(void* selfPtr, curl_off_t total, curl_off_t now, curl_off_t, curl_off_t)
{
    auto* self = static_cast<CurlClient*>(selfPtr);
    if (self->m_stop) return 1;
    int64_t second = int64_t(std::time(nullptr));
    if (second <= self->m_lastProgressSecond) return 0;
    self->m_lastProgressSecond = second;

    curl_off_t speed = 0;
    if (self->m_handle) curl_easy_getinfo(self->m_handle, CURLINFO_SPEED_DOWNLOAD_T, &speed);
    double percent = 0;
    if (self->m_length > kMinLength) {
        double resumed = self->m_resumeOffset > 0 ? double(self->m_resumeOffset) : 0.0;
        percent = (double(now) + resumed) / self->m_length * 100.0;
    } else {
        if (total <= 0 || now <= 0) return 0;
        percent = double(now) * 100.0 / double(total);
    }
    if (percent != 0 && self->m_progress) self->m_progress(double(speed), percent);
    if (total != 0)
        TraceLine(L"CurlClient::ProgressCallback", __LINE__, L" %lldM %lldM   progress:%f%%  speed:%f \n",
                  static_cast<long long>(now / 1048576), static_cast<long long>(total / 1048576), percent,
                  double(speed) / 1024.0);
    return 0;
}

// A HEAD request with the limits of every request and a time limit of its own; the length probe
// reads the headers of the address as given, the others follow redirects.
CURLcode CurlClient::SetProbeOptions(CURL* h, const std::string& url, bool followRedirects)
{
    CURLcode rc = curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    if (rc == CURLE_OK) rc = curl_easy_setopt(h, CURLOPT_NOBODY, 1L);
    if (rc == CURLE_OK) rc = curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &CurlClient::Discard);
    if (rc == CURLE_OK && followRedirects) rc = curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
    if (rc == CURLE_OK && !followRedirects) rc = curl_easy_setopt(h, CURLOPT_HEADER, 1L);
    if (rc == CURLE_OK) rc = SetRequestLimits(h, kLowSpeedSeconds);
    if (rc == CURLE_OK) rc = curl_easy_setopt(h, CURLOPT_TIMEOUT, kProbeTimeoutSeconds);
    return rc;
}

CURL* CurlClient::Head(const std::string& url, int* result)
{
    CURL* h = curl_easy_init();
    if (!h) return nullptr;
    CURLcode rc = SetProbeOptions(h, url, true);
    if (rc == CURLE_OK) {
        rc = curl_easy_perform(h);
        if (rc != CURLE_OK)
            TraceLine(L"CurlClient::Head", __LINE__, L"error:%d:%ls", int(rc), CurlErrorText(rc).c_str());
    }
    TraceLine(L"CurlClient::Head", __LINE__, L"error:%d:%ls", int(rc), CurlErrorText(rc).c_str());
    if (result) *result = int(rc);
    return h;
}

double CurlClient::GetDownloadFileLength(CURL* handle)
{
    curl_off_t length = -1;
    CURLcode rc = curl_easy_getinfo(handle, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
    TraceLine(L"CurlClient::GetDownloadFileLength", __LINE__, L"error:%d:%ls", int(rc), CurlErrorText(rc).c_str());
    if (rc != CURLE_OK) return -1.0;
    long status = 0;
    if (curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status) != CURLE_OK || status < 200 || status > 399)
        return -1.0;
    return length < 0 ? -1.0 : double(length);
}

std::string CurlClient::EffectiveUrlOf(CURL* handle)
{
    char* url = nullptr;
    if (curl_easy_getinfo(handle, CURLINFO_EFFECTIVE_URL, &url) != CURLE_OK || !url) return std::string();
    return url;
}

std::string CurlClient::GetRealUrl_Str(const std::string& url)
{
    CURL* h = curl_easy_init();
    if (!h) return url;
    std::string effective;
    CURLcode rc = SetProbeOptions(h, url, true);
    if (rc == CURLE_OK) {
        rc = curl_easy_perform(h);
        if (rc != CURLE_OK)
            TraceLine(L"CurlClient::GetRealUrl_Str", __LINE__, L"error:%d:%ls", int(rc), CurlErrorText(rc).c_str());
        else
            effective = EffectiveUrlOf(h);
    }
    curl_easy_cleanup(h);
    return effective.empty() ? url : effective;
}

double CurlClient::GetDownloadFileLength_Str(const std::string& url)
{
    CURL* h = curl_easy_init();
    if (!h) return -1.0;
    double length = -1.0;
    CURLcode rc = SetProbeOptions(h, url, false);
    if (rc == CURLE_OK && curl_easy_perform(h) == CURLE_OK) {
        curl_off_t value = -1;
        if (curl_easy_getinfo(h, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &value) == CURLE_OK && value >= 0)
            length = double(value);
        long status = 0;
        CURLcode q = curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
        TraceLine(L"CurlClient::GetDownloadFileLength_Str", __LINE__, L"error:%d:%ls", int(q),
                  CurlErrorText(q).c_str());
    }
    curl_easy_cleanup(h);
    return length;
}

int CurlClient::Probe(const std::string& url)
{
    int rc = 0;
    CURL* probe = Head(url, &rc);
    if (!probe) return 0;
    m_effectiveUrl = EffectiveUrlOf(probe);
    m_length = rc == 0 ? GetDownloadFileLength(probe) : -1.0;
    curl_easy_cleanup(probe);
    return rc;
}

int CurlClient::Start()
{
    TraceLine(L"CurlClient::Start", __LINE__, L"start download");
    int result = 0;
    FILE* part = nullptr;
    bool startOver = false;
    const std::string url = CurlUrlText(m_url);

    int probeError = 0;
    if (m_effectiveUrl.empty() || m_length < kMinLength) probeError = Probe(url);
    if (probeError != 0) {
        // No answer at all (time-out, a redirect loop, a bad address): the other probes
        // would only meet the same, and the try fails with what happened.
        m_effectiveUrl.clear();
        result = probeError;
    } else if (m_effectiveUrl.empty() || m_length < kMinLength) {
        m_effectiveUrl = GetRealUrl_Str(url);
        if (!m_effectiveUrl.empty()) m_length = GetDownloadFileLength_Str(m_effectiveUrl);
        if (m_length < kMinLength) result = kNoLength;
    }

    if (result == 0) {
        m_handle = curl_easy_init();
        if (!m_handle) result = kNoHandle;
    }
    // What an earlier try left: a part longer than the package is not this package's
    // start; one of exactly its length needs no transfer (the digest check decides).
    bool partComplete = false;
    if (result == 0) {
        int64_t size = -1;
        if (FileSize(PartPath(), size) && double(size) > m_length) ::DeleteFileW(PartPath().c_str());
        partComplete = FileSize(PartPath(), size) && double(size) == m_length;
        if (partComplete) TraceLine(L"CurlClient::Start", __LINE__, L"part file complete: %lld", (long long)size);
    }
    if (result == 0 && !partComplete) {
        part = ::_wfopen(PartPath().c_str(), L"ab");
        if (!part) {
            wchar_t text[201] = {};
            ::_wcserror_s(text, 200, errno);
            m_errorText = text;
            result = kPartNotOpened;
        } else {
            // Fewer, larger writes: the transfer delivers up to the receive buffer at once.
            std::setvbuf(part, nullptr, _IOFBF, kPartFileBuffer);
        }
    }
    if (result == 0 && !partComplete) {
        CurlSlist headers;
        headers.list = curl_slist_append(headers.list, "Connection: keep-alive");
        // Nothing here decodes a compressed body, so only the identity encoding is
        // acceptable; resume offsets then count the bytes of the file itself.
        headers.list = curl_slist_append(headers.list, "Accept-Encoding: identity");
        curl_easy_setopt(m_handle, CURLOPT_HTTPHEADER, headers.list);
        curl_easy_setopt(m_handle, CURLOPT_TCP_KEEPALIVE, 1L);
        curl_easy_setopt(m_handle, CURLOPT_TCP_KEEPIDLE, 10L);
        curl_easy_setopt(m_handle, CURLOPT_TCP_KEEPINTVL, 10L);
        curl_easy_setopt(m_handle, CURLOPT_TIMEOUT, 0L);
        CURLcode rc = curl_easy_setopt(m_handle, CURLOPT_URL, m_effectiveUrl.c_str());
        if (rc == CURLE_OK) rc = curl_easy_setopt(m_handle, CURLOPT_FOLLOWLOCATION, 1L);
        if (rc == CURLE_OK) rc = curl_easy_setopt(m_handle, CURLOPT_WRITEFUNCTION, &CurlClient::WritePart);
        if (rc == CURLE_OK) rc = curl_easy_setopt(m_handle, CURLOPT_WRITEDATA, part);
        if (rc == CURLE_OK) rc = curl_easy_setopt(m_handle, CURLOPT_NOPROGRESS, 0L);
        if (rc == CURLE_OK) rc = curl_easy_setopt(m_handle, CURLOPT_XFERINFOFUNCTION, &CurlClient::ProgressCallback);
        if (rc == CURLE_OK) rc = curl_easy_setopt(m_handle, CURLOPT_XFERINFODATA, this);
        if (rc == CURLE_OK) rc = curl_easy_setopt(m_handle, CURLOPT_FAILONERROR, 1L);
        if (rc == CURLE_OK) rc = SetRequestLimits(m_handle, kLowSpeedSeconds);
        if (rc == CURLE_OK) rc = curl_easy_setopt(m_handle, CURLOPT_BUFFERSIZE, kReceiveBuffer);

        int64_t size = -1;
        m_resumeOffset = FileSize(PartPath(), size) ? size : -1;
        if (rc == CURLE_OK && m_resumeOffset > 0)
            rc = curl_easy_setopt(m_handle, CURLOPT_RESUME_FROM_LARGE, curl_off_t(m_resumeOffset));

        if (rc == CURLE_OK) rc = curl_easy_perform(m_handle);
        result = int(rc);
        long status = 0;
        if (rc == CURLE_HTTP_RETURNED_ERROR && m_resumeOffset > 0 &&
            curl_easy_getinfo(m_handle, CURLINFO_RESPONSE_CODE, &status) == CURLE_OK && status == 416)
            startOver = true;   // the server has no bytes past the part: it is not a start of this file
    }

    TraceLine(L"CurlClient::Start", __LINE__, L"error:%d:%ls", result, CurlErrorText(result).c_str());

    if (m_handle) {
        curl_easy_cleanup(m_handle);
        m_handle = nullptr;
    }
    if (part && std::fclose(part) != 0 && result == 0) result = CURLE_WRITE_ERROR;
    if (result == 0) {
        // A body that ends early without saying so (closed connection, no length) is
        // a partial transfer; one that runs past the length is not this package.
        int64_t size = -1;
        if (!FileSize(PartPath(), size) || double(size) != m_length) {
            TraceLine(L"CurlClient::Start", __LINE__, L"part file holds %lld of %.0f bytes", (long long)size, m_length);
            if (double(size) > m_length) ::DeleteFileW(PartPath().c_str());
            result = CURLE_PARTIAL_FILE;
        }
    }

    if (result == 0) {
        ::DeleteFileW(m_targetPath.c_str());
        // A package that cannot be moved into place is a failed try, not a success.
        if (!::MoveFileW(PartPath().c_str(), m_targetPath.c_str())) {
            TraceLine(L"CurlClient::Start", __LINE__, L"rename failed:%lu", static_cast<unsigned long>(::GetLastError()));
            result = kNotRenamed;
        }
    } else if (result == CURLE_RANGE_ERROR || startOver) {
        // The server ignores ranges: what is on disk cannot be continued, start over.
        ::DeleteFileW(PartPath().c_str());
    }

    TraceLine(L"CurlClient::Start", __LINE__, L"end download");
    return result;
}
