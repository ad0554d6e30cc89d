#include "styledbuttons/pixels/gradient.h"

#include "platform/text.h"
#include "styledbuttons/pixels/utils.h"

#include <algorithm>
#include <cmath>
#include <string>

namespace styledbuttons {

namespace {

int32_t GradientWord(std::string_view text, int n) {
    const std::string word = CopyDelimitedWord(n, text, ";");
    int32_t value = 0;
    if (!platform::TryStrToInt(word, value))
        throw EConvertError("'" + word + "' is not a valid integer value");
    return value;
}

// The running channel values of one stop: they start at the first colour and reach the second
// after n steps.
class Ramp {
public:
    Ramp(const TGradientStop& stop, int n) {
        uint8_t a[3];
        uint8_t b[3];
        SplitColour(stop.Color1, a);
        SplitColour(stop.Color2, b);
        for (int k = 0; k < 3; ++k) {
            value_[k] = a[k];
            step_[k] = (static_cast<double>(b[k]) - a[k]) / n;
        }
    }
    void Current(uint8_t out[3]) const {
        for (int k = 0; k < 3; ++k)
            out[k] = static_cast<uint8_t>(std::clamp(std::nearbyint(value_[k]), 0.0, 255.0));
    }
    void Advance() {
        for (int k = 0; k < 3; ++k)
            value_[k] += step_[k];
    }

private:
    double value_[3] = {};
    double step_[3] = {};
};

void PaintRows(Bitmap24& bitmap, const TRect& r, const TGradientArray& stops) {
    const int lastRow = bitmap.Height() - 1;
    const int right = std::min(r.Right, bitmap.Width());
    int p = r.Top;
    for (size_t i = 0; i < stops.size(); ++i) {
        const bool last = i + 1 == stops.size();
        const int start = p;
        int end = last ? lastRow : start + stops[i].Percent * HeightOf(r) / 100;
        p = end;
        if (end - start <= 0) continue;
        if (last || end > lastRow) end = std::min(r.Bottom - 1, lastRow);
        p = end;
        const int n = end - start;
        if (n == 0) return;
        if (n < 0) continue;
        Ramp ramp(stops[i], n);
        for (int y = start; y <= end; ++y) {
            uint8_t px[3];
            ramp.Current(px);
            uint8_t* row = bitmap.Row(y);
            for (int x = r.Left; x < right; ++x)
                std::copy(px, px + 3, row + x * 3);
            ramp.Advance();
        }
    }
}

void PaintColumns(Bitmap24& bitmap, const TRect& r, const TGradientArray& stops) {
    const int lastColumn = bitmap.Width() - 1;
    for (int y = r.Top; y < r.Bottom; ++y) {
        uint8_t* row = bitmap.Row(y);
        int p = r.Left;
        for (size_t i = 0; i < stops.size(); ++i) {
            const bool last = i + 1 == stops.size();
            const int start = p;
            const int end = last ? lastColumn : start + stops[i].Percent * WidthOf(r) / 100;
            p = end;
            if (end - start <= 0) continue;
            Ramp ramp(stops[i], end - start);
            for (int x = start; x <= end; ++x) {
                if (x <= lastColumn) ramp.Current(row + x * 3);
                ramp.Advance();
            }
        }
    }
}

} // namespace

void ParseGradientData(std::string_view text, TGradientArray& stops) {
    stops.clear();
    const int count = CountDelimitedWords(text, ";") / 5;
    stops.resize(count);
    for (int i = 0; i < count; ++i) {
        TGradientStop& s = stops[i];
        s.Color1 = static_cast<TColor>(GradientWord(text, 5 * i + 1));
        s.Color2 = static_cast<TColor>(GradientWord(text, 5 * i + 2));
        s.Percent = static_cast<uint8_t>(GradientWord(text, 5 * i + 3));
        s.Mode = GradientWord(text, 5 * i + 4);
    }
}

void PaintGradient(Bitmap24& bitmap, TRect rect, const TGradientArray& stops) {
    rect.Right = std::min(rect.Right, bitmap.Width());
    rect.Bottom = std::min(rect.Bottom, bitmap.Height());
    rect.Left = std::max(rect.Left, 0);
    rect.Top = std::max(rect.Top, 0);
    if (stops.empty()) return;
    if (stops[0].Mode == 0)
        PaintRows(bitmap, rect, stops);
    else if (stops[0].Mode == 1)
        PaintColumns(bitmap, rect, stops);
}

} // namespace styledbuttons
