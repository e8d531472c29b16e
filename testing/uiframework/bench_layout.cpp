// Benchmark (not a test): builds and first paints a layout from a 7z skin, then
// relays it out after a resize; beside it, the same number of plain child
// windows created, shown and resized by hand, in the same run. Prints the
// figures for bench/ui-layout.py.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "UIBase.h"
#include "UIContainer.h"

using namespace SkinUI;

namespace {

double Ms(LARGE_INTEGER a, LARGE_INTEGER b)
{
    static LARGE_INTEGER freq = [] {
        LARGE_INTEGER f;
        ::QueryPerformanceFrequency(&f);
        return f;
    }();
    return (b.QuadPart - a.QuadPart) * 1000.0 / freq.QuadPart;
}

LARGE_INTEGER Now()
{
    LARGE_INTEGER t;
    ::QueryPerformanceCounter(&t);
    return t;
}

void Drain()
{
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
}

class BenchWindow : public WindowImplBase {
public:
    BenchWindow(const std::wstring& zip, const std::wstring& layout) : m_zip(zip), m_layout(layout) {}
    LPCWSTR GetWindowClassName() const override { return L"UiLayoutBench"; }
    CUIString GetSkinFolder() override { return CUIString(); }
    CUIString GetSkinFile() override { return CUIString(m_layout.c_str()); }
    int GetResourceType() const override { return UILIB_ZIP; }
    CUIString GetZipFileName() const override { return CUIString(m_zip.c_str()); }

private:
    std::wstring m_zip;
    std::wstring m_layout;
};

int CountControls(CControlUI* c)
{
    int n = 1;
    if (IContainerUI* box = static_cast<IContainerUI*>(c->GetInterface(L"IContainer"))) {
        for (int i = 0; i < box->GetCount(); ++i) n += CountControls(box->GetItemAt(i));
    }
    return n;
}

// The peer: as many STATIC child windows, placed in a grid by hand.
void PeerRound(int count, int w, int h, double& show, double& relayout)
{
    LARGE_INTEGER t0 = Now();
    HWND parent = ::CreateWindowExW(0, L"STATIC", L"", WS_POPUP | WS_CLIPCHILDREN, 0, 0, w, h, nullptr, nullptr,
                                    nullptr, nullptr);
    const int cols = 50;
    const int rows = (count + cols - 1) / cols;
    HWND* children = new HWND[count];
    for (int i = 0; i < count; ++i) {
        const int x = (i % cols) * w / cols;
        const int y = (i / cols) * h / rows;
        children[i] = ::CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE | SS_GRAYRECT, x, y, w / cols,
                                        h / rows, parent, nullptr, nullptr, nullptr);
    }
    ::ShowWindow(parent, SW_SHOWNOACTIVATE);
    ::UpdateWindow(parent);
    ::RedrawWindow(parent, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
    Drain();
    LARGE_INTEGER t1 = Now();
    const int w2 = w + 100;
    const int h2 = h + 100;
    ::SetWindowPos(parent, nullptr, 0, 0, w2, h2, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    HDWP dwp = ::BeginDeferWindowPos(count);
    for (int i = 0; i < count && dwp; ++i) {
        dwp = ::DeferWindowPos(dwp, children[i], nullptr, (i % cols) * w2 / cols, (i / cols) * h2 / rows, w2 / cols,
                               h2 / rows, SWP_NOZORDER | SWP_NOACTIVATE);
    }
    if (dwp) ::EndDeferWindowPos(dwp);
    ::RedrawWindow(parent, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
    Drain();
    LARGE_INTEGER t2 = Now();
    show = Ms(t0, t1);
    relayout = Ms(t1, t2);
    ::DestroyWindow(parent);
    delete[] children;
    Drain();
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 5) {
        std::fprintf(stderr, "usage: uiframework_layout_bench SKIN.7z LAYOUT W H [rounds]\n");
        return 2;
    }
    const std::wstring skin = argv[1];
    const std::wstring layout = argv[2];
    const int w = _wtoi(argv[3]);
    const int h = _wtoi(argv[4]);
    const int rounds = argc > 5 ? _wtoi(argv[5]) : 5;
    CWindowManagerUI::SetInstance(::GetModuleHandleW(nullptr));
    const size_t slash = skin.find_last_of(L"\\/");
    CWindowManagerUI::SetResourcePath(skin.substr(0, slash + 1).c_str());
    CWindowManagerUI::SetResourceArchive7z(true);

    double bestShow = 1e30, bestRelayout = 1e30, firstShow = 0, peerShow = 1e30, peerRelayout = 1e30;
    int controls = 0;
    for (int r = 0; r < rounds; ++r) {
        LARGE_INTEGER t0 = Now();
        BenchWindow* win = new BenchWindow(skin.substr(slash + 1), layout);
        HWND hwnd = win->Create(nullptr, L"bench", WS_POPUP | WS_CLIPCHILDREN, 0, 0, 0, w, h);
        if (!hwnd || !win->GetManager().GetRoot()) {
            std::fprintf(stderr, "no window or no root\n");
            return 1;
        }
        ::SetWindowPos(hwnd, nullptr, 0, 0, w, h, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        ::ShowWindow(hwnd, SW_SHOWNOACTIVATE);
        ::UpdateWindow(hwnd);
        while (win->GetManager().IsFirstPaintPending()) {
            Drain();
            ::UpdateWindow(hwnd);
        }
        Drain();
        LARGE_INTEGER t1 = Now();
        ::SetWindowPos(hwnd, nullptr, 0, 0, w + 100, h + 100, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        ::UpdateWindow(hwnd);
        Drain();
        LARGE_INTEGER t2 = Now();
        controls = CountControls(win->GetManager().GetRoot());
        const double show = Ms(t0, t1);
        if (r == 0) firstShow = show;
        if (show < bestShow) bestShow = show;
        if (Ms(t1, t2) < bestRelayout) bestRelayout = Ms(t1, t2);
        ::DestroyWindow(hwnd);
        Drain();
        delete win;
        double ps = 0, pr = 0;
        PeerRound(controls, w, h, ps, pr);
        if (ps < peerShow) peerShow = ps;
        if (pr < peerRelayout) peerRelayout = pr;
    }
    std::printf("controls=%d size=%dx%d first_show_ms=%.1f show_ms=%.1f relayout_ms=%.1f peer_show_ms=%.1f "
                "peer_relayout_ms=%.1f\n",
                controls, w, h, firstShow, bestShow, bestRelayout, peerShow, peerRelayout);
    return 0;
}
