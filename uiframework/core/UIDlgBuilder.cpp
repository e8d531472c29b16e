// The dialog builder: layout resources, window attributes, the element table
// and the nesting of controls.
#include "UIDlgBuilder.h"

#include <cstdlib>
#include <cwchar>

#include "UICombo.h"
#include "UIContainer.h"
#include "UIEdit.h"
#include "UIRender.h"
#include "UILayouts.h"
#include "UIList.h"
#include "UIListElements.h"
#include "UIOption.h"
#include "UIProgress.h"
#include "UITabLayout.h"
#include "UIText.h"
#include "UIManager.h"
#include "UIScrollBar.h"

namespace SkinUI {

namespace {

bool AttrTrue(LPCWSTR v) { return v && _wcsicmp(v, L"true") == 0; }

// Nesting of controls deeper than this is refused: the builder recurses once
// per level, and a hostile layout must not exhaust the stack.
const int kMaxControlDepth = 200;

thread_local int t_includeDepth = 0;

}  // namespace

CDialogBuilder::CDialogBuilder() : m_pCallback(nullptr), m_pstrtype(nullptr), m_iDepth(0), m_bDepthLimit(false) {}

CControlUI* CDialogBuilder::CreateTableControl(LPCWSTR name)
{
    const size_t len = wcslen(name);
    auto is = [name](LPCWSTR n) { return _wcsicmp(name, n) == 0; };
    switch (len) {
    case 4:
        if (is(L"HBox")) return new CHorizontalLayoutUI;
        if (is(L"VBox")) return new CVerticalLayoutUI;
        if (is(L"Text")) return new CTextUI;
        if (is(L"Edit")) return new CEditUI;
        if (is(L"List")) return new CListUI;
        break;
    case 5:
        if (is(L"Combo")) return new CComboUI;
        if (is(L"Label")) return new CLabelUI;
        break;
    case 6:
        if (is(L"Button")) return new CButtonUI;
        if (is(L"Option")) return new COptionUI;
        break;
    case 7:
        if (is(L"Control")) return new CControlUI;
        break;
    case 8:
        if (is(L"CheckBox")) return new CCheckBoxUI;
        if (is(L"ComboBox")) return new CComboUI;
        if (is(L"Progress")) return new CProgressUI;
        break;
    case 9:
        if (is(L"Container")) return new CContainerUI;
        if (is(L"ScrollBar")) return new CScrollBarUI;
        if (is(L"TabLayout")) return new CTabLayoutUI;
        break;
    case 10:
        if (is(L"TileLayout")) return new CTileLayoutUI;
        if (is(L"ListHeader")) return new CListHeaderUI;
        break;
    case 11:
        if (is(L"ChildLayout")) return new CChildLayoutUI;
        break;
    case 14:
        if (is(L"VerticalLayout")) return new CVerticalLayoutUI;
        if (is(L"ListHeaderItem")) return new CListHeaderItemUI;
        break;
    case 15:
        if (is(L"ListTextElement")) return new CListTextElementUI;
        if (is(L"ListHBoxElement")) return new CListHBoxElementUI;
        break;
    case 16:
        if (is(L"HorizontalLayout")) return new CHorizontalLayoutUI;
        if (is(L"ListLabelElement")) return new CListLabelElementUI;
        break;
    case 20:
        if (is(L"ListContainerElement")) return new CListContainerElementUI;
        break;
    default:
        break;
    }
    // The other table names (Edit, Tree ...) belong to controls that are not
    // built yet: they are made by no one and skipped as unknown names.
    return nullptr;
}

CControlUI* CDialogBuilder::Create(CUIStringOrId xml, LPCWSTR type, IDialogBuilderCallback* pCallback,
                                   CWindowManagerUI* pManager, CControlUI* pParent)
{
    m_bDepthLimit = false;
    if (IS_INTRESOURCE(xml.m_lpstr)) {
        HINSTANCE inst = CWindowManagerUI::GetResourceInstance();
        HRSRC res = ::FindResourceW(inst, xml.m_lpstr, type);
        if (!res) return nullptr;
        HGLOBAL global = ::LoadResource(inst, res);
        if (!global) return nullptr;
        const DWORD size = ::SizeofResource(inst, res);
        if (!m_xml.LoadFromMem(::LockResource(global), size, CXmlParser::kUtf8)) return nullptr;
        m_pstrtype = type;
    } else if (xml.m_lpstr && *xml.m_lpstr == L'<') {
        if (!m_xml.Load(xml.m_lpstr)) return nullptr;
    } else {
        if (!m_xml.LoadFromFile(xml.m_lpstr, CXmlParser::kUtf8)) return nullptr;
    }
    return Build(pCallback, pManager, pParent);
}

CControlUI* CDialogBuilder::Build(IDialogBuilderCallback* pCallback, CWindowManagerUI* pManager, CControlUI* pParent)
{
    m_pCallback = pCallback;
    CXmlNode root = m_xml.GetRoot();
    if (!root.IsValid()) return nullptr;
    if (pManager) {
        for (CXmlNode node = root.GetChild(); node.IsValid(); node = node.GetSibling()) {
            LPCWSTR name = node.GetName();
            if (_wcsicmp(name, L"Image") == 0) {
                LPCWSTR img = node.GetAttributeValue(L"name", true);
                LPCWSTR restype = node.GetAttributeValue(L"restype", true);
                const DWORD mask = ParseColorText(node.GetAttributeValue(L"mask", true));
                const bool shared = AttrTrue(node.GetAttributeValue(L"shared", true));
                if (img && *img) pManager->AddImage(img, restype, mask, false, shared);
            } else if (_wcsicmp(name, L"Font") == 0) {
                LPCWSTR idText = node.GetAttributeValue(L"id", true);
                const int id = idText ? static_cast<int>(wcstol(idText, nullptr, 10)) : -1;
                LPCWSTR face = node.GetAttributeValue(L"name", true);
                LPCWSTR sizeText = node.GetAttributeValue(L"size", true);
                const int size = sizeText ? static_cast<int>(wcstol(sizeText, nullptr, 10)) : 12;
                const bool bold = AttrTrue(node.GetAttributeValue(L"bold", true));
                const bool underline = AttrTrue(node.GetAttributeValue(L"underline", true));
                const bool italic = AttrTrue(node.GetAttributeValue(L"italic", true));
                const bool def = AttrTrue(node.GetAttributeValue(L"default", true));
                const bool shared = AttrTrue(node.GetAttributeValue(L"shared", true));
                if (id >= 0 && face && *face) {
                    pManager->AddFont(id, face, size, bold, underline, italic, shared);
                    if (def) pManager->SetDefaultFont(face, size, bold, underline, italic, shared);
                }
            } else if (_wcsicmp(name, L"Default") == 0) {
                LPCWSTR cls = node.GetAttributeValue(L"name", true);
                LPCWSTR value = node.GetAttributeValue(L"value", true);
                const bool shared = AttrTrue(node.GetAttributeValue(L"shared", true));
                if (cls && *cls) pManager->AddDefaultAttributeList(cls, value ? value : L"", shared);
            } else if (_wcsicmp(name, L"MultiLanguage") == 0) {
                LPCWSTR idText = node.GetAttributeValue(L"id", true);
                const int id = idText ? static_cast<int>(wcstol(idText, nullptr, 10)) : -1;
                LPCWSTR value = node.GetAttributeValue(L"value", true);
                if (id >= 0 && value) CWindowManagerUI::AddMultiLanguageString(id, value);
            }
        }
        if (pManager->GetPaintWindow() && _wcsicmp(root.GetName(), L"Window") == 0) {
            const int n = root.GetAttributeCount();
            for (int i = 0; i < n; ++i) pManager->SetWindowAttribute(root.GetAttributeName(i), root.GetAttributeValue(i));
        }
    }
    return ParseControls(&root, pParent, pManager);
}

CControlUI* CDialogBuilder::ParseControls(CXmlNode* pRoot, CControlUI* pParent, CWindowManagerUI* pManager)
{
    if (m_iDepth >= kMaxControlDepth) {
        m_bDepthLimit = true;
        return nullptr;
    }
    ++m_iDepth;
    struct DepthGuard {
        int& d;
        ~DepthGuard() { --d; }
    } guard{m_iDepth};

    IContainerUI* container = nullptr;
    bool askedContainer = false;
    CControlUI* first = nullptr;
    for (CXmlNode node = pRoot->GetChild(); node.IsValid(); node = node.GetSibling()) {
        LPCWSTR name = node.GetName();
        if (_wcsicmp(name, L"Image") == 0 || _wcsicmp(name, L"Font") == 0 || _wcsicmp(name, L"Default") == 0 ||
            _wcsicmp(name, L"MultiLanguage") == 0) {
            continue;
        }
        if (_wcsicmp(name, L"Include") == 0) {
            if (!node.HasAttributes()) continue;
            wchar_t countText[500] = {0};
            wchar_t source[500] = {0};
            int count = 1;
            if (node.GetAttributeValueCopy(L"count", countText, 499)) count = static_cast<int>(wcstol(countText, nullptr, 10));
            if (!node.GetAttributeValueCopy(L"source", source, 499) || source[0] == 0 || count <= 0) continue;
            if (t_includeDepth >= kMaxIncludeDepth) {
                // An include cycle (or absurd nesting) fails the whole build.
                m_bDepthLimit = true;
                return nullptr;
            }
            for (int i = 0; i < count; ++i) {
                CDialogBuilder builder;
                ++t_includeDepth;
                if (m_pstrtype) {
                    builder.Create(CUIStringOrId(static_cast<UINT>(wcstol(source, nullptr, 10))), m_pstrtype,
                                   m_pCallback, pManager, pParent);
                } else {
                    builder.Create(CUIStringOrId(source), nullptr, m_pCallback, pManager, pParent);
                }
                --t_includeDepth;
                if (builder.HitDepthLimit()) {
                    m_bDepthLimit = true;
                    return nullptr;
                }
            }
            continue;
        }
        if (_wcsicmp(name, L"TreeNode") == 0) {
            // Tree nodes come with the tree view.
            continue;
        }
        CControlUI* control = nullptr;
        if (wcscmp(name, L"GifAnim") != 0) control = CreateTableControl(name);
        if (!control) {
            const CUIPtrArray& factories = CWindowManagerUI::GetControlFactories();
            for (int i = 0; i < factories.GetSize() && !control; ++i) {
                control = reinterpret_cast<UIControlFactory>(factories.ItemAt(i))(name);
            }
        }
        if (!control && m_pCallback) control = m_pCallback->CreateControl(name);
        if (!control) continue;

        if (node.HasChildren()) {
            ParseControls(&node, control, pManager);
            if (m_bDepthLimit) {
                control->Delete();
                return nullptr;
            }
        }
        if (pParent) {
            wchar_t cover[256] = {0};
            if (node.GetAttributeValueCopy(L"cover", cover, 255) && wcscmp(cover, L"true") == 0) {
                pParent->SetOverlay(control);
            } else {
                if (!askedContainer) {
                    container = static_cast<IContainerUI*>(pParent->GetInterface(L"IContainer"));
                    askedContainer = true;
                }
                if (!container) {
                    // Nothing can hold the subtree just built: free it, end the level.
                    control->Delete();
                    return nullptr;
                }
                if (!container->Add(control)) {
                    control->Delete();
                    continue;
                }
            }
        }
        if (pManager) {
            control->SetManager(pManager, nullptr, false);
            if (LPCWSTR def = pManager->GetDefaultAttributeList(name)) control->ApplyAttributeList(def);
        }
        const int n = node.GetAttributeCount();
        for (int i = 0; i < n; ++i) control->SetAttribute(node.GetAttributeName(i), node.GetAttributeValue(i));
        if (pManager) control->SetManager(nullptr, nullptr, false);
        if (!first) first = control;
    }
    return first;
}

}  // namespace SkinUI
