#include "controls/controls.h"

#include <algorithm>

namespace vexo {

void TControl::SetEnabled(bool value) {
    if (enabled_ == value)
        return;
    enabled_ = value;
    Notify();
}

void TControl::SetVisible(bool value) {
    if (visible_ == value)
        return;
    visible_ = value;
    Notify();
}

void TCheckBox::SetChecked(bool value) {
    if (checked_ == value)
        return;
    checked_ = value;
    Notify();
    if (OnClick)
        OnClick();
}

void TEdit::SetText(const std::string& value) {
    if (text_ == value)
        return;
    text_ = value;
    Notify();
    if (OnChange)
        OnChange();
}

void TEdit::SetSelection(int start, int length) {
    selStart_ = std::clamp(start, 0, static_cast<int>(text_.size()));
    selLength_ = std::clamp(length, 0, static_cast<int>(text_.size()) - selStart_);
    Notify();
}

std::string TComboBox::Text() const {
    return itemIndex_ >= 0 && itemIndex_ < static_cast<int>(items_.size()) ? items_[itemIndex_]
                                                                           : std::string();
}

void TComboBox::Clear() {
    items_.clear();
    itemIndex_ = -1;
    Notify();
}

int TComboBox::Add(const std::string& item) {
    auto pos =
        sorted_ ? std::upper_bound(items_.begin(), items_.end(), item, LessNoCase) : items_.end();
    int index = static_cast<int>(pos - items_.begin());
    items_.insert(pos, item);
    if (itemIndex_ >= index)
        ++itemIndex_;
    Notify();
    return index;
}

int TComboBox::IndexOfNoCase(const std::string& text) const {
    for (size_t i = 0; i < items_.size(); ++i)
        if (EqualNoCase(items_[i], text))
            return static_cast<int>(i);
    return -1;
}

void TComboBox::SetItemIndex(int index) {
    if (index < -1 || index >= static_cast<int>(items_.size()))
        index = -1;
    if (itemIndex_ == index)
        return;
    itemIndex_ = index;
    Notify();
}

void TComboBox::UserSelect(int index) {
    SetItemIndex(index);
    if (OnChange)
        OnChange();
}

void TCheckListBox::SetChecked(int i, bool value) {
    Item& item = items_.at(i);
    if (item.checked == value)
        return;
    item.checked = value;
    Notify();
}

int TCheckListBox::CheckedCount() const {
    return static_cast<int>(
        std::count_if(items_.begin(), items_.end(), [](const Item& i) { return i.checked; }));
}

void TCheckListBox::SetItemIndex(int index) {
    if (index < -1 || index >= Count())
        index = -1;
    if (itemIndex_ == index)
        return;
    itemIndex_ = index;
    Notify();
}

void TCheckListBox::UserClick(int index) {
    SetItemIndex(index);
    if (OnClick)
        OnClick();
}

void TCheckListBox::Clear() {
    items_.clear();
    itemIndex_ = -1;
    Notify();
}

int TCheckListBox::Add(const std::string& item) {
    auto pos =
        std::upper_bound(items_.begin(), items_.end(), item,
                         [](const std::string& t, const Item& i) { return LessNoCase(t, i.text); });
    int index = static_cast<int>(pos - items_.begin());
    items_.insert(pos, Item{item, false});
    if (itemIndex_ >= index)
        ++itemIndex_;
    Notify();
    return index;
}

void TCheckListBox::SetColor(TColor c) {
    if (color_ == c)
        return;
    color_ = c;
    Notify();
}

void TStatusBar::SetSimpleText(const std::string& text) {
    text_ = text;
    Notify();
}

} // namespace vexo
