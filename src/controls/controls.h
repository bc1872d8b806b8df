// The main window's controls as plain values: what the program logic reads and writes.
// The visible window binds its widgets on top of these (see app/).
//
// The change rule: when code puts a value into a check box or an edit field, that control's
// change handler runs exactly as for a user's change, provided the value really changes.
// Selecting a list item from code runs no handler; a user's pick (UserSelect) does.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "util/no_case.h" // the ordering of every sorted list

namespace vexo {

// Common state of every control. Changed() tells the bound widget to refresh itself.
class TControl {
public:
    explicit TControl(std::string name) : Name(std::move(name)) {}
    TControl(const TControl&) = delete;
    TControl& operator=(const TControl&) = delete;

    const std::string Name;

    bool Enabled() const { return enabled_; }
    void SetEnabled(bool value);
    bool Visible() const { return visible_; }
    void SetVisible(bool value);

    // Set by the widget binding; called after every change made through this model.
    std::function<void()> Changed;

protected:
    void Notify() const {
        if (Changed)
            Changed();
    }

private:
    bool enabled_ = true;
    bool visible_ = true;
};

class TButton : public TControl {
public:
    using TControl::TControl;
};

class TCheckBox : public TControl {
public:
    TCheckBox(std::string name, bool checked) : TControl(std::move(name)), checked_(checked) {}
    bool Checked() const { return checked_; }
    // Runs OnClick when the state flips.
    void SetChecked(bool value);
    std::function<void()> OnClick;

private:
    bool checked_;
};

class TEdit : public TControl {
public:
    TEdit(std::string name, std::string text = {})
        : TControl(std::move(name)), text_(std::move(text)) {}
    const std::string& Text() const { return text_; }
    // Runs OnChange when the text becomes different.
    void SetText(const std::string& value);
    std::function<void()> OnChange;

    int SelStart() const { return selStart_; }
    int SelLength() const { return selLength_; }
    void SetSelection(int start, int length);

private:
    std::string text_;
    int selStart_ = 0;
    int selLength_ = 0;
};

// A drop-down list, pick only. Sorted lists insert each item at its sorted position.
class TComboBox : public TControl {
public:
    TComboBox(std::string name, bool sorted) : TControl(std::move(name)), sorted_(sorted) {}
    const std::vector<std::string>& Items() const { return items_; }
    int ItemIndex() const { return itemIndex_; }
    // The selected item's text, or the empty text.
    std::string Text() const;

    void Clear();
    int Add(const std::string& item);
    // Index of an item equal to text without regard to case, or -1.
    int IndexOfNoCase(const std::string& text) const;
    // Selection from code: no handler runs.
    void SetItemIndex(int index);
    // A user's pick: selects and runs OnChange.
    void UserSelect(int index);
    std::function<void()> OnChange;

private:
    bool sorted_;
    std::vector<std::string> items_;
    int itemIndex_ = -1;
};

enum class TColor { clWindow, clBtnFace };

// A sorted list with a check box per item.
class TCheckListBox : public TControl {
public:
    explicit TCheckListBox(std::string name) : TControl(std::move(name)) {}
    struct Item {
        std::string text;
        bool checked = false;
    };
    const std::vector<Item>& Items() const { return items_; }
    int Count() const { return static_cast<int>(items_.size()); }
    const std::string& ItemText(int i) const { return items_.at(i).text; }
    bool Checked(int i) const { return items_.at(i).checked; }
    void SetChecked(int i, bool value);
    int CheckedCount() const;
    int ItemIndex() const { return itemIndex_; }
    void SetItemIndex(int index);
    // A user's click on an item: selects it and runs OnClick.
    void UserClick(int index);

    void Clear();
    int Add(const std::string& item);

    TColor Color() const { return color_; }
    void SetColor(TColor c);

    std::function<void()> OnClick;

private:
    std::vector<Item> items_;
    int itemIndex_ = -1;
    TColor color_ = TColor::clWindow;
};

class TStatusBar : public TControl {
public:
    using TControl::TControl;
    const std::string& SimpleText() const { return text_; }
    void SetSimpleText(const std::string& text);

private:
    std::string text_;
};

} // namespace vexo
