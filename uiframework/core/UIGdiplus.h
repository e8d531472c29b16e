// GDI+ for the whole process: started once, by the first user or by the program's
// owner, and shut down once, when the program's owner ends. Controls that draw
// through GDI+ call Start() and never shut it down themselves.
#pragma once

namespace SkinUI {

class CUIGdiplus {
public:
    // Starts GDI+ unless it runs already; true while it runs. UI thread.
    static bool Start();
    static bool IsRunning();

    // Held by the program for its lifetime; when the last owner ends, GDI+ is shut down.
    class Owner {
    public:
        Owner();
        ~Owner();
        Owner(const Owner&) = delete;
        Owner& operator=(const Owner&) = delete;
    };
};

}  // namespace SkinUI
