// The window manager's shared resources: fonts, images, default attribute lists,
// multi-language texts, window attributes and the skin source.
#include <windows.h>

#include <commctrl.h>

#include <cstdlib>
#include <cwchar>

#include "SkinArchive7z.h"
#include "SkinFile.h"
#include "SkinZip.h"
#include "UIManagerShared.h"
#include "UIRender.h"

namespace SkinUI {

namespace {

bool QuerySkinSource(SkinSource& source)
{
    UIShared& s = Shared();
    source.resourcePath = s.resourcePath.GetData();
    source.archiveName = s.resourceZip.GetData();
    source.openArchive = s.zipCached ? s.archive : nullptr;
    source.resourceModule = CWindowManagerUI::GetResourceInstance();
    if (s.resourceZip.IsEmpty()) {
        source.kind = SkinSourceKind::Folder;
    } else {
        source.kind = s.archive7z ? SkinSourceKind::SevenZip : SkinSourceKind::Zip;
    }
    return true;
}

void CloseArchive()
{
    UIShared& s = Shared();
    if (!s.archive) return;
    if (s.archive7z) {
        CSkinArchive7z::Close(static_cast<HSKINARCHIVE7Z>(s.archive));
    } else {
        CSkinZip::Close(static_cast<HSKINZIP>(s.archive));
    }
    s.archive = nullptr;
}

void FillFontInfo(UIFontInfo& info, HFONT font, LPCWSTR face, int size, bool bold, bool underline, bool italic)
{
    info.hFont = font;
    info.sFontName = face;
    info.iSize = size;
    info.bBold = bold;
    info.bUnderline = underline;
    info.bItalic = italic;
    ::ZeroMemory(&info.tm, sizeof(info.tm));
}

HFONT MakeFont(LPCWSTR face, int size, bool bold, bool underline, bool italic)
{
    const LOGFONTW lf = CWindowManagerUI::DescribeFont(face, size, bold, underline, italic);
    return ::CreateFontIndirectW(&lf);
}

}  // namespace

LOGFONTW CWindowManagerUI::DescribeFont(LPCWSTR face, int size, bool bold, bool underline, bool italic)
{
    LOGFONTW lf = {};
    ::GetObjectW(::GetStockObject(DEFAULT_GUI_FONT), sizeof(lf), &lf);
    if (face) {
        // The face field holds 32 characters with its terminator.
        wcsncpy(lf.lfFaceName, face, LF_FACESIZE - 1);
        lf.lfFaceName[LF_FACESIZE - 1] = L'\0';
    }
    lf.lfCharSet = DEFAULT_CHARSET;
    lf.lfHeight = -size;
    if (bold) lf.lfWeight += FW_BOLD;
    if (underline) lf.lfUnderline = TRUE;
    if (italic) lf.lfItalic = TRUE;
    return lf;
}

namespace {

void FreeFonts(CUIStringMap& table)
{
    for (int i = 0;; ++i) {
        LPCWSTR key = table.GetKeyAt(i);
        if (!key) break;
        UIFontInfo* info = static_cast<UIFontInfo*>(table.Find(key, false));
        if (info) {
            ::DeleteObject(info->hFont);
            delete info;
        }
    }
    table.RemoveAll();
}

void FreeImages(CUIStringMap& table)
{
    for (int i = 0;; ++i) {
        LPCWSTR key = table.GetKeyAt(i);
        if (!key) break;
        CDrawHelper::FreeImage(static_cast<UIImageInfo*>(table.Find(key, false)), true);
    }
    table.RemoveAll();
}

void FreeStrings(CUIStringMap& table)
{
    for (int i = 0;; ++i) {
        LPCWSTR key = table.GetKeyAt(i);
        if (!key) break;
        delete static_cast<CUIString*>(table.Find(key, false));
    }
    table.RemoveAll();
}

}  // namespace

UIShared::UIShared()
{
    LOGFONTW lf = {};
    ::GetObjectW(::GetStockObject(DEFAULT_GUI_FONT), sizeof(lf), &lf);
    lf.lfCharSet = DEFAULT_CHARSET;
    HFONT font = ::CreateFontIndirectW(&lf);
    FillFontInfo(defaultFont, font, lf.lfFaceName, -lf.lfHeight, lf.lfWeight >= FW_BOLD, lf.lfUnderline != 0,
                 lf.lfItalic != 0);
    updateLayeredWindow = reinterpret_cast<UpdateLayeredWindowFn>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"User32.dll"), "UpdateLayeredWindow")));
    dirtyPen = ::CreatePen(PS_SOLID, 1, RGB(220, 0, 0));
    INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_WIN95_CLASSES};
    ::InitCommonControlsEx(&icc);
    ::LoadLibraryW(L"msimg32.dll");
    SetSkinSourceQuery(QuerySkinSource);
}

UIShared::~UIShared()
{
    FreeFonts(fonts);
    FreeImages(images);
    FreeStrings(attrs);
    FreeStrings(multiLanguage);
    if (defaultFont.hFont) ::DeleteObject(defaultFont.hFont);
    if (dirtyPen) ::DeleteObject(dirtyPen);
    CloseArchive();
}

UIShared& Shared()
{
    static UIShared shared;
    return shared;
}

// ---------------------------------------------------------------- fonts

CUIStringMap& CWindowManagerUI::FontTable(bool bShared)
{
    return (bShared || m_bUseSharedResources) ? Shared().fonts : m_mFonts;
}
CUIStringMap& CWindowManagerUI::ImageTable(bool bShared)
{
    return (bShared || m_bUseSharedResources) ? Shared().images : m_mImageHash;
}
CUIStringMap& CWindowManagerUI::AttrTable(bool bShared)
{
    return (bShared || m_bUseSharedResources) ? Shared().attrs : m_mDefaultAttrHash;
}

void CWindowManagerUI::MeasureFont(UIFontInfo* info)
{
    if (!info || info->tm.tmHeight != 0 || !m_hDcPaint) return;
    HGDIOBJ old = ::SelectObject(m_hDcPaint, info->hFont);
    ::GetTextMetricsW(m_hDcPaint, &info->tm);
    ::SelectObject(m_hDcPaint, old);
}

HFONT CWindowManagerUI::AddFont(int id, LPCWSTR pStrFontName, int nSize, bool bBold, bool bUnderline, bool bItalic,
                                bool bShared)
{
    HFONT font = MakeFont(pStrFontName, nSize, bBold, bUnderline, bItalic);
    if (!font) return nullptr;
    UIFontInfo* info = new UIFontInfo;
    LOGFONTW lf = {};
    ::GetObjectW(font, sizeof(lf), &lf);
    FillFontInfo(*info, font, lf.lfFaceName, nSize, bBold, bUnderline, bItalic);
    MeasureFont(info);
    wchar_t key[16];
    swprintf(key, 16, L"%d", id);
    CUIStringMap& table = FontTable(bShared);
    UIFontInfo* old = static_cast<UIFontInfo*>(table.Find(key, false));
    if (old) {
        ::DeleteObject(old->hFont);
        delete old;
        table.Remove(key);
    }
    if (!table.Insert(key, info)) {
        ::DeleteObject(font);
        delete info;
        return nullptr;
    }
    return font;
}

HFONT CWindowManagerUI::GetFont(int id) { return GetFontInfo(id)->hFont; }

UIFontInfo* CWindowManagerUI::GetFontInfo(int id)
{
    if (id >= 0) {
        wchar_t key[16];
        swprintf(key, 16, L"%d", id);
        UIFontInfo* info = static_cast<UIFontInfo*>(m_mFonts.Find(key));
        if (!info) info = static_cast<UIFontInfo*>(Shared().fonts.Find(key));
        if (info) {
            MeasureFont(info);
            return info;
        }
    }
    return GetDefaultFontInfo();
}

template <class Match>
UIFontInfo* CWindowManagerUI::FindFontInfo(Match match)
{
    CUIStringMap* tables[2] = {&m_mFonts, &Shared().fonts};
    for (CUIStringMap* table : tables) {
        for (int i = 0;; ++i) {
            LPCWSTR key = table->GetKeyAt(i);
            if (!key) break;
            UIFontInfo* info = static_cast<UIFontInfo*>(table->Find(key, false));
            if (info && match(*info)) return info;
        }
    }
    return nullptr;
}

UIFontInfo* CWindowManagerUI::GetFontInfoByHandle(HFONT hFont)
{
    UIFontInfo* info = FindFontInfo([hFont](const UIFontInfo& f) { return f.hFont == hFont; });
    if (!info) return GetDefaultFontInfo();
    MeasureFont(info);
    return info;
}

HFONT CWindowManagerUI::FindFont(LPCWSTR pStrFontName, int nSize, bool bBold, bool bUnderline, bool bItalic)
{
    UIFontInfo* info = FindFontInfo([&](const UIFontInfo& f) {
        return f.sFontName.Equals(pStrFontName) && f.iSize == nSize && f.bBold == bBold && f.bUnderline == bUnderline &&
               f.bItalic == bItalic;
    });
    return info ? info->hFont : nullptr;
}

void CWindowManagerUI::SetDefaultFont(LPCWSTR pStrFontName, int nSize, bool bBold, bool bUnderline, bool bItalic,
                                      bool bShared)
{
    HFONT font = MakeFont(pStrFontName, nSize, bBold, bUnderline, bItalic);
    if (!font) return;
    LOGFONTW lf = {};
    ::GetObjectW(font, sizeof(lf), &lf);
    UIFontInfo& target = bShared ? Shared().defaultFont : m_DefaultFontInfo;
    if (target.hFont) ::DeleteObject(target.hFont);
    FillFontInfo(target, font, lf.lfFaceName, nSize, bBold, bUnderline, bItalic);
    MeasureFont(&target);
}

UIFontInfo* CWindowManagerUI::GetDefaultFontInfo()
{
    UIFontInfo* info = m_DefaultFontInfo.sFontName.IsEmpty() ? &Shared().defaultFont : &m_DefaultFontInfo;
    MeasureFont(info);
    return info;
}

void CWindowManagerUI::RemoveAllFonts(bool bShared) { FreeFonts(bShared ? Shared().fonts : m_mFonts); }

// ---------------------------------------------------------------- images

const UIImageInfo* CWindowManagerUI::AddImage(LPCWSTR bitmap, LPCWSTR type, DWORD mask, bool bUseHSL, bool bShared)
{
    if (!bitmap || !*bitmap) return nullptr;
    UIImageInfo* image = nullptr;
    if (type && *type && iswdigit(bitmap[0])) {
        image = CDrawHelper::LoadImage(CUIStringOrId(static_cast<UINT>(wcstol(bitmap, nullptr, 10))), type, mask);
    } else {
        image = CDrawHelper::LoadImage(CUIStringOrId(bitmap), (type && *type) ? type : nullptr, mask);
    }
    if (!image) return nullptr;
    image->bUseHSL = bUseHSL;
    image->sResType = type;
    image->dwMask = mask;
    CUIStringMap& table = ImageTable(bShared);
    UIImageInfo* old = static_cast<UIImageInfo*>(table.Find(bitmap, false));
    if (old) {
        CDrawHelper::FreeImage(old, true);
        table.Remove(bitmap);
    }
    if (!table.Insert(bitmap, image)) {
        CDrawHelper::FreeImage(image, true);
        return nullptr;
    }
    return image;
}

const UIImageInfo* CWindowManagerUI::GetImageOrLoad(LPCWSTR bitmap, LPCWSTR type, DWORD mask, bool bUseHSL)
{
    if (!bitmap || !*bitmap) return nullptr;
    const UIImageInfo* image = static_cast<UIImageInfo*>(m_mImageHash.Find(bitmap));
    if (!image) image = static_cast<UIImageInfo*>(Shared().images.Find(bitmap));
    if (!image) image = AddImage(bitmap, type, mask, bUseHSL, false);
    return image;
}

void CWindowManagerUI::RemoveAllImages(bool bShared) { FreeImages(bShared ? Shared().images : m_mImageHash); }

// ---------------------------------------------------------------- attribute lists

void CWindowManagerUI::AddDefaultAttributeList(LPCWSTR pStrControlName, LPCWSTR pStrControlAttrList, bool bShared)
{
    if (!pStrControlName || !*pStrControlName) return;
    CUIStringMap& table = AttrTable(bShared);
    CUIString* value = new CUIString(pStrControlAttrList);
    CUIString* old = static_cast<CUIString*>(table.Set(pStrControlName, value));
    if (old == value) {
        delete value;   // the table has no buckets
    } else {
        delete old;
    }
}

LPCWSTR CWindowManagerUI::GetDefaultAttributeList(LPCWSTR pStrControlName) const
{
    CUIString* value = static_cast<CUIString*>(m_mDefaultAttrHash.Find(pStrControlName));
    if (!value) value = static_cast<CUIString*>(Shared().attrs.Find(pStrControlName));
    return value ? value->GetData() : nullptr;
}

void CWindowManagerUI::RemoveAllDefaultAttributeLists(bool bShared)
{
    FreeStrings(bShared ? Shared().attrs : m_mDefaultAttrHash);
}

// ---------------------------------------------------------------- texts

void CWindowManagerUI::AddMultiLanguageString(int id, LPCWSTR pStrMultiLanguage)
{
    wchar_t key[16];
    swprintf(key, 16, L"%d", id);
    CUIString* value = new CUIString(pStrMultiLanguage);
    CUIString* old = static_cast<CUIString*>(Shared().multiLanguage.Set(key, value));
    if (old == value) {
        delete value;
    } else {
        delete old;
    }
}

LPCWSTR CWindowManagerUI::GetMultiLanguageString(int id)
{
    wchar_t key[16];
    swprintf(key, 16, L"%d", id);
    CUIString* value = static_cast<CUIString*>(Shared().multiLanguage.Find(key));
    return value ? value->GetData() : nullptr;
}

void CWindowManagerUI::RemoveAllMultiLanguageStrings() { FreeStrings(Shared().multiLanguage); }

void CWindowManagerUI::ProcessMultiLanguageTokens(CUIString& text)
{
    // Each token position is substituted once, and the scan goes on behind the
    // inserted text, so a text that holds its own token cannot loop.
    CUIString out;
    LPCWSTR p = text.GetData();
    bool changed = false;
    while (*p) {
        if (p[0] == L'%' && p[1] == L'{' && iswdigit(p[2])) {
            LPCWSTR q = p + 2;
            while (iswdigit(*q)) ++q;
            if (*q == L'}') {
                const int id = static_cast<int>(wcstol(p + 2, nullptr, 10));
                if (LPCWSTR value = GetMultiLanguageString(id)) {
                    out.Append(value);
                    p = q + 1;
                    changed = true;
                    continue;
                }
            }
        }
        out.AppendChar(*p++);
    }
    if (changed) text = out;
}

bool CWindowManagerUI::GetHSL(short* H, short* S, short* L)
{
    UIShared& s = Shared();
    *H = s.hue;
    *S = s.saturation;
    *L = s.lightness;
    return s.hslOn;
}

// ---------------------------------------------------------------- paths and skin source

void CWindowManagerUI::SetInstance(HINSTANCE hInst) { Shared().instance = hInst; }
HINSTANCE CWindowManagerUI::GetInstance() { return Shared().instance; }
void CWindowManagerUI::SetResourceInstance(HINSTANCE hInst) { Shared().resourceInstance = hInst; }

HINSTANCE CWindowManagerUI::GetResourceInstance()
{
    UIShared& s = Shared();
    return s.resourceInstance ? s.resourceInstance : s.instance;
}

CUIString CWindowManagerUI::GetInstancePath()
{
    HINSTANCE inst = Shared().instance;
    if (!inst) return CUIString();
    wchar_t path[MAX_PATH + 1] = {0};
    ::GetModuleFileNameW(inst, path, MAX_PATH);
    wchar_t* slash = wcsrchr(path, L'\\');
    if (slash) slash[1] = L'\0';
    return CUIString(path);
}

void CWindowManagerUI::SetResourcePath(LPCWSTR pStrPath)
{
    CUIString& path = Shared().resourcePath;
    path = pStrPath;
    if (path.IsEmpty()) return;
    const wchar_t last = path.CharAt(path.GetLength() - 1);
    if (last != L'\\' && last != L'/') path.AppendChar(L'\\');
}

const CUIString& CWindowManagerUI::GetResourcePath() { return Shared().resourcePath; }
void CWindowManagerUI::SetResourceArchive7z(bool b7z) { Shared().archive7z = b7z; }
bool CWindowManagerUI::IsResourceArchive7z() { return Shared().archive7z; }

void CWindowManagerUI::SetResourceZip(LPCWSTR pstrZip, bool bCachedResourceZip)
{
    UIShared& s = Shared();
    if (s.resourceZip.Equals(pstrZip ? pstrZip : L"") && s.zipCached == bCachedResourceZip) return;
    CloseArchive();
    s.resourceZip = pstrZip;
    s.zipCached = bCachedResourceZip;
    if (!bCachedResourceZip || s.resourceZip.IsEmpty()) return;
    CUIString path = s.resourcePath;
    path.Append(s.resourceZip);
    if (s.archive7z) {
        s.archive = CSkinArchive7z::OpenFromFile(path);
    } else {
        s.archive = CSkinZip::Open(path.GetData(), 0, CSkinZip::kFileName);
    }
}

void CWindowManagerUI::SetResourceZipBuffer(const void* pVoid, unsigned int len)
{
    UIShared& s = Shared();
    if (s.resourceZip.Equals(L"membuffer")) return;
    CloseArchive();
    s.resourceZip = L"membuffer";
    s.zipCached = true;
    if (s.archive7z) {
        s.archive = CSkinArchive7z::OpenFromMemory(pVoid, len);
    } else {
        s.archive = CSkinZip::Open(pVoid, len, CSkinZip::kMemory);
    }
}

const CUIString& CWindowManagerUI::GetResourceZip() { return Shared().resourceZip; }
bool CWindowManagerUI::IsResourceZipCached() { return Shared().zipCached; }
void* CWindowManagerUI::GetResourceZipHandle() { return Shared().archive; }

void CWindowManagerUI::ResetResourceSource()
{
    CloseArchive();
    UIShared& s = Shared();
    s.resourceZip.Empty();
    s.zipCached = true;
}

const CUIPtrArray& CWindowManagerUI::GetControlFactories() { return Shared().factories; }
void CWindowManagerUI::AddControlFactory(UIControlFactory factory)
{
    Shared().factories.Add(reinterpret_cast<void*>(factory));
}

// ---------------------------------------------------------------- window attributes

void CWindowManagerUI::SetWindowAttribute(LPCWSTR pstrName, LPCWSTR pstrValue)
{
    if (!pstrName || !pstrValue) return;
    auto is = [pstrName](LPCWSTR n) { return _wcsicmp(pstrName, n) == 0; };
    int v[4];
    if (is(L"size")) {
        ReadNumberList(pstrValue, v, 2);
        m_szInitWindowSize = SIZE{v[0], v[1]};
        if (!m_pRoot && m_hWndPaint) {
            ::SetWindowPos(m_hWndPaint, nullptr, 0, 0, v[0], v[1], SWP_NOZORDER | SWP_NOMOVE | SWP_NOACTIVATE);
        }
    } else if (is(L"sizebox")) {
        ReadNumberList(pstrValue, v, 4);
        m_rcSizeBox = RECT{v[0], v[1], v[2], v[3]};
    } else if (is(L"caption")) {
        ReadNumberList(pstrValue, v, 4);
        m_rcCaption = RECT{v[0], v[1], v[2], v[3]};
    } else if (is(L"roundcorner")) {
        ReadNumberList(pstrValue, v, 2);
        m_szRoundCorner = SIZE{v[0], v[1]};
    } else if (is(L"mininfo")) {
        ReadNumberList(pstrValue, v, 2);
        m_szMinWindow = SIZE{v[0], v[1]};
    } else if (is(L"maxinfo")) {
        ReadNumberList(pstrValue, v, 2);
        m_szMaxWindow = SIZE{v[0], v[1]};
    } else if (is(L"showdirty")) {
        m_bShowUpdateRect = _wcsicmp(pstrValue, L"true") == 0;
    } else if (wcscmp(pstrName, L"noactivate") == 0) {
        m_bNoActivate = _wcsicmp(pstrValue, L"true") == 0;
    } else if (is(L"opacity")) {
        SetOpacity(static_cast<BYTE>(wcstol(pstrValue, nullptr, 10)));
    } else if (wcscmp(pstrName, L"layeredopacity") == 0) {
        SetLayeredOpacity(static_cast<BYTE>(wcstol(pstrValue, nullptr, 10)));
    } else if (wcscmp(pstrName, L"layeredimage") == 0) {
        SetLayered(true);
        SetLayeredImage(pstrValue);
    } else if (is(L"disabledfontcolor")) {
        m_dwDisabledFontColor = ParseColorText(pstrValue);
    } else if (is(L"defaultfontcolor")) {
        m_dwDefaultFontColor = ParseColorText(pstrValue);
    } else if (is(L"linkfontcolor")) {
        m_dwLinkFontColor = ParseColorText(pstrValue);
    } else if (is(L"linkhoverfontcolor")) {
        m_dwLinkHoverFontColor = ParseColorText(pstrValue);
    } else if (is(L"selectedcolor")) {
        m_dwSelectedBkColor = ParseColorText(pstrValue);
    } else {
        AddWindowCustomAttribute(pstrName, pstrValue);
    }
}

void CWindowManagerUI::AddWindowCustomAttribute(LPCWSTR pstrName, LPCWSTR pstrAttr)
{
    if (!pstrName || !*pstrName || !pstrAttr || !*pstrAttr) return;
    if (m_mWindowCustomAttrHash.Find(pstrName)) return;
    CUIString* value = new CUIString(pstrAttr);
    if (!m_mWindowCustomAttrHash.Insert(pstrName, value)) delete value;
}

LPCWSTR CWindowManagerUI::GetWindowCustomAttribute(LPCWSTR pstrName) const
{
    if (!pstrName || !*pstrName) return nullptr;
    CUIString* value = static_cast<CUIString*>(m_mWindowCustomAttrHash.Find(pstrName));
    return value ? value->GetData() : nullptr;
}

void CWindowManagerUI::RemoveAllWindowCustomAttributes() { FreeStrings(m_mWindowCustomAttrHash); }

}  // namespace SkinUI
