// The two-range downloader: the probe, the split, one thread per range still to fetch,
// the checks that keep a part from being filled from the wrong offset, the merge and
// the digest check.
#include "MTCurlDownloader.h"

#include <algorithm>
#include <cinttypes>
#include <cstring>
#include <ctime>
#include <new>

#include "CurlClient.h"
#include "InstallerConfig.h"
#include "Trace.h"
#include "UniqueRes.h"
#include "Utils.h"

namespace {
constexpr size_t kMergeBlock = 4 * 1024 * 1024;
// Fewer, larger writes: a transfer delivers up to its receive buffer at once.
constexpr size_t kPartFileBuffer = 1024 * 1024;

struct CurlSlist {
    curl_slist* list = nullptr;
    ~CurlSlist() { curl_slist_free_all(list); }
};

size_t Discard(char*, size_t size, size_t count, void*) { return size * count; }

bool FileSize(const std::wstring& path, int64_t& size)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return false;
    size = int64_t(uint64_t(data.nFileSizeHigh) << 32 | data.nFileSizeLow);
    return true;
}

bool ParseI64(const std::string& text, int64_t& value)
{
    int64_t v = 0;
    if (Utils::ParseInt64(Utils::MultiByteToWide(text, CP_ACP), v) != Utils::Num::Ok || v < 0) return false;
    value = v;
    return true;
}

std::string Lower(std::string s)
{
    for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}
}  // namespace

CMTCurlDownloader::CMTCurlDownloader(InstallEventCallback handler, const std::wstring& url,
                                     const std::wstring& targetPath)
    : m_handler(std::move(handler)), m_targetPath(targetPath), m_url(url)
{
    ::DeleteFileW(m_targetPath.c_str());
    DeletePartFiles();
}

CMTCurlDownloader::~CMTCurlDownloader()
{
    m_stop = true;
    m_worker.reset();
    if (m_finisher.joinable()) {
        if (m_finisher.get_id() == std::this_thread::get_id())
            m_finisher.detach();
        else
            m_finisher.join();
    }
    ReleaseParts();
}

void CMTCurlDownloader::Raise(int code, double value, const wchar_t* text)
{
    if (m_handler && !m_stop) m_handler(code, value, text);
}

void CMTCurlDownloader::Start()
{
    // Called again from the finishing thread's 1005: the worker of the earlier start
    // has ended by then (it ends once it has started the finishing thread).
    m_worker.reset();
    m_worker.reset(new Utils::Thread(this, L"ABDEF", [](void* self) {
        static_cast<CMTCurlDownloader*>(self)->Start_Down();
    }));
    m_worker->Resume();
}

std::vector<CMTCurlDownloader::Range> CMTCurlDownloader::SplitRanges(int64_t length, bool singleRange)
{
    std::vector<Range> ranges;
    if (length <= 0) return ranges;
    int64_t count = length / kPartUnit;
    if (count == 0 || singleRange) count = 1;
    if (count > 2) count = 2;
    const int64_t size = length / count;
    for (int64_t i = 0; i < count; ++i) {
        const int64_t start = i * size;
        ranges.push_back({start, i + 1 == count ? length - 1 : start + size - 1});
    }
    return ranges;
}

void CMTCurlDownloader::DeletePartFiles(int from)
{
    for (int i = from; i < 2; ++i) ::DeleteFileW(PartPath(i).c_str());
}

void CMTCurlDownloader::ReleaseParts()
{
    for (auto& part : m_parts) {
        if (part->thread.joinable()) part->thread.join();
        if (part->handle) curl_easy_cleanup(part->handle);
        if (part->file) std::fclose(part->file);
    }
    m_parts.clear();
}

void CMTCurlDownloader::Start_Down()
{
    // The finishing thread of an earlier run may still be returning from its 1005.
    if (m_finisher.joinable()) m_finisher.join();
    ReleaseParts();

    Raise(EVT_DL_START, 1.0, L"");
    TraceLine(L"CMTCurlDownloader::Start_Down", __LINE__, L"start download");
    ::DeleteFileW(m_targetPath.c_str());
    if (m_lastPercent == 0) DeletePartFiles();

    if (!(!m_realUrl.empty() && m_length > 255) && !getRealDownloadUrl(CurlClient::CurlUrlText(m_url))) {
        Raise(EVT_DL_FAIL, 0, L"LibCurl");
        return;
    }

    const std::vector<Range> ranges = SplitRanges(m_length, m_singleRange);
    DeletePartFiles(int(ranges.size()));   // a second part of an earlier split is no part now
    for (size_t i = 0; i < ranges.size(); ++i) {
        std::unique_ptr<DownloadPartNode> part(new DownloadPartNode());
        part->owner = this;
        part->url = m_realUrl;
        part->path = PartPath(int(i));
        part->rangeStart = part->writePos = ranges[i].start;
        part->lastByte = ranges[i].last;
        int64_t have = 0;
        if (FileSize(part->path, have)) {
            if (have > ranges[i].last - ranges[i].start + 1) {
                // Longer than its range: not a part of this split.
                ::DeleteFileW(part->path.c_str());
                have = 0;
            }
            part->bytesDone = uint64_t(have);
            part->writePos = ranges[i].start + have;
        }
        part->handle = curl_easy_init();
        if (part->lastByte < part->writePos) {
            part->status = 0;   // complete already: no request
        } else {
            part->file = ::_wfopen(part->path.c_str(), L"ab");
            if (part->file) std::setvbuf(part->file, nullptr, _IOFBF, kPartFileBuffer);
            part->status = part->file ? kStatusToFetch : kStatusNotOpened;
        }
        m_parts.push_back(std::move(part));
    }

    for (auto& part : m_parts) {
        if (part->status != kStatusToFetch) continue;
        ++m_runningParts;
        DownloadPartNode* p = part.get();
        part->thread = std::thread([this, p] { downloadThreadFun(p); });
        ::Sleep(100);
    }
    m_finisher = std::thread([this] { waitForFinishThreadFun(); });
}

bool CMTCurlDownloader::getRealDownloadUrl(const std::string& url)
{
    m_realUrl.clear();
    m_expectedDigest.clear();
    m_length = 0;
    if (!g_InstallerConfig.LibcurlUsable) return false;

    CURL* h = curl_easy_init();
    if (!h) return false;
    CurlSlist headers;
    headers.list = curl_slist_append(headers.list, "Connection: keep-alive");
    CURLcode rc = curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.list);
    if (rc == CURLE_OK) rc = curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    if (rc == CURLE_OK) rc = curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
    if (rc == CURLE_OK) rc = curl_easy_setopt(h, CURLOPT_NOBODY, 1L);
    if (rc == CURLE_OK) rc = curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &Discard);
    if (rc == CURLE_OK) rc = CurlClient::SetRequestLimits(h, kLowSpeedSeconds);
    if (rc == CURLE_OK) rc = curl_easy_setopt(h, CURLOPT_TIMEOUT, CurlClient::kProbeTimeoutSeconds);
    if (rc == CURLE_OK) rc = curl_easy_perform(h);
    if (rc != CURLE_OK) {
        TraceLine(L"CMTCurlDownloader::getRealDownloadUrl", __LINE__, L"error:%d", int(rc));
        curl_easy_cleanup(h);
        return false;
    }
    m_realUrl = CurlClient::EffectiveUrlOf(h);
    if (!m_realUrl.empty()) {
        TraceLine(L"CMTCurlDownloader::getRealDownloadUrl", __LINE__, L"Download File real url %hs", m_realUrl.c_str());
        m_expectedDigest = ExpectedDigest(url, m_realUrl);
    }
    curl_off_t length = -1;
    long status = 0;
    if (curl_easy_getinfo(h, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) == CURLE_OK && length >= 0 &&
        curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status) == CURLE_OK && status >= 200 && status <= 399) {
        m_length = int64_t(length);
        TraceLine(L"CMTCurlDownloader::getRealDownloadUrl", __LINE__, L"Download File Length %lld", (long long)m_length);
    }
    curl_easy_cleanup(h);
    return !m_realUrl.empty() && m_length > 255;
}

void CMTCurlDownloader::ReadHeaderLine(const std::string& raw, ReplyHead& head)
{
    std::string line = raw;
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
    if (line.compare(0, 5, "HTTP/") == 0) {
        head = ReplyHead();
        const size_t sp = line.find(' ');
        int64_t status = 0;
        if (sp != std::string::npos && ParseI64(line.substr(sp + 1, 3), status)) head.status = long(status);
        return;
    }
    const size_t colon = line.find(':');
    if (colon == std::string::npos) return;
    const std::string name = Lower(line.substr(0, colon));
    std::string value = line.substr(colon + 1);
    value.erase(0, value.find_first_not_of(" \t"));
    if (name == "content-encoding") {
        head.contentEncoding = Lower(value);
    } else if (name == "content-range") {
        // "bytes START-LAST/TOTAL" (TOTAL may be "*")
        head.hasContentRange = false;
        if (Lower(value.substr(0, 6)) != "bytes ") return;
        const std::string spec = value.substr(6);
        const size_t dash = spec.find('-'), slash = spec.find('/');
        if (dash == std::string::npos || slash == std::string::npos || slash < dash) return;
        int64_t start = 0, last = 0, total = -1;
        if (!ParseI64(spec.substr(0, dash), start) || !ParseI64(spec.substr(dash + 1, slash - dash - 1), last)) return;
        if (spec.substr(slash + 1) != "*" && !ParseI64(spec.substr(slash + 1), total)) return;
        head.hasContentRange = true;
        head.rangeStart = start;
        head.rangeLast = last;
        head.rangeTotal = total;
    }
}

int CMTCurlDownloader::CheckReply(const ReplyHead& head, int64_t rangeStart, int64_t writePos, int64_t length)
{
    if (!head.contentEncoding.empty() && head.contentEncoding != "identity") return CURLE_BAD_CONTENT_ENCODING;
    if (head.status == 206) {
        if (!head.hasContentRange || head.rangeStart != writePos || head.rangeLast < head.rangeStart) return CURLE_RANGE_ERROR;
        if (head.rangeTotal >= 0 && head.rangeTotal != length) return CURLE_RANGE_ERROR;   // another file now
        return 0;
    }
    // The whole file from its first byte: right for a part that starts the file.
    if (head.status == 200 && rangeStart == 0) return writePos == 0 ? 0 : kRestartPart;
    return CURLE_RANGE_ERROR;
}

size_t CMTCurlDownloader::ReadHeader(char* data, size_t size, size_t count, void* p)
{
    auto* part = static_cast<DownloadPartNode*>(p);
    ReadHeaderLine(std::string(data, size * count), part->head);
    return size * count;
}

size_t CMTCurlDownloader::WritePart(char* data, size_t size, size_t count, void* p)
{
    auto* part = static_cast<DownloadPartNode*>(p);
    const size_t n = size * count;
    if (!part->replyChecked) {
        // Nothing is written before the reply is known to hold this part's bytes.
        const int verdict = CheckReply(part->head, part->rangeStart, part->writePos, part->owner->m_length);
        if (verdict == kRestartPart) {
            if (part->file) std::fclose(part->file);
            part->file = ::_wfopen(part->path.c_str(), L"wb");
            if (part->file) std::setvbuf(part->file, nullptr, _IOFBF, kPartFileBuffer);
            part->writePos = part->rangeStart;
            part->bytesDone = 0;
        } else if (verdict != 0) {
            part->refusal = verdict;
            TraceLine(L"CMTCurlDownloader::WritePart", __LINE__, L"reply refused: status %ld, range %lld-%lld, code %d",
                      part->head.status, (long long)part->head.rangeStart, (long long)part->head.rangeLast, verdict);
            return 0;
        }
        part->replyChecked = true;
    }
    if (!part->file || part->writePos > part->lastByte) return 0;
    const uint64_t room = uint64_t(part->lastByte - part->writePos + 1);
    const size_t take = room < n ? size_t(room) : n;
    const size_t written = std::fwrite(data, 1, take, part->file);
    part->writePos += int64_t(written);
    part->bytesDone += written;
    return written;
}

int CMTCurlDownloader::ProgressCallback(void* selfPtr, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    auto* self = static_cast<CMTCurlDownloader*>(selfPtr);
    if (self->m_stop) return 1;
    std::lock_guard<std::mutex> lock(self->m_mutex);
    const int64_t second = int64_t(std::time(nullptr));
    if (second <= self->m_lastReportSecond) return 0;
    self->m_lastReportSecond = second;
    if (self->m_length < 256) return 0;
    uint64_t done = 0;
    for (const auto& part : self->m_parts) done += part->bytesDone;
    const double percent = double(done) * 100.0 / double(self->m_length);
    if (percent > 100) return 0;
    if (percent - self->m_lastPercent >= 1) {
        self->m_lastPercent = percent;
        self->Raise(EVT_DL_PROGRESS, percent / 100.0, L"");
    }
    return 0;
}

int CMTCurlDownloader::downloadExe(DownloadPartNode& part)
{
    char range[64];
    std::snprintf(range, sizeof range, "%lld-%lld", (long long)part.writePos, (long long)part.lastByte);
    part.head = ReplyHead();
    part.replyChecked = false;
    part.refusal = 0;

    CURL* h = part.handle;
    if (!h) return CURLE_FAILED_INIT;
    CurlSlist headers;
    headers.list = curl_slist_append(headers.list, "Connection: keep-alive");
    // Only the identity encoding keeps byte offsets those of the file itself.
    headers.list = curl_slist_append(headers.list, "Accept-Encoding: identity");
    CURLcode rc = curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.list);
    if (rc == CURLE_OK) rc = curl_easy_setopt(h, CURLOPT_URL, part.url.c_str());
    if (rc == CURLE_OK) rc = curl_easy_setopt(h, CURLOPT_TIMEOUT, 0L);
    if (rc == CURLE_OK) rc = curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
    if (rc == CURLE_OK) rc = curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &CMTCurlDownloader::WritePart);
    if (rc == CURLE_OK) rc = curl_easy_setopt(h, CURLOPT_WRITEDATA, &part);
    if (rc == CURLE_OK) rc = curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, &CMTCurlDownloader::ReadHeader);
    if (rc == CURLE_OK) rc = curl_easy_setopt(h, CURLOPT_HEADERDATA, &part);
    if (rc == CURLE_OK) rc = curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
    if (rc == CURLE_OK) rc = curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, &CMTCurlDownloader::ProgressCallback);
    if (rc == CURLE_OK) rc = curl_easy_setopt(h, CURLOPT_XFERINFODATA, this);
    if (rc == CURLE_OK) rc = curl_easy_setopt(h, CURLOPT_FAILONERROR, 1L);
    if (rc == CURLE_OK) rc = CurlClient::SetRequestLimits(h, kLowSpeedSeconds);
    if (rc == CURLE_OK) rc = curl_easy_setopt(h, CURLOPT_BUFFERSIZE, 256L * 1024);
    if (rc == CURLE_OK) rc = curl_easy_setopt(h, CURLOPT_RANGE, range);
    if (rc != CURLE_OK) {
        curl_easy_reset(h);
        part.status = int(rc);
        return part.status;
    }

    int result = int(curl_easy_perform(h));
    if (part.refusal != 0) result = part.refusal;
    if (part.file && std::fflush(part.file) != 0 && result == 0) result = CURLE_WRITE_ERROR;
    // The range is complete once its last byte is on disk, whatever the server sent
    // after it; a reply that ended before it without an error is a partial transfer.
    if (part.writePos > part.lastByte && part.refusal == 0) result = 0;
    else if (result == 0) result = CURLE_PARTIAL_FILE;

    if (result != 0)
        TraceLine(L"CMTCurlDownloader::downloadExe", __LINE__, L"error:%d:%hs", result,
                  curl_easy_strerror(CURLcode(result > 0 ? result : CURLE_RANGE_ERROR)));
    else
        TraceLine(L"CMTCurlDownloader::downloadExe", __LINE__, L"curl_easy_cleanup");
    curl_easy_reset(h);
    if (result == 0 && part.file) {
        std::fclose(part.file);
        part.file = nullptr;
    }
    part.status = result;
    return result;
}

void CMTCurlDownloader::downloadThreadFun(DownloadPartNode* part)
{
    int budget = kRetryBudget;
    int rc = downloadExe(*part);
    while (rc != 0 && budget > 0 && !m_stop) {
        // A server that does not answer the range asked for, or encodes the body, does
        // the same on every try.
        if (rc == CURLE_RANGE_ERROR || rc == CURLE_BAD_CONTENT_ENCODING) break;
        TraceLine(L"CMTCurlDownloader::downloadThreadFun", __LINE__, L"CurlDownLoader Code=%d", rc);
        ::Sleep(kRetryPauseMs);
        budget -= rc == CURLE_PARTIAL_FILE ? 1 : 2;
        rc = downloadExe(*part);
    }
    if (part->file) {
        std::fclose(part->file);
        part->file = nullptr;
    }
    --m_runningParts;
}

bool CMTCurlDownloader::MergeParts()
{
    // Every part must hold exactly its range: nothing else is joined.
    for (const auto& part : m_parts) {
        int64_t size = -1;
        if (!FileSize(part->path, size) || size != part->lastByte - part->rangeStart + 1) {
            TraceLine(L"CMTCurlDownloader::waitForFinishThreadFun", __LINE__, L"part %ls holds %lld bytes",
                      part->path.c_str(), (long long)size);
            return false;
        }
    }
    UniqueFile first(::CreateFileW(m_parts[0]->path.c_str(), FILE_APPEND_DATA, 0, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!first) return false;
    std::unique_ptr<char[]> block(new (std::nothrow) char[kMergeBlock]);
    if (!block) return false;
    for (size_t i = 1; i < m_parts.size(); ++i) {
        UniqueFile next(::CreateFileW(m_parts[i]->path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
        if (!next) return false;
        for (;;) {
            DWORD got = 0, put = 0;
            if (!::ReadFile(next.Get(), block.get(), DWORD(kMergeBlock), &got, nullptr)) return false;
            if (got == 0) break;
            if (!::WriteFile(first.Get(), block.get(), got, &put, nullptr) || put != got) return false;
        }
        TraceLine(L"CMTCurlDownloader::waitForFinishThreadFun", __LINE__, L"partPath::%ls", m_parts[i]->path.c_str());
    }
    first.Reset();
    ::DeleteFileW(m_targetPath.c_str());
    if (!::MoveFileW(m_parts[0]->path.c_str(), m_targetPath.c_str())) {
        TraceLine(L"CMTCurlDownloader::waitForFinishThreadFun", __LINE__, L"rename failed:%lu",
                  (unsigned long)::GetLastError());
        return false;
    }
    // Part 0 is the package now; only the others go.
    for (size_t i = 1; i < m_parts.size(); ++i) {
        if (!::DeleteFileW(m_parts[i]->path.c_str()))
            TraceLine(L"CMTCurlDownloader::waitForFinishThreadFun", __LINE__, L"cannot delete %ls", m_parts[i]->path.c_str());
    }
    return true;
}

void CMTCurlDownloader::FailRun(int status)
{
    ReleaseParts();
    if (m_lastPercent == 0) DeletePartFiles();
    if (m_retriedOnce) {
        m_lastPercent = 0;
        DeletePartFiles();   // nothing resumes them after the final failure
        Raise(EVT_DL_FAIL, double(status), L"LibCurl");
    } else {
        m_retriedOnce = true;
        Raise(EVT_DL_RETRY, double(status), L"LibCurl");
    }
}

void CMTCurlDownloader::waitForFinishThreadFun()
{
    const wchar_t* kOp = L"CMTCurlDownloader::waitForFinishThreadFun";
    while (m_runningParts > 0) ::Sleep(200);
    for (auto& part : m_parts)
        if (part->thread.joinable()) part->thread.join();
    if (m_stop) return;

    int failed = 0;
    for (const auto& part : m_parts) {
        if (part->status == CURLE_RANGE_ERROR) m_singleRange = true;
        if (part->status != 0 && failed == 0) failed = part->status;
    }
    if (failed != 0) {
        FailRun(failed);
        return;
    }

    m_lastPercent = 0;
    if (!MergeParts()) {
        // What is on disk can no longer be trusted as parts.
        ReleaseParts();
        DeletePartFiles();
        ::DeleteFileW(m_targetPath.c_str());
        FailRun(CURLE_WRITE_ERROR);
        return;
    }
    const DigestCheck digest = CheckPackageDigest(m_expectedDigest, m_targetPath);
    if (digest == DigestCheck::Mismatch) {
        Raise(EVT_DL_ERROR_TEXT, 0, L"mtcurl文件md5校验失败");
        ::DeleteFileW(m_targetPath.c_str());
        ReleaseParts();
        if (m_retriedOnce) {
            TraceLine(kOp, __LINE__, L"finish recv, md5 chaek failed and retry failed.");
            Raise(EVT_DL_FAIL, 0, L"LibCurl");
        } else {
            m_retriedOnce = true;
            TraceLine(kOp, __LINE__, L"finish recv, md5 chaek failed retry once.");
            Raise(EVT_DL_RETRY, 0, L"LibCurl");
        }
        return;
    }
    if (digest == DigestCheck::NoDigest) Raise(EVT_DL_ERROR_TEXT, 0, L"mtcurl获取url-md5失败");
    TraceLine(kOp, __LINE__, L"finish recv");
    ReleaseParts();
    Raise(EVT_DL_SUCCESS, 0, L"LibCurl");
}
