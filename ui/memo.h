// Memos: multi-line text with access by line. Text holds the lines joined by CR LF; a text given to it
// may break lines with CR LF, LF or CR.
#pragma once

#include "ui/control.h"

#include <string>
#include <vector>

class QPlainTextEdit;

namespace ui {

class TMemo;

// The lines of a memo, kept in step with what it shows (also after the user typed into it).
class TMemoLines {
public:
    int Count() const { return static_cast<int>(lines_.size()); }
    // Empty for an index out of range.
    std::string operator[](int index) const;
    void Add(const std::string& line);
    void Delete(int index);
    void Clear();
    void Assign(const std::vector<std::string>& lines);
    // Every line followed by CR LF.
    std::string Text() const;
    void SetText(const std::string& text);
    // Writes Text to the file (replaced); false when it cannot be written.
    bool SaveToFile(const std::string& path) const;

private:
    friend class TMemo;
    explicit TMemoLines(TMemo& memo) : memo_(memo) {}
    void Show();
    TMemo& memo_;
    std::vector<std::string> lines_;
};

class TMemo : public TControl {
public:
    explicit TMemo(TControl* parent);
    TMemoLines& Lines() { return lines_; }
    const TMemoLines& Lines() const { return lines_; }
    // The lines joined by CR LF, without one after the last.
    std::string Text() const;
    void SetText(const std::string& text) { lines_.SetText(text); }
    void SetReadOnly(bool readOnly);
    bool ReadOnly() const;
    void SetWordWrap(bool wrap);
    // The vertical scroll bar stays on show, also while every line fits.
    void ShowVerticalScrollBar();
    // Shows the last lines.
    void ScrollToEnd();

private:
    friend class TMemoLines;
    QPlainTextEdit* Editor() const;
    TMemoLines lines_;
    bool updating_ = false;
};

// Splits at CR LF, LF or CR; a break at the very end makes no empty line after it.
std::vector<std::string> SplitLines(const std::string& text);

} // namespace ui
