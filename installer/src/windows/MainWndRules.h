#pragma once
// The main window's rules that need no window: which folders an install may go to,
// how the progress bar follows the download and the setup, which delays start a
// timer, which language number the command line may select.
#include <windows.h>

#include <string>

namespace MainWndRules {

// "TallowmereDataRecovery": the folder the product always gets of its own.
extern const wchar_t kProductFolder[];

// A folder an install may be made in: an absolute path on a local drive ("C:\..."),
// never empty, relative, drive-relative ("C:dir") or on a share ("\\server\...").
bool IsUsableInstallFolder(const std::wstring& folder);

// The custom page's folder: the default one when the edit names that folder, else
// the edit's folder ("/" made "\") with the product's own folder joined to it.
std::wstring CustomInstallFolder(const std::wstring& defaultFolder, const std::wstring& editText);

// The share of the bar the download fills: the configured value within 0..1; NaN
// (an unreadable "-downloadscale") gives the default 0.7.
double EffectiveDownloadScale(double configured);

// The bar's percentage for a download at `fraction` (0..1), truncated.
int DownloadPercent(double fraction, double scale);

// One setup progress line with value `reported`: the estimate moves on by 0.15 up
// to 0.95, or to what the setup reports when that is more; returns the percentage.
int SetupPercent(double& estimate, double reported, double scale);

// Whether a delay the setup reported starts its timer: not for 0, and not for the
// "never" value 0xFFFFFFFF or anything beyond what a window timer can hold.
bool StartsDelayTimer(DWORD delayMs);

// The language number "-language" may select: 0..2, anything else English (0).
int BoundLanguageIndex(int number);

// The progress label's text: one percentage put into the format (from the skin or
// the language table, never handed to a formatter), at most 249 characters.
std::wstring ProgressText(const std::wstring& format, int percent);

}  // namespace MainWndRules
