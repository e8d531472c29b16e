// The main window's window-free rules.
#include "MainWndRules.h"

#include <cmath>

#include "InstallRecords.h"
#include "SequenceControls.h"

namespace MainWndRules {

const wchar_t kProductFolder[] = L"TallowmereDataRecovery";

namespace {

bool IsDriveLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }
bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

}  // namespace

bool IsUsableInstallFolder(const std::wstring& folder)
{
    // "\\?\" and "\\.\" forms and shares all start with two separators.
    if (folder.size() < 3) return false;
    if (!IsDriveLetter(folder[0]) || folder[1] != L':' || !IsSeparator(folder[2])) return false;
    for (wchar_t c : folder) {
        if (c < 0x20 || c == L'<' || c == L'>' || c == L'"' || c == L'|' || c == L'?' || c == L'*') return false;
    }
    // A second ":" would name a stream.
    return folder.find(L':', 2) == std::wstring::npos;
}

std::wstring CustomInstallFolder(const std::wstring& defaultFolder, const std::wstring& editText)
{
    if (InstallRecords::IsSameFolder(defaultFolder, editText)) return defaultFolder;
    std::wstring folder = editText;
    for (wchar_t& c : folder) {
        if (c == L'/') c = L'\\';
    }
    if (!folder.empty() && folder.back() != L'\\') folder += L'\\';
    return folder + kProductFolder;
}

double EffectiveDownloadScale(double configured)
{
    if (std::isnan(configured)) return 0.7;
    if (configured < 0.0) return 0.0;
    if (configured > 1.0) return 1.0;
    return configured;
}

namespace {

// Truncated toward zero, but 0.5 x 0.7 is 35 %: a share that lands a rounding error
// under a whole percent (x87 keeps more bits than the product has) counts as that one.
int Percent(double share)
{
    if (!(share > 0.0)) return 0;
    if (share >= 1.0) return 100;
    return static_cast<int>(share * 100.0 + 1e-7);
}

}  // namespace

int DownloadPercent(double fraction, double scale)
{
    if (std::isnan(fraction)) fraction = 0.0;
    if (fraction > 1.0) fraction = 1.0;
    return Percent(fraction * EffectiveDownloadScale(scale));
}

int SetupPercent(double& estimate, double reported, double scale)
{
    estimate += 0.15;
    if (estimate > 0.95) estimate = 0.95;
    if (reported > estimate) estimate = reported > 1.0 ? 1.0 : reported;
    const double s = EffectiveDownloadScale(scale);
    return Percent((1.0 - s) * estimate + s);
}

bool StartsDelayTimer(DWORD delayMs) { return delayMs != 0 && delayMs <= USER_TIMER_MAXIMUM; }

int BoundLanguageIndex(int number) { return (number >= 0 && number <= 2) ? number : 0; }

std::wstring ProgressText(const std::wstring& format, int percent)
{
    std::wstring text = SkinUI::FormatFrameName(format.c_str(), percent).GetData();
    if (text.size() > 249) text.resize(249);
    return text;
}

}  // namespace MainWndRules
