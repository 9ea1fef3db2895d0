#include "platform/win32/Win32Window.h"

#include <commctrl.h>

#include <algorithm>
#include <exception>
#include <functional>

#include "platform/shared/StatusShapes.h"
#include "platform/win32/MessageLoop.h"
#include "platform/win32/Win32Text.h"

namespace ovrin::win32 {
namespace {

constexpr wchar_t kWindowClass[] = L"OvrinServerWindow";
constexpr wchar_t kPictureClass[] = L"OvrinServerPicture";
constexpr int kTwipsPerPixel = 15;
constexpr int kFirstId = 1000;
constexpr int kComboListPixels = 200;  // the drop-down list below a combo box

int Px(int twips) { return (twips + kTwipsPerPixel / 2) / kTwipsPerPixel; }

std::wstring TextOf(HWND hwnd) {
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(hwnd)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(GetWindowTextW(hwnd, text.data(), static_cast<int>(text.size()))));
    return text;
}

void SetTextIfChanged(HWND hwnd, const std::wstring& text) {
    if (TextOf(hwnd) != text) SetWindowTextW(hwnd, text.c_str());
}

// A multi-line caption's runs of blanks are its designed line breaks; a one-line
// caption's trailing blanks are no ink.
std::wstring CaptionText(const std::string& caption, bool multiLine) {
    std::string out;
    if (multiLine) {
        std::size_t i = 0;
        while (i < caption.size() && caption[i] == ' ') ++i;
        for (; i < caption.size(); ++i) {
            if (caption[i] == ' ' && i + 1 < caption.size() && caption[i + 1] == ' ') {
                while (i + 1 < caption.size() && caption[i + 1] == ' ') ++i;
                out += "\r\n";
            } else {
                out += caption[i];
            }
        }
    } else {
        out = caption;
    }
    while (!out.empty() && out.back() == ' ') out.pop_back();
    return Wide(out);
}

void Shield(const std::string& where, const std::function<void()>& call) { MessageLoop::Shielded(where.c_str(), call); }

Win32Window* Self(HWND hwnd) { return reinterpret_cast<Win32Window*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA)); }

}  // namespace

Win32Window::Win32Window(WindowModel model, const Win32Pictures& pictures) : form_(model.form), pictures_(pictures) {
    INITCOMMONCONTROLSEX common{sizeof common, ICC_WIN95_CLASSES};
    InitCommonControlsEx(&common);
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = &Win32Window::Procedure;
    wc.hInstance = instance;
    wc.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(kIconResource));
    wc.hIconSm = wc.hIcon;
    wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // the arrow
    wc.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
    wc.lpszClassName = kWindowClass;
    RegisterClassExW(&wc);
    WNDCLASSW picture{};
    picture.lpfnWndProc = &Win32Window::PictureProcedure;
    picture.hInstance = instance;
    picture.hCursor = wc.hCursor;
    picture.lpszClassName = kPictureClass;
    RegisterClassW(&picture);

    // The face and size the layout was drawn for: 8.25 points at 96 dots per inch.
    font_ = CreateFontW(-11, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0, CLEARTYPE_QUALITY, 0, L"Microsoft Sans Serif");
    bold_ = CreateFontW(-11, 0, 0, 0, FW_BOLD, 0, 0, 0, DEFAULT_CHARSET, 0, 0, CLEARTYPE_QUALITY, 0, L"Microsoft Sans Serif");

    const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
    RECT frame{0, 0, Px(form_.geometry.width), Px(form_.geometry.height)};
    AdjustWindowRectEx(&frame, style, FALSE, WS_EX_CONTROLPARENT);
    hwnd_ = CreateWindowExW(WS_EX_CONTROLPARENT, kWindowClass, L"", style, CW_USEDEFAULT, CW_USEDEFAULT,
                            frame.right - frame.left, frame.bottom - frame.top, nullptr, nullptr, instance, nullptr);
    SetWindowLongPtrW(hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    tips_ = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP, CW_USEDEFAULT,
                            CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, hwnd_, nullptr, instance, nullptr);
    SendMessageW(tips_, TTM_SETMAXTIPWIDTH, 0, 400);

    // Win32's tab order is the Z order: fields in tabIndex order on top, then what
    // takes no focus, captions last, beneath everything.
    std::vector<Control*> order = model.controls;
    const auto rank = [](const Control* c) {
        if (dynamic_cast<const Label*>(c)) return 2;
        return c->tabIndex >= 0 ? 0 : 1;
    };
    std::stable_sort(order.begin(), order.end(), [&](const Control* a, const Control* b) {
        if (rank(a) != rank(b)) return rank(a) < rank(b);
        return rank(a) == 0 && a->tabIndex < b->tabIndex;
    });
    int id = kFirstId;
    for (Control* control : order) Create(*control, id++);

    form_.Changed = [this] { MirrorForm(); };
    MirrorForm();
}

Win32Window::~Win32Window() {
    for (auto& [id, view] : views_) {
        view.model->Changed = nullptr;
        if (view.list) RemoveWindowSubclass(view.list, &Win32Window::ListProcedure, static_cast<UINT_PTR>(id));
    }
    form_.Changed = nullptr;
    if (IsWindow(hwnd_)) {
        SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
        DestroyWindow(hwnd_);
    }
    DeleteObject(font_);
    DeleteObject(bold_);
    for (const auto& [colour, brush] : brushes_) DeleteObject(brush);
}

void Win32Window::Create(Control& model, int id) {
    const Geometry& g = model.geometry;
    int height = Px(g.height);
    const wchar_t* cls = L"STATIC";
    DWORD style = WS_CHILD;
    DWORD exStyle = 0;
    if (model.tabIndex >= 0) style |= WS_TABSTOP;
    if (dynamic_cast<ComboBox*>(&model)) {
        cls = L"COMBOBOX";
        style |= CBS_DROPDOWN | CBS_AUTOHSCROLL | WS_VSCROLL;
        height += kComboListPixels;
    } else if (auto* check = dynamic_cast<CheckBox*>(&model)) {
        cls = L"BUTTON";
        style |= BS_3STATE | (check->captionLeft ? BS_LEFTTEXT | BS_RIGHT : 0);
    } else if (dynamic_cast<TextBox*>(&model)) {
        cls = L"EDIT";
        style |= ES_AUTOHSCROLL;
        exStyle |= WS_EX_CLIENTEDGE;
    } else if (dynamic_cast<Image*>(&model)) {
        cls = kPictureClass;
    } else if (auto* label = dynamic_cast<Label*>(&model)) {
        const bool multiLine = g.height >= 2 * 195;
        style |= label->align == Label::Align::Right ? SS_RIGHT : label->align == Label::Align::Centre ? SS_CENTER : SS_LEFT;
        // Centred on the height: captions sit level with their fields' text.
        if (!multiLine) style |= SS_CENTERIMAGE;
        style |= SS_NOPREFIX;
    } else {
        return;
    }
    const HWND hwnd = CreateWindowExW(exStyle, cls, L"", style, Px(g.left), Px(g.top), Px(g.width), height, hwnd_,
                                      reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
    SetWindowPos(hwnd, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    const auto* label = dynamic_cast<Label*>(&model);
    SendMessageW(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(label && label->bold ? bold_ : font_), FALSE);
    View view{&model, hwnd, nullptr, nullptr};
    if (dynamic_cast<ComboBox*>(&model)) {
        COMBOBOXINFO info{};
        info.cbSize = sizeof info;
        if (GetComboBoxInfo(hwnd, &info)) {
            view.edit = info.hwndItem;
            view.list = info.hwndList;
            // The box is as narrow as the original's: no margin, so COM256 fits beside the arrow.
            SendMessageW(view.edit, EM_SETMARGINS, EC_LEFTMARGIN | EC_RIGHTMARGIN, MAKELPARAM(0, 0));
            // Picked from, never typed into. Not CBS_DROPDOWNLIST: that shows only
            // entries of its list, and the box must also show "ON-LINE", which is none.
            if (static_cast<ComboBox&>(model).listOnly) SendMessageW(view.edit, EM_SETREADONLY, TRUE, 0);
        }
    }
    // Key releases in a text box are the model's KeyUp.
    if (dynamic_cast<TextBox*>(&model)) {
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        const LONG_PTR old = SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&Win32Window::EditProcedure));
        SetPropW(hwnd, L"OvrinEditProc", reinterpret_cast<HANDLE>(old));
        SetPropW(hwnd, L"OvrinId", reinterpret_cast<HANDLE>(static_cast<INT_PTR>(id)));
    }
    if (dynamic_cast<Image*>(&model)) SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&model));
    views_[id] = view;
    if (view.list) TipEachEntry(views_[id], id);
    model.Changed = [this, id] { Mirror(views_[id]); };
    Mirror(views_[id]);
}

void Win32Window::SetTip(HWND control, const std::string& tip) {
    std::string& known = tipTexts_[control];
    if (known == tip && !tip.empty()) return;
    std::wstring text = Wide(tip);
    TOOLINFOW info{};
    info.cbSize = sizeof info;
    info.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    info.hwnd = hwnd_;
    info.uId = reinterpret_cast<UINT_PTR>(control);
    info.lpszText = text.data();
    if (known.empty() && !tip.empty()) SendMessageW(tips_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&info));
    else if (tip.empty()) SendMessageW(tips_, TTM_DELTOOLW, 0, reinterpret_cast<LPARAM>(&info));
    else SendMessageW(tips_, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&info));
    known = tip;
}

// Each entry of a drop-down list shows its own tip (the COM list: the device behind
// the port): the tip asks for its text, and a move to another entry hides it, so
// that it comes back with that entry's.
void Win32Window::TipEachEntry(View& view, int id) {
    TOOLINFOW info{};
    info.cbSize = sizeof info;
    info.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    info.hwnd = hwnd_;
    info.uId = reinterpret_cast<UINT_PTR>(view.list);
    info.lpszText = LPSTR_TEXTCALLBACKW;
    SendMessageW(tips_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&info));
    SetWindowSubclass(view.list, &Win32Window::ListProcedure, static_cast<UINT_PTR>(id), reinterpret_cast<DWORD_PTR>(this));
}

void Win32Window::EntryTip(NMTTDISPINFOW& asked) {
    entryTip_.clear();
    for (const auto& [id, view] : views_) {
        if (!view.list || reinterpret_cast<HWND>(asked.hdr.idFrom) != view.list) continue;
        const auto* box = static_cast<const ComboBox*>(view.model);
        if (view.hover >= 0 && view.hover < box->ListCount()) entryTip_ = Wide(box->ItemToolTip(view.hover));
    }
    asked.hinst = nullptr;
    asked.lpszText = entryTip_.data();
}

void Win32Window::MirrorCommon(View& view) {
    const Control& m = *view.model;
    EnableWindow(view.hwnd, m.Enabled());
    SetTip(view.hwnd, m.ToolTip());
    if (view.edit) SetTip(view.edit, m.ToolTip());
    const bool show = m.Visible() && !m.hidden;
    if ((IsWindowVisible(view.hwnd) != FALSE) != show) ShowWindow(view.hwnd, show ? SW_SHOWNA : SW_HIDE);
}

void Win32Window::Mirror(View& view) {
    mirroring_ = true;
    const HWND w = view.hwnd;
    if (auto* box = dynamic_cast<ComboBox*>(view.model)) {
        bool same = SendMessageW(w, CB_GETCOUNT, 0, 0) == box->ListCount();
        for (int i = 0; same && i < box->ListCount(); ++i) {
            std::wstring item(static_cast<std::size_t>(SendMessageW(w, CB_GETLBTEXTLEN, static_cast<WPARAM>(i), 0)) + 1, L'\0');
            item.resize(static_cast<std::size_t>(SendMessageW(w, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(item.data()))));
            same = item == Wide(box->List(i));
        }
        if (!same) {
            SendMessageW(w, CB_RESETCONTENT, 0, 0);
            for (int i = 0; i < box->ListCount(); ++i)
                SendMessageW(w, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Wide(box->List(i)).c_str()));
        }
        if (SendMessageW(w, CB_GETCURSEL, 0, 0) != box->ListIndex()) SendMessageW(w, CB_SETCURSEL, static_cast<WPARAM>(box->ListIndex()), 0);
        // An editable box may show a text that is no entry of its list.
        SetTextIfChanged(view.edit ? view.edit : w, Wide(box->Text()));
    } else if (auto* check = dynamic_cast<CheckBox*>(view.model)) {
        SetTextIfChanged(w, Wide(check->caption));
        const WPARAM state = check->Value() == 1 ? BST_CHECKED : check->Value() == 2 ? BST_INDETERMINATE : BST_UNCHECKED;
        if (static_cast<WPARAM>(SendMessageW(w, BM_GETCHECK, 0, 0)) != state) SendMessageW(w, BM_SETCHECK, state, 0);
        InvalidateRect(w, nullptr, TRUE);  // the back colour
    } else if (auto* text = dynamic_cast<TextBox*>(view.model)) {
        SendMessageW(w, EM_LIMITTEXT, static_cast<WPARAM>(text->maxLength > 0 ? text->maxLength : 32767), 0);
        SendMessageW(w, EM_SETREADONLY, text->locked, 0);
        SetTextIfChanged(w, Wide(text->Text()));
    } else if (auto* label = dynamic_cast<Label*>(view.model)) {
        SetTextIfChanged(w, CaptionText(label->Caption(), label->geometry.height >= 2 * 195));
    } else if (auto* image = dynamic_cast<Image*>(view.model)) {
        (void)image;
        InvalidateRect(w, nullptr, FALSE);
        UpdateWindow(w);  // Refresh means now
    }
    MirrorCommon(view);
    mirroring_ = false;
}

void Win32Window::MirrorForm() {
    SetTextIfChanged(hwnd_, Wide(form_.Caption()));
    if (form_.Shown() && !IsWindowVisible(hwnd_)) {
        ShowWindow(hwnd_, SW_SHOW);
        UpdateWindow(hwnd_);
    }
}

void Win32Window::Command(int id, int code) {
    if (mirroring_) return;
    const auto found = views_.find(id);
    if (found == views_.end()) return;
    View& view = found->second;
    Control& model = *view.model;
    Shield(model.name, [&] {
        if (auto* box = dynamic_cast<ComboBox*>(&model)) {
            if (code == CBN_SELCHANGE) {
                const auto index = static_cast<int>(SendMessageW(view.hwnd, CB_GETCURSEL, 0, 0));
                if (index >= 0) box->SetListIndex(index);
            } else if (code == CBN_EDITCHANGE) {
                box->UserEdit(Utf8(TextOf(view.edit ? view.edit : view.hwnd)));
            }
        } else if (auto* check = dynamic_cast<CheckBox*>(&model)) {
            if (code == BN_CLICKED) check->SetValue(check->Value() == 1 ? 0 : 1);
        } else if (auto* text = dynamic_cast<TextBox*>(&model)) {
            // Pasting with the mouse changes the text without a key.
            if (code == EN_CHANGE) text->UserEdit(Utf8(TextOf(view.hwnd)));
        }
    });
    // The handler may have set it back.
    if (code == CBN_SELCHANGE || code == BN_CLICKED) Mirror(view);
}

LRESULT Win32Window::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_COMMAND:
            Command(LOWORD(wParam), HIWORD(wParam));
            return 0;
        case WM_CTLCOLORSTATIC:
        case WM_CTLCOLORBTN: {
            const auto control = reinterpret_cast<HWND>(lParam);
            for (const auto& [id, view] : views_) {
                const auto* check = dynamic_cast<const CheckBox*>(view.model);
                if (view.hwnd != control || !check || (check->BackColor() & 0x80000000u)) continue;
                const COLORREF colour = check->BackColor() & 0xFFFFFF;
                HBRUSH& brush = brushes_[colour];
                if (!brush) brush = CreateSolidBrush(colour);
                SetBkColor(reinterpret_cast<HDC>(wParam), colour);
                return reinterpret_cast<LRESULT>(brush);
            }
            SetBkColor(reinterpret_cast<HDC>(wParam), GetSysColor(COLOR_BTNFACE));
            return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
        }
        case WM_CLOSE:
            Shield("Form_Unload", [this] {
                if (form_.Unload) form_.Unload();
                else PostQuitMessage(0);
            });
            ShowWindow(hwnd_, SW_HIDE);
            if (Closed) Closed();
            return 0;
        case WM_ENDSESSION:
            if (wParam) {
                Shield("Form_Unload", [this] {
                    if (form_.Unload) form_.Unload();
                });
                if (Closed) Closed();
            }
            return 0;
        case WM_NOTIFY: {
            auto* header = reinterpret_cast<NMHDR*>(lParam);
            if (header->hwndFrom == tips_ && header->code == TTN_GETDISPINFOW)
                EntryTip(*reinterpret_cast<NMTTDISPINFOW*>(lParam));
            return 0;
        }
        default: break;
    }
    return DefWindowProcW(hwnd_, message, wParam, lParam);
}

LRESULT CALLBACK Win32Window::Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    Win32Window* self = Self(hwnd);
    return self ? self->Handle(message, wParam, lParam) : DefWindowProcW(hwnd, message, wParam, lParam);
}

LRESULT CALLBACK Win32Window::EditProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    const auto old = reinterpret_cast<WNDPROC>(GetPropW(hwnd, L"OvrinEditProc"));
    const LRESULT result = CallWindowProcW(old, hwnd, message, wParam, lParam);
    Win32Window* self = Self(hwnd);
    if (message == WM_KEYUP && self) {
        const int id = static_cast<int>(reinterpret_cast<INT_PTR>(GetPropW(hwnd, L"OvrinId")));
        View& view = self->views_[id];
        auto* model = static_cast<TextBox*>(view.model);
        Shield(model->name, [&] {
            model->SetText(Utf8(TextOf(hwnd)));
            if (model->KeyUp) model->KeyUp();
        });
        self->Mirror(view);
    }
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(old));
        RemovePropW(hwnd, L"OvrinEditProc");
        RemovePropW(hwnd, L"OvrinId");
    }
    return result;
}

LRESULT CALLBACK Win32Window::ListProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                           DWORD_PTR window) {
    auto* self = reinterpret_cast<Win32Window*>(window);
    const auto found = self->views_.find(static_cast<int>(id));
    if (message == WM_MOUSEMOVE && found != self->views_.end()) {
        const LRESULT at = SendMessageW(hwnd, LB_ITEMFROMPOINT, 0, lParam);
        const int entry = HIWORD(at) ? -1 : static_cast<int>(LOWORD(at));
        if (entry != found->second.hover) {
            found->second.hover = entry;
            SendMessageW(self->tips_, TTM_POP, 0, 0);
        }
    }
    if (message == WM_NCDESTROY) RemoveWindowSubclass(hwnd, &Win32Window::ListProcedure, id);
    return DefSubclassProc(hwnd, message, wParam, lParam);
}

LRESULT CALLBACK Win32Window::PictureProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* model = reinterpret_cast<Image*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (message == WM_PAINT) {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(hwnd, &paint);
        RECT all;
        GetClientRect(hwnd, &all);
        FillRect(dc, &all, GetSysColorBrush(COLOR_BTNFACE));
        const Win32Window* window = Self(GetParent(hwnd));
        HBITMAP picture = model && window ? window->pictures_.Picture(model->Picture()) : nullptr;
        if (picture) {
            HDC source = CreateCompatibleDC(dc);
            HGDIOBJ old = SelectObject(source, picture);
            BitBlt(dc, 0, 0, shapes::kStatusWidth, shapes::kStatusHeight, source, 0, 0, SRCCOPY);
            SelectObject(source, old);
            DeleteDC(source);
        }
        EndPaint(hwnd, &paint);
        return 0;
    }
    if (message == WM_LBUTTONUP && model) {
        Shield(model->name, [model] {
            if (model->Click) model->Click();
        });
        return 0;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

}  // namespace ovrin::win32
