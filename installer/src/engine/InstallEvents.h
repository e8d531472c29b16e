#pragma once
// The one callback type through which every runner reports, and the event codes.
#include <functional>

// (code, value, text): runs on the runner's worker; the text is valid only during the
// call and is never null ("no text" is the empty string).
using InstallEventCallback = std::function<void(int code, double value, const wchar_t* text)>;

enum InstallEventCode : int {
    EVT_DL_START = 1001,
    EVT_DL_PROGRESS = 1002,
    EVT_DL_SUCCESS = 1003,
    EVT_DL_FAIL = 1004,
    EVT_DL_RETRY = 1005,
    EVT_DL_ERROR_TEXT = 1006,
    EVT_IST_START = 2001,
    EVT_IST_PROGRESS = 2002,
    EVT_IST_SUCCESS = 2003,
    EVT_IST_FAIL = 2004,
    EVT_INFO_INSTPATH = 3000,
    EVT_INFO_EXEPATH = 3001,
    EVT_INFO_UNINSTEXE = 3002,
    EVT_INFO_UNINSTEP = 3003,
    EVT_INFO_STARTURL = 3004,
    EVT_INFO_STARTUPSTYLE = 3005,
    EVT_INFO_TOPSHOW = 3007,
    EVT_INFO_FINISHCLOSE = 3008,
    EVT_INFO_MESSAGE = 3009,
    EVT_UNI_START = 5001,
    EVT_UNI_PROGRESS = 5002,
    EVT_UNI_SUCCESS = 5003,
    EVT_UNI_MISSING = 5004,
    EVT_UNI_ERROR = 5005,
};
