#include "platform/Controls.h"

#include <algorithm>

namespace ovrin {

void Control::SetEnabled(bool on) {
    enabled_ = on;
    Notify();
}

void Control::SetVisible(bool on) {
    visible_ = on;
    Notify();
}

void Control::SetToolTip(std::string tip) {
    toolTip_ = std::move(tip);
    Notify();
}

void ComboBox::SetText(std::string text) {
    text_ = std::move(text);
    const auto found = std::find(items_.begin(), items_.end(), text_);
    listIndex_ = found == items_.end() ? -1 : static_cast<int>(found - items_.begin());
    Notify();
}

void ComboBox::UserEdit(std::string text) {
    SetText(std::move(text));
    if (Change) Change();
}

void ComboBox::SetListIndex(int index) {
    if (index < -1 || index >= ListCount()) throw PlatformError(kInvalidPropertyValue);
    listIndex_ = index;
    if (index >= 0) text_ = items_[static_cast<std::size_t>(index)];
    Notify();
    if (Click) Click();
}

const std::string& ComboBox::List(int index) const {
    if (index < 0 || index >= ListCount()) throw PlatformError(kInvalidPropertyValue);
    return items_[static_cast<std::size_t>(index)];
}

const std::string& ComboBox::ItemToolTip(int index) const {
    if (index < 0 || index >= ListCount()) throw PlatformError(kInvalidPropertyValue);
    return itemTips_[static_cast<std::size_t>(index)];
}

void ComboBox::AddItem(std::string item, std::string toolTip) {
    items_.push_back(std::move(item));
    itemTips_.push_back(std::move(toolTip));
    Notify();
}

void ComboBox::Clear() {
    items_.clear();
    itemTips_.clear();
    listIndex_ = -1;
    Notify();
}

void CheckBox::SetValue(int value) {
    if (value < 0 || value > 2) throw PlatformError(kInvalidPropertyValue);
    if (value == value_) return;
    value_ = value;
    Notify();
    if (Click) Click();
}

void CheckBox::ShowValue(int value) {
    if (value < 0 || value > 2) throw PlatformError(kInvalidPropertyValue);
    if (value == value_) return;
    value_ = value;
    Notify();
}

void CheckBox::SetBackColor(uint32_t colour) {
    backColor_ = colour;
    Notify();
}

// The limit counts characters: the text is UTF-8, and a cut inside a character
// would leave a broken one behind.
void TextBox::SetText(std::string text) {
    if (maxLength > 0) {
        int characters = 0;
        for (std::size_t i = 0; i < text.size(); ++i) {
            const bool startsCharacter = (static_cast<unsigned char>(text[i]) & 0xC0) != 0x80;
            if (startsCharacter && ++characters > maxLength) {
                text.resize(i);
                break;
            }
        }
    }
    text_ = std::move(text);
    Notify();
}

void TextBox::UserEdit(std::string text) {
    SetText(std::move(text));
    if (Change) Change();
}

void Label::SetCaption(std::string caption) {
    caption_ = std::move(caption);
    Notify();
}

const std::string& ImageList::ListImages(const std::string& key) const {
    const auto found = std::find(keys_.begin(), keys_.end(), key);
    if (found == keys_.end()) throw PlatformError("Element not found");
    return *found;
}

void Image::SetPicture(const std::string& key) {
    picture_ = key;
    Notify();
}

void Image::Refresh() {
    ++refreshes_;
    Notify();
}

void Window::SetCaption(std::string caption) {
    caption_ = std::move(caption);
    Notify();
}

void Window::Show() {
    shown_ = true;
    Notify();
}

}  // namespace ovrin
