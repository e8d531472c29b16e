#pragma once
// The two-range downloader: one probe for the real address and length, up to two byte
// ranges fetched at once into part files, joined into the package and checked against
// the digest carried in the address.
#include <windows.h>

#include <curl/curl.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Downloader.h"

class CMTCurlDownloader : public CDownloader {
public:
    static constexpr int64_t kPartUnit = 10485760;   // 10 MiB
    static constexpr int kRetryBudget = 12;
    static constexpr DWORD kRetryPauseMs = 400;
    static constexpr long kLowSpeedSeconds = 5;
    static constexpr int kStatusToFetch = -1;
    static constexpr int kStatusNotOpened = -2;

    CMTCurlDownloader(InstallEventCallback handler, const std::wstring& url, const std::wstring& targetPath);
    ~CMTCurlDownloader() override;
    CMTCurlDownloader(const CMTCurlDownloader&) = delete;
    CMTCurlDownloader& operator=(const CMTCurlDownloader&) = delete;

    void Start() override;

    struct Range {
        int64_t start, last;   // inclusive
        bool operator==(const Range& o) const { return start == o.start && last == o.last; }
    };
    // One range below two part units (or when the server refused ranges), else two; the
    // last one takes the remainder.
    static std::vector<Range> SplitRanges(int64_t length, bool singleRange);

    // What a reply said about itself, from its headers.
    struct ReplyHead {
        long status = 0;
        bool hasContentRange = false;
        int64_t rangeStart = -1, rangeLast = -1, rangeTotal = -1;   // total -1: "*"
        std::string contentEncoding;
    };
    // Whether the reply may fill a part whose range starts at rangeStart and whose next
    // byte is writePos: 0 yes, kRestartPart yes but from the range start (a whole-file
    // answer to a part that starts the file), else the part's failure code (the server
    // did not answer the range asked for, or encoded the body).
    static constexpr int kRestartPart = -100;
    static int CheckReply(const ReplyHead& head, int64_t rangeStart, int64_t writePos, int64_t length);
    // Parses one header line into head (a status line starts a new reply: redirects).
    static void ReadHeaderLine(const std::string& line, ReplyHead& head);

    std::wstring PartPath(int index) const { return m_targetPath + L"_" + std::to_wstring(index); }

private:
    struct DownloadPartNode {
        FILE* file = nullptr;
        int64_t rangeStart = 0;
        int64_t writePos = 0;
        int64_t lastByte = 0;
        CURL* handle = nullptr;
        std::string url;
        std::wstring path;
        int status = kStatusToFetch;
        std::atomic<uint64_t> bytesDone{0};
        CMTCurlDownloader* owner = nullptr;
        ReplyHead head;
        bool replyChecked = false;
        int refusal = 0;   // why the reply was not taken
        std::thread thread;
    };

    void Start_Down();
    bool getRealDownloadUrl(const std::string& url);
    int downloadExe(DownloadPartNode& part);
    void downloadThreadFun(DownloadPartNode* part);
    void waitForFinishThreadFun();
    // Joins every part of the run into the package; false (and no package) on any failure.
    bool MergeParts();
    void ReleaseParts();
    void DeletePartFiles(int from = 0);
    void FailRun(int status);
    void Raise(int code, double value, const wchar_t* text);

    static size_t WritePart(char* data, size_t size, size_t count, void* part);
    static size_t ReadHeader(char* data, size_t size, size_t count, void* part);
    static int ProgressCallback(void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t);

    InstallEventCallback m_handler;
    std::wstring m_targetPath;
    std::wstring m_url;
    std::string m_realUrl;
    int64_t m_length = -1;
    std::string m_expectedDigest;
    std::vector<std::unique_ptr<DownloadPartNode>> m_parts;
    std::atomic<int> m_runningParts{0};
    double m_lastPercent = 0;
    int64_t m_lastReportSecond = 0;
    std::mutex m_mutex;
    bool m_retriedOnce = false;
    // Set once a server answered a range with something else: later runs take the file
    // as one range, so that no part is ever filled from the wrong offset.
    bool m_singleRange = false;
    std::atomic<bool> m_stop{false};
    std::unique_ptr<Utils::Thread> m_worker;
    std::thread m_finisher;
};
