#include "app/Controls.h"

#include <QComboBox>
#include <QFontMetrics>
#include <QPainter>
#include <QProxyStyle>

namespace {

class TScrollingListStyle : public QProxyStyle
{
public:
    int styleHint(StyleHint hint, const QStyleOption *option, const QWidget *widget,
                  QStyleHintReturn *returnData) const override
    {
        if (hint == SH_ComboBox_Popup)
            return 0;
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

} // namespace

void DropAsScrollingList(QComboBox *list)
{
    auto *style = new TScrollingListStyle;
    style->setParent(list);
    list->setStyle(style);
}

void KeepReadableWhenDisabled(QWidget *panel)
{
    QPalette pal = panel->palette();
    for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText,
                                     QPalette::Highlight, QPalette::HighlightedText})
        pal.setColor(QPalette::Disabled, role, pal.color(QPalette::Active, role));
    panel->setPalette(pal);
}

bool TStatusText::FitsWhole() const
{
    return fontMetrics().horizontalAdvance(text()) <= contentsRect().width();
}

void TStatusText::paintEvent(QPaintEvent *)
{
    QPalette pal = palette();
    pal.setCurrentColorGroup(QPalette::Active);
    QPainter p(this);
    // A status that names a file may not fit.
    const QString shown = FitsWhole() ? text()
            : fontMetrics().elidedText(text(), Qt::ElideMiddle, contentsRect().width());
    style()->drawItemText(&p, contentsRect(), int(alignment()), pal, true, shown,
                          foregroundRole());
}

QImage ResourcePicture(const QString &name)
{
    return QImage(QStringLiteral(":/pictures/") + name);
}

TPanel::TPanel(QWidget *parent, TBevel outer, bool innerFrame, bool corners, bool edgeMarks)
    : QFrame(parent), Outer(outer), InnerFrame(innerFrame), Corners(corners),
      EdgeMarks(edgeMarks)
{
}

static void DrawBevel(QPainter &p, const QRect &r, bool raised)
{
    const QColor light(255, 255, 255);
    const QColor dark(128, 128, 128);
    p.setPen(raised ? light : dark);
    p.drawLine(r.topLeft(), r.topRight());
    p.drawLine(r.topLeft(), r.bottomLeft());
    p.setPen(raised ? dark : light);
    p.drawLine(r.bottomLeft(), r.bottomRight());
    p.drawLine(r.topRight(), r.bottomRight());
}

void TPanel::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    const QRect r = rect().adjusted(0, 0, -1, -1);
    if (Outer != TBevel::None)
        DrawBevel(p, r, Outer == TBevel::Raised);
    if (InnerFrame) {
        // An etched frame a little inside the panel edge, around the controls.
        const QRect f = r.adjusted(6, 6, -6, -6);
        DrawBevel(p, f, false);
        DrawBevel(p, f.adjusted(1, 1, -1, -1), true);
    }
    if (Corners || EdgeMarks) {
        const QImage mark = ResourcePicture(QStringLiteral("corner"));
        if (!mark.isNull()) {
            const int right = width() - 12;
            const int bottom = height() - 12;
            if (Corners) {
                for (const QPoint &pt : {QPoint(2, 2), QPoint(right, 2), QPoint(2, bottom),
                                         QPoint(right, bottom)})
                    p.drawImage(pt, mark);
            }
            if (EdgeMarks) {
                const int mid = height() / 2 - 5;
                p.drawImage(QPoint(2, mid), mark);
                p.drawImage(QPoint(right, mid), mark);
            }
        }
    }
}

TPicture::TPicture(QWidget *parent, int width, int height)
    : QWidget(parent), Image(width, height, QImage::Format_RGB32)
{
    Image.fill(Qt::black);
    setFixedSize(width, height);
}

void TPicture::FillRect(const QRect &rect, const QColor &color)
{
    QPainter p(&Image);
    p.fillRect(rect, color);
    update();
}

void TPicture::FillAll(const QColor &color)
{
    Image.fill(color);
    update();
}

bool TPicture::DrawPicture(const QString &name, int x, int y)
{
    const QImage picture = ResourcePicture(name);
    if (picture.isNull())
        return false;
    QPainter p(&Image);
    p.setCompositionMode(QPainter::CompositionMode_Source);
    p.drawImage(QPoint(x, y), picture);
    update();
    return true;
}

void TPicture::TextOut(int x, int y, const QString &text)
{
    QPainter p(&Image);
    p.setFont(CanvasFont);
    const QFontMetrics fm(CanvasFont);
    const QRect box(x, y, fm.horizontalAdvance(text), fm.height());
    p.fillRect(box, BrushColor);
    p.setPen(Qt::black);
    p.drawText(box, Qt::AlignLeft | Qt::AlignTop, text);
    update();
}

void TPicture::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.drawImage(0, 0, Image);
}
