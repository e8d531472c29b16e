// Turns a layout document into a tree of controls, applying the layout's
// resources and window attributes to a window manager.
#pragma once

#include "UIControl.h"
#include "XmlParser.h"

namespace SkinUI {

class CTreeNodeUI;

class CDialogBuilder {
public:
    // Includes nested deeper than this (an include cycle, say) fail the build.
    enum { kMaxIncludeDepth = 16, kMaxIncludeCount = 1000 };

    CDialogBuilder();
    CControlUI* Create(CUIStringOrId xml, LPCWSTR type = nullptr, IDialogBuilderCallback* pCallback = nullptr,
                       CWindowManagerUI* pManager = nullptr, CControlUI* pParent = nullptr);
    CControlUI* Build(IDialogBuilderCallback* pCallback = nullptr, CWindowManagerUI* pManager = nullptr,
                      CControlUI* pParent = nullptr);
    CControlUI* ParseControls(CXmlNode* pRoot, CControlUI* pParent = nullptr, CWindowManagerUI* pManager = nullptr);
    CXmlParser& GetParser() { return m_xml; }
    // Whether the last Create or Build failed for the nesting limit.
    bool HitDepthLimit() const { return m_bDepthLimit; }

    // Makes the control of a table element name, or null when it is not in the table.
    static CControlUI* CreateTableControl(LPCWSTR pstrClass);

private:
    // The tree-node path: false when the level must end (no tree view to hold
    // the node, or the nesting limit).
    bool ParseTreeNode(CXmlNode& element, CControlUI* pParent, CWindowManagerUI* pManager);
    static void DeleteSubtree(CTreeNodeUI* node);

    CXmlParser m_xml;
    IDialogBuilderCallback* m_pCallback;
    LPCWSTR m_pstrtype;
    int m_iDepth;
    bool m_bDepthLimit;
};

}  // namespace SkinUI
