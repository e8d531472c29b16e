// Frame-sequence animation controls: a label and a button whose background image
// steps through a numbered series of images on control timer 2100 ("SequenceLabel"
// and "SequenceButton" in layouts).
#pragma once

#include "UIButton.h"

namespace Gdiplus {
class Bitmap;
}

namespace SkinUI {

// The animation state both controls share: the attributes that set it, the stepping
// rule of one timer tick, and the timer it runs on.
struct SequenceAnimation {
    static constexpr UINT kTimerId = 2100;
    // A frame's image description has at most this many characters.
    static constexpr int kMaxFrameName = 259;

    explicit SequenceAnimation(int defaultSpan, bool defaultRound);

    // True when the attribute was one of the animation's.
    bool SetAttribute(LPCWSTR name, LPCWSTR value);
    // One tick: the frame to show in `frame`, or false when a non-looping sequence
    // has ended (the timer is to be killed, the last frame stays).
    bool Next(int& frame);

    // Starts the control's frame timer with the span (a running one goes on).
    void Start(CControlUI& control, bool fromFirstFrame);
    static void Stop(CControlUI& control);
    // After the control's own handling: a tick of any of its timers shows the next frame.
    void Step(CControlUI& control, const UIEvent& event);

    CUIString format;
    int count;
    int span;
    int current;
    bool autostart;
    bool loop;
    bool forward;
    bool round;
};

// The pattern with its one integer conversion replaced by `frame`. The pattern comes
// from the skin, so it is never handed to a formatter: only the first conversion of
// the forms %d, %i, %u, %x, %X, %o (with flags, width and precision) takes the number,
// "%%" gives "%", and every other "%" stays as it is. At most kMaxFrameName characters.
CUIString FormatFrameName(LPCWSTR pattern, int frame);

// The animation over a label or a button: its attributes, its ticks, its accessors.
template <class Base>
class CSequenceUI : public Base {
public:
    CSequenceUI(int defaultSpan, bool defaultRound) : m_anim(defaultSpan, defaultRound) {}

    void DoInit() override
    {
        if (m_anim.autostart) m_anim.Start(*this, false);
    }
    void DoEvent(UIEvent& event) override
    {
        Base::DoEvent(event);
        m_anim.Step(*this, event);
    }
    void SetAttribute(LPCWSTR pstrName, LPCWSTR pstrValue) override
    {
        if (!m_anim.SetAttribute(pstrName, pstrValue)) Base::SetAttribute(pstrName, pstrValue);
    }

    virtual void SetSequenceImage(LPCWSTR format) { m_anim.format = format; }
    virtual CUIString GetSequenceImage() const { return m_anim.format; }
    virtual void SetSequenceCount(int count) { m_anim.count = count; }
    virtual int GetSequenceCount() const { return m_anim.count; }
    virtual void SetSequenceSpan(int span) { m_anim.span = span; }
    virtual int GetSequenceSpan() const { return m_anim.span; }

    // From frame 0; restarts an animation that runs.
    void Start() { m_anim.Start(*this, true); }
    void Stop() { SequenceAnimation::Stop(*this); }

protected:
    SequenceAnimation m_anim;
};

class CSequenceLabelUI : public CSequenceUI<CLabelUI> {
public:
    CSequenceLabelUI();
    ~CSequenceLabelUI() override;

    LPCWSTR GetClass() const override;
    void* GetInterface(LPCWSTR pstrName) override;
    void PaintStatusImage(HDC hDC) override;
};

class CSequenceButtonUI : public CSequenceUI<CButtonUI> {
public:
    CSequenceButtonUI();

    LPCWSTR GetClass() const override;
    void* GetInterface(LPCWSTR pstrName) override;
    void PaintText(HDC hDC) override;

    virtual void SetSecondImage(LPCWSTR image);
    virtual CUIString GetSecondImage() const;
    virtual CUIString GetThirdImage() const;
    virtual void SetThirdImage(LPCWSTR image);
    virtual RECT GetTextOffset() const;
    virtual void SetTextOffset(RECT offset);
    // Copies byte `sourceChannel` of every 32-bit ARGB pixel of `source` into byte
    // `destChannel` of the same pixel of `dest`; false for images of different sizes
    // or a channel outside 0..3.
    virtual bool CopyChannel(Gdiplus::Bitmap* source, Gdiplus::Bitmap* dest, BYTE sourceChannel, BYTE destChannel);

private:
    CUIString m_sSecondImage;
    CUIString m_sThirdImage;
    RECT m_rcTextOffset;
};

// The control of a layout element the frame-sequence classes own ("SequenceButton",
// "SequenceLabel", without regard to case), or null: for the windows' control factories.
CControlUI* CreateSequenceControl(LPCWSTR pstrClass);

}  // namespace SkinUI
