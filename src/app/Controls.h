#pragma once

#include <QFrame>
#include <QImage>
#include <QLabel>
#include <QWidget>

// A panel of the window: a raised or lowered bevel, optionally an inner
// bevel frame around its controls and small decorations in its corners.
class TPanel : public QFrame
{
    Q_OBJECT
public:
    enum class TBevel { None, Raised, Lowered };

    TPanel(QWidget *parent, TBevel outer, bool innerFrame, bool corners, bool edgeMarks);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    TBevel Outer;
    bool InnerFrame;
    bool Corners;
    bool EdgeMarks;
};

// A picture control with its own drawing canvas, as the memory pad and the
// socket picture need: fills, opaque text and bitmaps drawn by name.
class TPicture : public QWidget
{
    Q_OBJECT
public:
    TPicture(QWidget *parent, int width, int height);

    QImage &Canvas() { return Image; }
    const QImage &Canvas() const { return Image; }

    void FillRect(const QRect &rect, const QColor &color);
    void FillAll(const QColor &color);
    // Draws the named bitmap resource with its top-left corner at (x, y).
    // Returns false when there is no such resource.
    bool DrawPicture(const QString &name, int x, int y);
    // Opaque text: the text background is filled with BrushColor.
    void TextOut(int x, int y, const QString &text);

    QFont CanvasFont;
    QColor BrushColor = Qt::white;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QImage Image;
};

// A label whose text is drawn as on an enabled panel in every style: some
// styles emboss the text of a disabled label whatever its palette says, and
// the status must be read while the board works.
class TStatusText : public QLabel
{
    Q_OBJECT
public:
    using QLabel::QLabel;

    // The text is shown whole; otherwise its middle gives way.
    bool FitsWhole() const;

protected:
    void paintEvent(QPaintEvent *event) override;
};

class QComboBox;

// Drops the list as a box of its maximum visible items with a scroll bar,
// rather than as a menu of every item over the screen, as some styles do.
void DropAsScrollingList(QComboBox *list);

// Gives the disabled state of panel and its controls the active colours for
// texts, values and the progress bar: the panel still refuses input, but what
// it shows stays readable.
void KeepReadableWhenDisabled(QWidget *panel);

// A named bitmap of the program's resources, or a null image.
QImage ResourcePicture(const QString &name);
