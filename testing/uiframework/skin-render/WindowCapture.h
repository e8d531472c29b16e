// What a window of the framework shows, written as a PNG: the layered bitmap as it
// was handed over, else the client area read through the window's DC. Used by
// skin-render and by the probe that the installer's end-to-end checks load.
#pragma once

#include <windows.h>

#include <string>

#include "UIManager.h"

bool WriteWindowPng(SkinUI::CWindowManagerUI& manager, HWND hwnd, const std::wstring& path);
