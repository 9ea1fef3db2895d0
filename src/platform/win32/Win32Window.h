#pragma once
// The window: one Win32 control per control model, placed at its twips geometry
// (15 twips to the pixel). The models hold all state; the controls mirror them
// through their Changed hooks and hand user actions back to them. Generic over the
// window model: it knows control kinds, never the form's own controls.
// Tab order is the models' tabIndex (Win32 takes it from the Z order: the controls
// in the tab order lie on top, captions at the bottom, beneath the fields).
#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/Controls.h"
#include "platform/win32/Win32Pictures.h"

namespace ovrin::win32 {

class Win32Window {
public:
    static constexpr int kIconResource = 1;

    // The pictures must outlive the window.
    Win32Window(WindowModel model, const Win32Pictures& pictures);
    ~Win32Window();
    Win32Window(const Win32Window&) = delete;
    Win32Window& operator=(const Win32Window&) = delete;

    HWND Handle() const { return hwnd_; }
    // Asked to end from outside (logoff, Ctrl+C): close as the user would.
    void Close() { PostMessageW(hwnd_, WM_CLOSE, 0, 0); }
    // Runs once the window has been closed and the form unloaded.
    std::function<void()> Closed;

private:
    struct View {
        Control* model;
        HWND hwnd;
        HWND edit;       // a combo box's edit field
        HWND list;       // a combo box's drop-down list
        int hover = -1;  // the entry of that list under the mouse
    };
    static LRESULT CALLBACK Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK EditProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK PictureProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK ListProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                          DWORD_PTR window);
    LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);

    void Create(Control& model, int id);
    void Mirror(View& view);
    void MirrorCommon(View& view);
    void MirrorForm();
    void Command(int id, int code);
    void SetTip(HWND control, const std::string& tip);
    void TipEachEntry(View& view, int id);
    void EntryTip(NMTTDISPINFOW& asked);

    Window& form_;
    const Win32Pictures& pictures_;
    HWND hwnd_ = nullptr;
    HWND tips_ = nullptr;
    HFONT font_ = nullptr, bold_ = nullptr;
    std::map<int, View> views_;
    std::map<HWND, std::string> tipTexts_;
    std::wstring entryTip_;  // the text an entry's tip shows while it is asked for
    std::map<COLORREF, HBRUSH> brushes_;
    bool mirroring_ = false;
};

}  // namespace ovrin::win32
