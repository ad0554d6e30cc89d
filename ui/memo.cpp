#include "ui/memo.h"

#include "ui/application.h"

#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <cstdio>

namespace ui {

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    size_t i = 0;
    while (i < text.size()) {
        const char c = text[i];
        if (c != '\r' && c != '\n') {
            ++i;
            continue;
        }
        lines.push_back(text.substr(start, i - start));
        i += (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ? 2 : 1;
        start = i;
    }
    if (start < text.size()) lines.push_back(text.substr(start));
    return lines;
}

namespace {

std::string Join(const std::vector<std::string>& lines, bool trailing) {
    std::string out;
    for (size_t i = 0; i < lines.size(); ++i) {
        out += lines[i];
        if (trailing || i + 1 < lines.size()) out += "\r\n";
    }
    return out;
}

} // namespace

std::string TMemoLines::operator[](int index) const {
    return index >= 0 && index < Count() ? lines_[static_cast<size_t>(index)] : std::string();
}

void TMemoLines::Add(const std::string& line) {
    // A line holding breaks becomes several, as the control shows it.
    std::vector<std::string> added = SplitLines(line);
    if (added.empty()) added.emplace_back();
    QPlainTextEdit* editor = memo_.Editor();
    for (const std::string& l : added) {
        lines_.push_back(l);
        if (editor == nullptr) continue;
        memo_.updating_ = true;
        if (lines_.size() == 1) {
            editor->setPlainText(ToQt(l));
        } else {
            editor->appendPlainText(ToQt(l));
        }
        memo_.updating_ = false;
    }
}

void TMemoLines::Delete(int index) {
    if (index < 0 || index >= Count()) return;
    lines_.erase(lines_.begin() + index);
    QPlainTextEdit* editor = memo_.Editor();
    if (editor == nullptr) return;
    if (lines_.empty()) {
        Show();
        return;
    }
    // Only that block goes, so that trimming a long log stays cheap.
    memo_.updating_ = true;
    QTextCursor cursor(editor->document()->findBlockByNumber(index));
    cursor.select(QTextCursor::BlockUnderCursor);
    if (index == 0) {
        cursor.movePosition(QTextCursor::StartOfBlock);
        cursor.movePosition(QTextCursor::NextBlock, QTextCursor::KeepAnchor);
    }
    cursor.removeSelectedText();
    memo_.updating_ = false;
}

void TMemoLines::Clear() {
    lines_.clear();
    Show();
}

void TMemoLines::Assign(const std::vector<std::string>& lines) {
    lines_.clear();
    for (const std::string& line : lines) {
        std::vector<std::string> parts = SplitLines(line);
        if (parts.empty()) parts.emplace_back();
        lines_.insert(lines_.end(), parts.begin(), parts.end());
    }
    Show();
}

std::string TMemoLines::Text() const {
    return Join(lines_, true);
}

void TMemoLines::SetText(const std::string& text) {
    lines_ = SplitLines(text);
    Show();
}

bool TMemoLines::SaveToFile(const std::string& path) const {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return false;
    const std::string text = Text();
    const bool written = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    return std::fclose(f) == 0 && written;
}

void TMemoLines::Show() {
    QPlainTextEdit* editor = memo_.Editor();
    if (editor == nullptr) return;
    memo_.updating_ = true;
    editor->setPlainText(ToQt(Join(lines_, false)));
    memo_.updating_ = false;
}

TMemo::TMemo(TControl* parent) : TControl(MakeWidget<QPlainTextEdit>(), parent), lines_(*this) {
    QObject::connect(Editor(), &QPlainTextEdit::textChanged, Editor(), [this] {
        if (updating_ || Editor() == nullptr) return;
        // The user typed: the lines follow the control.
        RunHandler([this] {
            const std::string text = FromQt(Editor()->toPlainText());
            lines_.lines_ = SplitLines(text);
            if (!text.empty() && (text.back() == '\n' || text.back() == '\r')) lines_.lines_.emplace_back();
        });
    });
}

QPlainTextEdit* TMemo::Editor() const {
    return static_cast<QPlainTextEdit*>(Widget());
}

std::string TMemo::Text() const {
    return Join(lines_.lines_, false);
}

void TMemo::SetReadOnly(bool readOnly) {
    if (Editor()) Editor()->setReadOnly(readOnly);
}

bool TMemo::ReadOnly() const {
    return Editor() && Editor()->isReadOnly();
}

void TMemo::SetWordWrap(bool wrap) {
    if (Editor()) Editor()->setLineWrapMode(wrap ? QPlainTextEdit::WidgetWidth : QPlainTextEdit::NoWrap);
}

void TMemo::ShowVerticalScrollBar() {
    if (Editor()) Editor()->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
}

void TMemo::ScrollToEnd() {
    if (Editor()) Editor()->verticalScrollBar()->setValue(Editor()->verticalScrollBar()->maximum());
}

} // namespace ui
