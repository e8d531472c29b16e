// Benchmark (not a test): paints an installer-sized page of 200 formatted texts and
// 50 nine-part images with the framework's drawing functions, the same page as 200
// labels with markup and 50 controls with a nine-part background painted by a
// window manager's control tree, and the page's plain texts and whole images with
// bare GDI (DrawTextW, StretchBlt) as the peer, in the same run. Prints
// milliseconds per frame and frames per second of each.
// usage: uiframework_draw_bench <image folder> [frames]
#include <windows.h>

#include <cstdio>
#include <string>

#include "SkinFile.h"
#include "UIContainer.h"
#include "UILabel.h"
#include "UIManager.h"
#include "UIRender.h"
#include "draw_support.h"

using namespace SkinUI;

namespace {

const int kWidth = 800, kHeight = 600, kTexts = 200, kImages = 50;

std::wstring g_folder;
bool QuerySource(SkinSource& source)
{
    source.kind = SkinSourceKind::Folder;
    source.resourcePath = g_folder.c_str();
    return true;
}

RECT TextCell(int i) { return {(i % 4) * 200, (i / 4) * 12, (i % 4) * 200 + 200, (i / 4) * 12 + 12}; }
RECT ImageCell(int i) { return {(i % 10) * 80, (i / 10) * 120, (i % 10) * 80 + 76, (i / 10) * 120 + 40}; }

double Seconds(const LARGE_INTEGER& a, const LARGE_INTEGER& b, const LARGE_INTEGER& f)
{
    return static_cast<double>(b.QuadPart - a.QuadPart) / static_cast<double>(f.QuadPart);
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: uiframework_draw_bench <image folder> [frames]\n");
        return 2;
    }
    g_folder = argv[1];
    if (!g_folder.empty() && g_folder.back() != L'/' && g_folder.back() != L'\\') g_folder += L'\\';
    SetSkinSourceQuery(&QuerySource);
    const int frames = argc > 2 ? _wtoi(argv[2]) : 30;

    uitest::TestResources res;
    uitest::Canvas ours(kWidth, kHeight), peer(kWidth, kHeight);
    UIImageDrawInfo nine;
    nine.sDrawString = L"file='nine.png' corner='4,4,4,4'";
    const UIImageInfo* image = res.GetImageOrLoad(L"nine.png", nullptr, 0, false);
    if (!image) {
        std::fprintf(stderr, "nine.png not found in the image folder\n");
        return 1;
    }
    wchar_t markup[kTexts][96], plain[kTexts][64];
    for (int i = 0; i < kTexts; ++i) {
        swprintf(markup[i], 96, L"{b}Item %d{/b} {c #C00000}red{/c} and {a link%d}more{/a}", i, i);
        swprintf(plain[i], 64, L"Item %d red and more", i);
    }
    const RECT page = {0, 0, kWidth, kHeight};
    LARGE_INTEGER freq, t0, t1, t2;
    QueryPerformanceFrequency(&freq);
    int links = 0;

    double imagesSeconds = 0;
    QueryPerformanceCounter(&t0);
    for (int f = 0; f < frames; ++f) {
        LARGE_INTEGER i0, i1;
        QueryPerformanceCounter(&i0);
        CDrawHelper::DrawColor(ours.Dc(), page, 0xFFFFFFFF);
        for (int i = 0; i < kImages; ++i) CDrawHelper::DrawImageString(ours.Dc(), &res, ImageCell(i), page, nine);
        GdiFlush();
        QueryPerformanceCounter(&i1);
        imagesSeconds += Seconds(i0, i1, freq);
        links = 0;
        for (int i = 0; i < kTexts; ++i) {
            RECT rc = TextCell(i), linkRect;
            CUIString linkText;
            int count = 1;
            CDrawHelper::DrawHtmlText(ours.Dc(), &res, rc, markup[i], 0xFF000000, &linkRect, &linkText, count, -1,
                                      DT_SINGLELINE | DT_VCENTER);
            links += count;
        }
        GdiFlush();
    }
    QueryPerformanceCounter(&t1);
    HDC memory = CreateCompatibleDC(peer.Dc());
    HGDIOBJ old = SelectObject(memory, image->hBitmap);
    SetStretchBltMode(peer.Dc(), COLORONCOLOR);
    for (int f = 0; f < frames; ++f) {
        CDrawHelper::DrawColor(peer.Dc(), page, 0xFFFFFFFF);
        for (int i = 0; i < kImages; ++i) {
            const RECT c = ImageCell(i);
            StretchBlt(peer.Dc(), c.left, c.top, c.right - c.left, c.bottom - c.top, memory, 0, 0, image->nX,
                       image->nY, SRCCOPY);
        }
        HGDIOBJ oldFont = SelectObject(peer.Dc(), res.GetFont(-1));
        SetBkMode(peer.Dc(), TRANSPARENT);
        for (int i = 0; i < kTexts; ++i) {
            RECT rc = TextCell(i);
            DrawTextW(peer.Dc(), plain[i], -1, &rc, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
        }
        SelectObject(peer.Dc(), oldFont);
        GdiFlush();
    }
    QueryPerformanceCounter(&t2);
    SelectObject(memory, old);
    DeleteDC(memory);

    // The same page as controls of a window manager (on a message-only window).
    CWindowManagerUI::SetResourcePath(g_folder.c_str());
    HWND host = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 10, 10, HWND_MESSAGE, nullptr, nullptr, nullptr);
    uitest::Canvas tree(kWidth, kHeight);
    LARGE_INTEGER t3, t4;
    {
        CWindowManagerUI manager;
        manager.Init(host);
        CContainerUI* root = new CContainerUI;
        root->SetBkColor(0xFFFFFFFF);
        for (int i = 0; i < kImages; ++i) {
            CControlUI* c = new CControlUI;
            c->SetFloat(true);
            c->SetAttribute(L"bkimage", L"file='nine.png' corner='4,4,4,4'");
            root->Add(c);
        }
        for (int i = 0; i < kTexts; ++i) {
            CLabelUI* l = new CLabelUI;
            l->SetFloat(true);
            l->SetShowHtml(true);
            l->SetText(markup[i]);
            root->Add(l);
        }
        manager.AttachRootControl(root);
        root->SetPos(page);
        for (int i = 0; i < root->GetCount(); ++i) {
            root->GetItemAt(i)->SetPos(i < kImages ? ImageCell(i) : TextCell(i - kImages));
        }
        QueryPerformanceCounter(&t3);
        for (int f = 0; f < frames; ++f) {
            root->Paint(tree.Dc(), page, nullptr);
            GdiFlush();
        }
        QueryPerformanceCounter(&t4);
    }
    DestroyWindow(host);

    // The outputs: every text reported its link, the images and texts left their ink.
    const bool ok = links == kTexts && ours.Pixel(1, 1) == 0xFF0000 && peer.Pixel(1, 1) == 0xFF0000 &&
                    tree.Pixel(1, 1) == 0xFF0000 && ours.HasColor(TextCell(kTexts - 1), 0xC00000) &&
                    tree.HasColor(TextCell(kTexts - 1), 0xC00000) && peer.HasColor(TextCell(kTexts - 1), 0x000000);
    const double treeMs = Seconds(t3, t4, freq) * 1000 / frames;
    const double oursMs = Seconds(t0, t1, freq) * 1000 / frames, peerMs = Seconds(t1, t2, freq) * 1000 / frames;
    std::printf("page: %d formatted texts, %d nine-part images, %dx%d, %d frames\n", kTexts, kImages, kWidth, kHeight,
                frames);
    std::printf("ours: %.2f ms/frame (%.0f frames/s), of which images %.2f ms\n", oursMs, 1000 / oursMs,
                imagesSeconds * 1000 / frames);
    std::printf("controls (200 labels with markup, 50 controls with a nine-part background): %.2f ms/frame "
                "(%.0f frames/s)\n",
                treeMs, 1000 / treeMs);
    std::printf("peer (DrawTextW of the plain texts, one StretchBlt per image): %.2f ms/frame (%.0f frames/s)\n",
                peerMs, 1000 / peerMs);
    std::printf("ratio ours/peer = %.2f, controls/peer = %.2f; outputs %s\n", oursMs / peerMs, treeMs / peerMs,
                ok ? "checked" : "WRONG");
    return ok ? 0 : 1;
}
