#pragma once
// Models of the window's controls. They hold all the state; a view only mirrors
// them (through Changed) and forwards user actions to them. Their event rules are
// the ones the handlers rely on:
//  - setting a combo box's ListIndex raises Click at once, every time; setting its
//    Text raises nothing;
//  - setting a check box's Value raises Click at once when the value changes, and a
//    value outside 0..2 is refused;
//  - a text box holds at most MaxLength characters; KeyUp is raised by the view;
//  - Change is raised when the user edits a combo box's or a text box's text
//    (typing, pasting), never when code sets it.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "base/Errors.h"
#include "text/Text.h"

namespace ovrin {

// Colours are 0x00BBGGRR; the top bit names a system colour.
inline constexpr uint32_t kColourRed = 0x000000FF;
inline constexpr uint32_t kColourButtonFace = 0x8000000F;

struct Geometry {
    int left = 0, top = 0, width = 0, height = 0;  // twips
};

class Control {
public:
    Control() = default;
    Control(const Control&) = delete;
    Control& operator=(const Control&) = delete;
    virtual ~Control() = default;

    bool Enabled() const { return enabled_; }
    void SetEnabled(bool on);
    bool Visible() const { return visible_; }
    void SetVisible(bool on);
    const std::string& ToolTip() const { return toolTip_; }
    void SetToolTip(std::string tip);

    std::string name;      // the control's name, for views and diagnostics
    int index = -1;        // its index in a control array (Label1(12)); -1: none
    Geometry geometry;
    int tabIndex = -1;     // -1: not in the tab order
    bool hidden = false;   // exists and holds its value, but is never shown

    // The view's mirror hook: called after any property changes.
    std::function<void()> Changed;

protected:
    void Notify() const {
        if (Changed) Changed();
    }

private:
    bool enabled_ = true;
    bool visible_ = true;
    std::string toolTip_;
};

class ComboBox : public Control {
public:
    const std::string& Text() const { return text_; }
    // Sets the text without raising Click; the list index follows the text
    // (the entry that reads exactly so, or -1).
    void SetText(std::string text);

    int ListIndex() const { return listIndex_; }
    // -1 clears the selection; an index outside the list is refused.
    void SetListIndex(int index);

    int ListCount() const { return static_cast<int>(items_.size()); }
    const std::string& List(int index) const;
    const std::string& ItemToolTip(int index) const;
    void AddItem(std::string item, std::string toolTip = {});
    void Clear();
    // The user typed or pasted: the text, then Change.
    void UserEdit(std::string text);

    std::function<void()> Click;
    std::function<void()> Change;

    // A drop-down list: the user picks an entry and cannot type. Code may still
    // set a text that is no entry ("ON-LINE"), and the box shows it.
    bool listOnly = false;

private:
    std::string text_;
    int listIndex_ = -1;
    std::vector<std::string> items_;
    std::vector<std::string> itemTips_;
};

class CheckBox : public Control {
public:
    int Value() const { return value_; }
    void SetValue(int value);  // throws PlatformError outside 0..2
    // The same without Click: for code that shows a settings value, whose rules
    // it has applied already.
    void ShowValue(int value);
    uint32_t BackColor() const { return backColor_; }
    void SetBackColor(uint32_t colour);

    std::string caption;
    bool captionLeft = false;
    std::function<void()> Click;

private:
    int value_ = 0;
    uint32_t backColor_ = kColourButtonFace;
};

class TextBox : public Control {
public:
    const std::string& Text() const { return text_; }
    void SetText(std::string text);  // cut to MaxLength characters when set
    // The user typed or pasted: the text, then Change.
    void UserEdit(std::string text);
    int maxLength = 0;               // 0: no limit
    bool locked = false;             // read-only
    std::function<void()> KeyUp;
    std::function<void()> Change;

private:
    std::string text_;
};

class Label : public Control {
public:
    const std::string& Caption() const { return caption_; }
    void SetCaption(std::string caption);
    enum class Align { Left, Right, Centre } align = Align::Left;
    bool bold = false;

private:
    std::string caption_;
};

// A fixed list of picture keys; looking up a key it does not hold fails.
class ImageList {
public:
    explicit ImageList(std::vector<std::string> keys) : keys_(std::move(keys)) {}
    const std::vector<std::string>& Keys() const { return keys_; }
    const std::string& ListImages(const std::string& key) const;  // throws if missing

private:
    std::vector<std::string> keys_;
};

class Image : public Control {
public:
    const std::string& Picture() const { return picture_; }
    void SetPicture(const std::string& key);
    void Refresh();  // repaint now
    int refreshCount() const { return refreshes_; }
    std::function<void()> Click;

private:
    std::string picture_;
    int refreshes_ = 0;
};

// The window itself: its caption and whether it has been shown.
class Window : public Control {
public:
    const std::string& Caption() const { return caption_; }
    void SetCaption(std::string caption);
    bool Shown() const { return shown_; }
    void Show();
    std::function<void()> Unload;  // the user closes the window

private:
    std::string caption_;
    bool shown_ = false;
};

// What a view shows: the form and every control in creation order (which decides
// what is on top where controls overlap).
struct WindowModel {
    Window& form;
    std::vector<Control*> controls;
};

}  // namespace ovrin
