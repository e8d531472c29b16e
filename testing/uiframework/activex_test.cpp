// The ActiveX host without an object: its class setting and its pairing with the
// thread's COM apartment. Hosting real objects is checked under Xvfb
// (checks/check_activex.py).
#include <gtest/gtest.h>

#include <windows.h>

#include <objbase.h>

#include <thread>

#include "UIActiveX.h"
#include "UIWebBrowser.h"

using namespace SkinUI;

namespace {

// Runs `body` on a thread of its own, so that each case starts without COM.
template <class F>
void OnFreshThread(F body)
{
    std::thread t(body);
    t.join();
}

}  // namespace

// A host made on a thread that already lives in another apartment cannot join it;
// it must not undo the initialisation that belongs to the thread's owner.
TEST(ActiveXHost, PairsCoUninitializeWithItsOwnCoInitialize)
{
    struct Case {
        const char* what;
        bool threadInMta;
        HRESULT afterwards;   // CoInitializeEx(MTA) once the host is gone
    } cases[] = {
        {"thread of its own: initialised and uninitialised again", false, S_OK},
        {"thread in the MTA: its CoInitialize fails, the MTA stays", true, S_FALSE},
    };
    for (const Case& c : cases) {
        HRESULT after = E_FAIL;
        HRESULT before = E_FAIL;
        OnFreshThread([&] {
            if (c.threadInMta) before = ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
            CControlUI* host = new CActiveXUI;
            host->Delete();
            after = ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
            if (SUCCEEDED(after)) ::CoUninitialize();
            if (c.threadInMta && SUCCEEDED(before)) ::CoUninitialize();
        });
        if (c.threadInMta) {
            EXPECT_EQ(before, S_OK) << c.what;
        }
        EXPECT_EQ(after, c.afterwards) << c.what;
    }
}

TEST(ActiveXHost, ClassAndAttributesWithoutAnObject)
{
    OnFreshThread([] {
        CActiveXUI host;
        EXPECT_STREQ(host.GetClass(), L"ActiveX");
        EXPECT_EQ(host.GetInterface(L"ActiveX"), &host);
        EXPECT_FALSE(host.SetControlClass(GUID_NULL));
        EXPECT_FALSE(host.SetControlClass(L"{not a class id}"));
        EXPECT_FALSE(host.SetControlClass(L"No.Such.ProgId"));
        void* out = &host;
        EXPECT_EQ(host.QueryHostedControl(IID_IUnknown, &out), E_PENDING);
        EXPECT_EQ(out, nullptr);
        EXPECT_EQ(host.QueryHostedControl(IID_IUnknown, nullptr), E_POINTER);
        // Delayed creation stores the class and waits for a place.
        host.SetAttribute(L"clsid", L"{8856F961-340A-11D0-A96B-00C04FD705A2}");
        EXPECT_FALSE(host.IsCreated());
        EXPECT_TRUE(host.IsDelayedCreation());
        host.SetAttribute(L"modulename", L"none.dll");
        EXPECT_STREQ(host.GetModuleName().GetData(), L"none.dll");
        EXPECT_EQ(host.GetChildWindow(), nullptr);

        CWebBrowserUI browser;
        EXPECT_STREQ(browser.GetClass(), L"WebBrowser");
        EXPECT_EQ(browser.GetInterface(L"WebBrowser"), &browser);
        EXPECT_NE(browser.GetInterface(L"ActiveX"), nullptr);
        const CLSID webBrowser = {0x8856F961, 0x340A, 0x11D0, {0xA9, 0x6B, 0x00, 0xC0, 0x4F, 0xD7, 0x05, 0xA2}};
        EXPECT_TRUE(browser.GetClsid() == webBrowser);
        browser.SetAttribute(L"homepage", L"http://127.0.0.1/");
        browser.SetAttribute(L"autonavi", L"True");   // only the exact "true" counts
        EXPECT_FALSE(browser.IsAutoNavigation());
        browser.SetAttribute(L"autonavi", L"true");
        EXPECT_TRUE(browser.IsAutoNavigation());
        EXPECT_STREQ(browser.GetHomePage().GetData(), L"http://127.0.0.1/");
    });
}

// The browser's sink: events are told apart by their id, with the interface id
// IID_NULL only, and unknown ids are refused.
TEST(WebBrowser, EventSinkAnswers)
{
    OnFreshThread([] {
        CWebBrowserUI browser;
        IDispatch* sink = &browser;
        DISPPARAMS none = {nullptr, nullptr, 0, 0};
        EXPECT_EQ(sink->Invoke(102, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr), S_OK);
        EXPECT_EQ(sink->Invoke(102, IID_IUnknown, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr), E_INVALIDARG);
        EXPECT_EQ(sink->Invoke(9999, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr),
                  DISP_E_MEMBERNOTFOUND);
        // Events short of their arguments are taken without reading past them.
        for (DISPID id : {105, 250, 252, 259, 271, 273}) {
            EXPECT_EQ(sink->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr), S_OK) << id;
        }
        void* p = nullptr;
        EXPECT_EQ(sink->QueryInterface(IID_IOleCommandTarget, &p), S_OK);
        IOleCommandTarget* target = static_cast<IOleCommandTarget*>(p);
        const GUID other = IID_IUnknown;
        EXPECT_EQ(target->Exec(&other, 40, 0, nullptr, nullptr), static_cast<HRESULT>(0x80040104L));
        const GUID docHost = {0xF38BC242, 0xB950, 0x11D1, {0x89, 0x18, 0x00, 0xC0, 0x4F, 0xC2, 0xC8, 0x36}};
        EXPECT_EQ(target->Exec(&docHost, 41, 0, nullptr, nullptr), static_cast<HRESULT>(0x80040100L));
        VARIANT out;
        ::VariantInit(&out);
        EXPECT_EQ(target->Exec(&docHost, 40, 0, nullptr, &out), S_OK);
        EXPECT_EQ(out.vt, VT_BOOL);
        EXPECT_EQ(out.boolVal, VARIANT_TRUE);   // scripts go on, no dialog
        target->Release();
        MSG key = {};
        key.message = WM_KEYDOWN;
        EXPECT_EQ(browser.TranslateAccelerator(&key), E_NOTIMPL);   // no browser object yet
        key.message = WM_MOUSEMOVE;
        EXPECT_EQ(browser.TranslateAccelerator(&key), S_FALSE);
    });
}
