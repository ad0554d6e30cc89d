#include "styledbuttons/canvas.h"

#include "styledbuttons/pixels/utils.h"
#include "ui/application.h"

#include <QFontMetrics>
#include <QPainter>

namespace styledbuttons {

QImage ImageOf(Bitmap24& bitmap) {
    if (bitmap.Empty()) return QImage();
    return QImage(bitmap.Bits(), bitmap.Width(), bitmap.Height(), bitmap.Stride(), QImage::Format_BGR888);
}

namespace {

void DrawTextIn(TCanvas& canvas, const QString& text, const TRect& box, unsigned flags, TColor colour) {
    QImage image = ImageOf(canvas.Bitmap);
    if (image.isNull()) return;
    QPainter painter(&image);
    painter.setFont(canvas.Font);
    const TColor c = ColorToRGB(colour);
    painter.setPen(QColor(RedOf(c), GreenOf(c), BlueOf(c)));
    const QRect r(box.Left, box.Top, WidthOf(box), HeightOf(box));
    painter.setClipRect(r);
    int align = Qt::AlignTop | Qt::TextShowMnemonic;
    align |= (flags & DT_CENTER) ? Qt::AlignHCenter : (flags & DT_RIGHT) ? Qt::AlignRight : Qt::AlignLeft;
    if (flags & DT_WORDBREAK) align |= Qt::TextWordWrap;
    painter.drawText(r, align, text);
}

} // namespace

void DrawCaptionText(TCanvas& canvas, const std::string& text, bool enabled, bool /*hot*/,
                     int /*skinSection*/, unsigned flags, TRect& rect) {
    const QString qtext = ui::ToQt(text);
    TRect box = rect;
    if (!(flags & DT_WORDBREAK)) {
        const QFontMetrics metrics(canvas.Font);
        const int w = metrics.horizontalAdvance(qtext);
        const int h = metrics.height();
        const int dy = (h - HeightOf(rect)) / 2;
        rect.Top -= dy;
        rect.Bottom += dy;
        if (flags & DT_CENTER) {
            const int dx = (w - WidthOf(rect)) / 2;
            rect.Left -= dx;
            rect.Right += dx;
        } else if (flags & DT_RIGHT) {
            rect.Left += WidthOf(rect) - w;
        } else {
            rect.Right += w - WidthOf(rect);
        }
        box = rect;
        rect = TRect{rect.Left - 1, rect.Top - 1, rect.Right + 1, rect.Bottom + 1};
    }
    if (text.empty()) return;
    if (enabled) {
        DrawTextIn(canvas, qtext, box, flags, canvas.FontColor);
        return;
    }
    DrawTextIn(canvas, qtext, TRect{box.Left + 1, box.Top + 1, box.Right + 1, box.Bottom + 1}, flags,
               clBtnHighlight);
    DrawTextIn(canvas, qtext, box, flags, clBtnShadow);
}

} // namespace styledbuttons
