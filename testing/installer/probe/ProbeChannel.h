// The channel between installer-driver and the probe it hooks into a window's
// thread: one shared block for the request and the answer, one event for "answered",
// one registered message that makes the window's thread look at the request.
#pragma once

#include <windows.h>

namespace probe {

const wchar_t kMappingName[] = L"Local\\QuorvUiProbeBlock";
const wchar_t kDoneEventName[] = L"Local\\QuorvUiProbeDone";
const wchar_t kMessageName[] = L"QuorvUiProbeRequest";

const DWORD kRequestChars = 2048;
const DWORD kReplyBytes = 4 * 1024 * 1024;

struct Block {
    wchar_t request[kRequestChars];   // "tree CLASS", "shot CLASS PATH" or "paints CLASS"
    DWORD replySize;
    char reply[kReplyBytes];          // UTF-8 lines
};

}  // namespace probe
