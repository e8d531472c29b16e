// A stand-in control for the checks: element "Probe", a tab stop that turns the
// input events the window manager routes to it into notifications.
#pragma once

#include "UIControl.h"

SkinUI::CControlUI* CreateProbeControl(LPCWSTR pstrClass);
