// The single-stream downloader: retries within a budget, the digest check, events;
// and the digest rules every downloader shares.
#include "Downloader.h"

#include <windows.h>

#include <cctype>

#include "Md5.h"
#include "Trace.h"
#include "Utils.h"

namespace {
bool SameDigest(const std::string& a, const std::string& b)
{
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}
}  // namespace

static std::string PathDigest(const std::string& url)
{
    return Utils::GetUrlMd5Segment(url.substr(0, url.find_first_of("?#")));
}

std::string ExpectedDigest(const std::string& givenUrl, const std::string& effectiveUrl)
{
    const std::string given = PathDigest(givenUrl);
    return given.size() == 32 ? given : PathDigest(effectiveUrl);
}

DigestCheck CheckPackageDigest(const std::string& expected, const std::wstring& packagePath)
{
    if (expected.size() != 32) return DigestCheck::NoDigest;
    // An unreadable file gives an empty digest: that package was never verified.
    const std::string actual = Md5(packagePath);
    if (actual.size() != 32 || !SameDigest(actual, expected)) return DigestCheck::Mismatch;
    return DigestCheck::Match;
}

CCurlDownloader::CCurlDownloader(InstallEventCallback handler, const std::wstring& url, const std::wstring& targetPath)
    : m_handler(std::move(handler)),
      m_targetPath(targetPath),
      m_url(url),
      m_client(url, targetPath, [this](double speed, double percent) { OnProgress(speed, percent); })
{
    // A part file left by an earlier run of the program may belong to another package.
    ::DeleteFileW((targetPath + L".part").c_str());
}

CCurlDownloader::~CCurlDownloader()
{
    m_worker.reset();
    m_retired.reset();
}

void CCurlDownloader::Start()
{
    if (m_worker) {
        if (m_worker->Id() == ::GetCurrentThreadId()) {
            // Called from this worker's own event: it ends by itself once the event
            // returns, so it is kept aside instead of being waited for here.
            m_retired.reset();
            m_retired = std::move(m_worker);
        } else {
            m_worker.reset();
        }
    }
    m_worker.reset(new Utils::Thread(this, L"ABDEF", [](void* self) {
        static_cast<CCurlDownloader*>(self)->dlThreadFun();
    }));
    m_worker->Resume();
}

void CCurlDownloader::OnProgress(double speed, double percent)
{
    if (speed > 0 && percent <= 100) Raise(EVT_DL_PROGRESS, percent / 100.0, L"");
}

void CCurlDownloader::dlThreadFun()
{
    Raise(EVT_DL_START, 1.0, L"");
    if (m_targetPath.empty()) {
        Raise(EVT_DL_FAIL, 1.0, L"");
        return;
    }
    int code = m_client.Start();
    int budget = kRetryBudget;
    while (code != 0) {
        budget -= FailureCost(code);
        if (budget < 1) {
            Raise(EVT_DL_FAIL, double(code), L"LibCurl");
            return;
        }
        TraceLine(L"CCurlDownloader::dlThreadFun", __LINE__, L"CurlDownLoader Code=%d", code);
        ::Sleep(kRetryPauseMs);
        code = m_client.Start();
    }

    const DigestCheck digest =
        CheckPackageDigest(ExpectedDigest(CurlClient::CurlUrlText(m_url), m_client.EffectiveUrl()), m_targetPath);
    if (digest == DigestCheck::NoDigest) {
        Raise(EVT_DL_ERROR_TEXT, 0, L"curl获取url-md5失败");
    } else if (digest == DigestCheck::Mismatch) {
        Raise(EVT_DL_ERROR_TEXT, 0, L"curl文件md5校验失败");
        if (m_retriedOnce) {
            Raise(EVT_DL_FAIL, 0, L"LibCurl");
        } else {
            m_retriedOnce = true;
            Raise(EVT_DL_RETRY, 0, L"LibCurl");
        }
        return;
    }
    Raise(EVT_DL_SUCCESS, 0, L"LibCurl");
}
