// Draws the program's bitmaps: the socket and chip pictures, the pin-1 labels, the
// panel corner, the memory pad frame and the program icon.
//
// Regenerate (from the repository root):
//   cmake -S tools/artgen -B build-artgen && cmake --build build-artgen
//   QT_QPA_PLATFORM=offscreen build-artgen/artgen res/pictures
//   QT_QPA_PLATFORM=offscreen build-artgen/artgen --icons res/icons
// (or `cmake --build <build dir> --target varnel_art` when the main build includes this
// folder). Two more arguments, PNG paths, add a montage and close-ups for checking.
//
// The socket image is 115 x 316 on black. Every picture is pasted opaquely at a fixed
// place, so the socket, the raised-lever top and the chips are all rendered into one
// scene at those places and cut out of it: the seams match, and the socket surface
// between a chip's pins travels with the chip picture.

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QString>
#ifdef VARNEL_ARTGEN_SVG
#include <QSvgGenerator>
#endif

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

// --- Scene geometry (socket image coordinates) ------------------------------------------

constexpr int SceneW = 115;
constexpr int SceneH = 316;
const QRect SocketRect(8, 5, 101, 309);
const QRect LeverUpRect(0, 44, 107, 35);

constexpr int Row1Y = 84;
constexpr int RowPitch = 10;
constexpr int Rows = 20;

constexpr int BodyLeft = 19;
constexpr int BodyRight = 98;
constexpr int BodyTop = 46;
constexpr int BodyBottom = 300;
constexpr int HousingBottom = 73;

// Each contact is a slot long enough for both row spacings: the pins of a narrow chip
// at x 43 and of a wide chip at x 28 both fall inside.
constexpr int LeftSlotX0 = 27;
constexpr int LeftSlotX1 = 50;
constexpr int RightSlotX0 = 68;
constexpr int RightSlotX1 = 91;
const int ContactX[] = {30, 45, 72, 88};

constexpr int LeverX0 = 100;
constexpr int LeverX1 = 104;
const QPointF PivotCentre(102.0, 66.0);
constexpr double PivotRadius = 4.0;

int RowY(int row) { return Row1Y + RowPitch * (row - 1); }

struct TChipArt
{
    const char *Name;
    int Width;
    int Height;
    int PinsPerSide;
    int X;
    int Y;
    const char *Label; // pin-1 row marker pasted with the chip
    QPoint LabelAt;
};

// Places where the program pastes each chip; pin 1 sits 2 px below the picture top,
// on the socket row that its label names.
const TChipArt ChipArts[] = {
    {"pin8", 32, 42, 4, 43, 182, "eleven", {5, 184}},
    {"pin18", 32, 92, 9, 43, 92, "two", {5, 94}},
    {"pin28n", 32, 142, 14, 43, 82, "one", {5, 84}},
    {"pin28w", 63, 142, 14, 28, 82, "one", {5, 84}},
    {"pin40", 63, 202, 20, 28, 82, "one", {5, 84}},
};

struct TLabelArt
{
    const char *Name;
    const char *Digits;
};

const TLabelArt LabelArts[] = {
    {"eleven", "11"},
    {"two", "2"},
    {"one", "1"},
};

// --- Colours --------------------------------------------------------------------------------

const QColor Black(0, 0, 0);
const QColor Silver(192, 192, 192);

const QColor BodyBase(216, 212, 190);
const QColor BodyLight(243, 240, 224);
const QColor BodyShade(170, 166, 140);
const QColor BodyEdge(98, 95, 78);
const QColor BodyRecess(196, 192, 168);
const QColor SlotDark(40, 39, 34);
const QColor SlotDeep(22, 22, 19);
const QColor Contact(190, 158, 78);

const QColor MetalDark(96, 100, 108);
const QColor MetalMid(170, 174, 182);
const QColor MetalLight(236, 240, 246);
const QColor HandleBase(168, 40, 32);
const QColor HandleLight(232, 120, 100);
const QColor HandleDark(96, 20, 16);

const QColor EpoxyBase(42, 42, 44);
const QColor EpoxyLight(80, 80, 86);
const QColor EpoxyDark(18, 18, 20);
const QColor Marking(120, 120, 126);
const QColor PinLight(240, 242, 246);
const QColor PinMid(196, 200, 206);
const QColor PinDark(120, 124, 132);

const QColor LabelInk(240, 236, 150);

// --- Socket ---------------------------------------------------------------------------------

void HLine(QPainter &p, int x0, int x1, int y, const QColor &c)
{
    p.fillRect(QRect(x0, y, x1 - x0 + 1, 1), c);
}

void VLine(QPainter &p, int x, int y0, int y1, const QColor &c)
{
    p.fillRect(QRect(x, y0, 1, y1 - y0 + 1), c);
}

void DrawSlot(QPainter &p, int x0, int x1, int yc)
{
    const QRect slot(x0, yc - 2, x1 - x0 + 1, 5);
    p.fillRect(slot, SlotDark);
    HLine(p, x0, x1, yc - 2, SlotDeep);
    VLine(p, x0, yc - 2, yc + 2, SlotDeep);
    // Rim: shadowed above the opening, lit below it.
    HLine(p, x0, x1, yc - 3, BodyShade);
    HLine(p, x0, x1, yc + 3, BodyLight);
    VLine(p, x1 + 1, yc - 2, yc + 3, BodyLight);
    for (int cx : ContactX) {
        if (cx >= x0 && cx <= x1)
            p.fillRect(QRect(cx - 1, yc - 1, 3, 3), Contact);
    }
}

void DrawPivot(QPainter &p)
{
    QRadialGradient g(PivotCentre - QPointF(1.5, 1.5), PivotRadius + 1.0);
    g.setColorAt(0.0, MetalLight);
    g.setColorAt(0.7, MetalMid);
    g.setColorAt(1.0, MetalDark);
    p.setPen(QPen(MetalDark, 1.0));
    p.setBrush(g);
    p.drawEllipse(PivotCentre, PivotRadius - 0.5, PivotRadius - 0.5);
    p.setPen(Qt::NoPen);
    p.setBrush(MetalDark);
    p.drawEllipse(PivotCentre, 1.2, 1.2);
}

QLinearGradient MetalAcross(double x0, double x1)
{
    QLinearGradient g(x0, 0, x1, 0);
    g.setColorAt(0.0, MetalDark);
    g.setColorAt(0.35, MetalLight);
    g.setColorAt(1.0, MetalDark);
    return g;
}

void DrawHandle(QPainter &p, const QRectF &r)
{
    QLinearGradient g(r.left(), 0, r.right(), 0);
    g.setColorAt(0.0, HandleDark);
    g.setColorAt(0.35, HandleLight);
    g.setColorAt(0.6, HandleBase);
    g.setColorAt(1.0, HandleDark);
    p.setPen(QPen(HandleDark, 1.0));
    p.setBrush(g);
    p.drawRoundedRect(r, 3.0, 3.0);
}

// Lever down: it lies along the right side with its handle beyond the top end.
void DrawLeverDown(QPainter &p)
{
    p.setRenderHint(QPainter::Antialiasing, true);
    const QRectF bar(LeverX0, 16, LeverX1 - LeverX0 + 1, PivotCentre.y() - 16);
    p.fillRect(bar, MetalAcross(bar.left(), bar.right()));
    DrawHandle(p, QRectF(98.5, 6.5, 8, 15));
    DrawPivot(p);
    p.setRenderHint(QPainter::Antialiasing, false);
}

// Lever up: it stands toward the viewer, so only a short, bright, wide stub shows,
// with its shadow thrown across the top of the body.
void DrawLeverUp(QPainter &p)
{
    p.setRenderHint(QPainter::Antialiasing, true);
    QPainterPath shadow;
    shadow.moveTo(99, 61);
    shadow.lineTo(99, 71);
    shadow.lineTo(70, 58);
    shadow.lineTo(72, 52);
    shadow.closeSubpath();
    p.fillPath(shadow, QColor(0, 0, 0, 70));

    const QRectF bar(99, 51, 7, PivotCentre.y() - 51);
    p.fillRect(bar, MetalAcross(bar.left(), bar.right()));
    DrawHandle(p, QRectF(97.5, 44.5, 9, 10));
    DrawPivot(p);
    p.setRenderHint(QPainter::Antialiasing, false);
}

void DrawSocketBody(QPainter &p)
{
    const QRect body(BodyLeft, BodyTop, BodyRight - BodyLeft + 1, BodyBottom - BodyTop + 1);

    p.setRenderHint(QPainter::Antialiasing, true);
    QPainterPath outline;
    outline.addRoundedRect(QRectF(body), 3.0, 3.0);
    p.fillPath(outline, BodyEdge);
    QPainterPath face;
    face.addRoundedRect(QRectF(body.adjusted(1, 1, -1, -1)), 2.5, 2.5);
    QLinearGradient g(body.left(), 0, body.right(), 0);
    g.setColorAt(0.0, BodyLight);
    g.setColorAt(0.15, BodyBase);
    g.setColorAt(0.85, BodyBase);
    g.setColorAt(1.0, BodyShade);
    p.fillPath(face, g);
    p.setRenderHint(QPainter::Antialiasing, false);

    // Moulded bevel of the whole body.
    HLine(p, body.left() + 3, body.right() - 3, body.top() + 1, BodyLight);
    HLine(p, body.left() + 3, body.right() - 3, body.bottom() - 1, BodyShade);

    // Cam housing across the top end: a raised plate with two grooves.
    const int plateTop = BodyTop + 4;
    HLine(p, body.left() + 4, body.right() - 4, plateTop, BodyShade);
    HLine(p, body.left() + 4, body.right() - 4, plateTop + 1, BodyLight);
    for (int y : {plateTop + 8, plateTop + 13}) {
        HLine(p, body.left() + 8, body.right() - 8, y, BodyShade);
        HLine(p, body.left() + 8, body.right() - 8, y + 1, BodyLight);
    }
    HLine(p, body.left() + 2, body.right() - 2, HousingBottom, BodyShade);
    HLine(p, body.left() + 2, body.right() - 2, HousingBottom + 1, BodyEdge);
    HLine(p, body.left() + 2, body.right() - 2, HousingBottom + 2, BodyLight);

    // Pin-1 mark: a small triangle above the first row, on the left.
    for (int i = 0; i < 4; ++i)
        HLine(p, 22, 22 + 3 - i, 77 + i, BodyEdge);

    // Recessed centre channel between the two contact columns.
    const QRect channel(54, RowY(1) - 5, 11, RowY(Rows) - RowY(1) + 11);
    p.fillRect(channel, BodyRecess);
    VLine(p, channel.left(), channel.top(), channel.bottom(), BodyShade);
    HLine(p, channel.left(), channel.right(), channel.top(), BodyShade);
    VLine(p, channel.right() + 1, channel.top(), channel.bottom() + 1, BodyLight);
    HLine(p, channel.left(), channel.right() + 1, channel.bottom() + 1, BodyLight);

    for (int row = 1; row <= Rows; ++row) {
        DrawSlot(p, LeftSlotX0, LeftSlotX1, RowY(row));
        DrawSlot(p, RightSlotX0, RightSlotX1, RowY(row));
    }

    // Bottom end: a groove and two moulded feet.
    const int endGroove = RowY(Rows) + 9;
    HLine(p, body.left() + 2, body.right() - 2, endGroove, BodyShade);
    HLine(p, body.left() + 2, body.right() - 2, endGroove + 1, BodyLight);
    for (int x : {body.left() + 6, body.right() - 15}) {
        const QRect foot(x, endGroove + 5, 10, 6);
        p.fillRect(foot, BodyRecess);
        HLine(p, foot.left(), foot.right(), foot.top(), BodyShade);
        VLine(p, foot.left(), foot.top(), foot.bottom(), BodyShade);
        HLine(p, foot.left(), foot.right() + 1, foot.bottom() + 1, BodyLight);
        VLine(p, foot.right() + 1, foot.top(), foot.bottom() + 1, BodyLight);
    }
}

void DrawSocketScene(QPainter &p, bool leverUp)
{
    p.fillRect(QRect(0, 0, SceneW, SceneH), Black);
    DrawSocketBody(p);
    if (leverUp)
        DrawLeverUp(p);
    else
        DrawLeverDown(p);
}

// --- Chips ------------------------------------------------------------------------------------

// A fixed pattern of little strokes that reads as printed marking without naming a part.
void DrawMarking(QPainter &p, const QRect &area, bool vertical)
{
    static const int glyphs[] = {3, 2, 3, 3, 1, 3, 2, 3, 3, 2, 1, 3, 3, 2, 3, 2};
    int pos = 0;
    int g = 0;
    const int length = vertical ? area.height() : area.width();
    while (pos + 3 <= length) {
        const int w = glyphs[g++ % 16];
        if (vertical)
            p.fillRect(QRect(area.left(), area.top() + pos, area.width(), w), Marking);
        else
            p.fillRect(QRect(area.left() + pos, area.top(), w, area.height()), Marking);
        pos += w + 1;
        if (g % 5 == 0)
            pos += 2;
    }
}

void DrawPin(QPainter &p, int x0, int x1, int yc)
{
    HLine(p, x0, x1, yc - 2, PinLight);
    p.fillRect(QRect(x0, yc - 1, x1 - x0 + 1, 3), PinMid);
    HLine(p, x0, x1, yc + 2, PinDark);
}

void DrawChip(QPainter &p, const TChipArt &c)
{
    const bool wide = c.Width > 40;
    const int inset = wide ? 5 : 4;
    const QRect body(c.X + inset, c.Y, c.Width - 2 * inset, c.Height - 4);

    // A soft shadow on the socket below and right of the body.
    p.fillRect(body.translated(1, 2), QColor(0, 0, 0, 60));

    for (int i = 0; i < c.PinsPerSide; ++i) {
        const int yc = c.Y + 2 + RowPitch * i;
        DrawPin(p, c.X, body.left(), yc);
        DrawPin(p, body.right(), c.X + c.Width - 1, yc);
    }

    p.fillRect(body, EpoxyBase);
    HLine(p, body.left(), body.right(), body.top(), EpoxyLight);
    VLine(p, body.left(), body.top(), body.bottom(), EpoxyLight);
    HLine(p, body.left() + 1, body.right(), body.bottom(), EpoxyDark);
    VLine(p, body.right(), body.top() + 1, body.bottom(), EpoxyDark);

    p.setRenderHint(QPainter::Antialiasing, true);
    const double cx = body.left() + body.width() / 2.0;
    const double notch = wide ? 5.0 : 4.0;
    p.setPen(Qt::NoPen);
    p.setBrush(EpoxyDark);
    p.drawEllipse(QPointF(cx, body.top()), notch, notch);
    p.setPen(QPen(EpoxyLight, 1.0));
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(cx - notch, body.top() - notch, 2 * notch, 2 * notch), 180 * 16, 180 * 16);

    const double dot = wide ? 2.5 : 2.0;
    const QPointF dotCentre(body.left() + 3.5 + dot, body.top() + 4.5 + dot);
    p.setPen(QPen(EpoxyDark, 1.0));
    p.setBrush(QColor(28, 28, 30));
    p.drawEllipse(dotCentre, dot, dot);
    p.setRenderHint(QPainter::Antialiasing, false);

    // Marking runs along the body, two lines of it, away from the notch.
    const int markTop = body.top() + 14;
    const int markLength = std::min(body.height() - 22, 60);
    if (markLength >= 8) {
        const int mx = body.left() + body.width() / 2;
        DrawMarking(p, QRect(mx - 4, markTop, 3, markLength), true);
        DrawMarking(p, QRect(mx + 1, markTop, 3, markLength * 2 / 3), true);
    }
}

// --- Labels -----------------------------------------------------------------------------------

// 7-row glyphs, '#' is ink; the "1" is three columns so that "11" fits beside the arrow.
const char *const GlyphOne[7] = {".#.", "##.", ".#.", ".#.", ".#.", ".#.", "###"};
const char *const GlyphTwo[7] = {".###.", "#...#", "....#", "...#.", "..#..", ".#...", "#####"};
const char *const GlyphArrow[5] = {"..#..", "...#.", "#####", "...#.", "..#.."};

void Stamp(QImage &img, const char *const *rows, int rowCount, int x, int y)
{
    for (int r = 0; r < rowCount; ++r) {
        for (int c = 0; rows[r][c] != '\0'; ++c) {
            if (rows[r][c] == '#')
                img.setPixelColor(x + c, y + r, LabelInk);
        }
    }
}

// Digits right-aligned against a gap, arrow at the right edge pointing at the row.
QImage MakeLabel(const char *digits)
{
    QImage img(13, 7, QImage::Format_RGB32);
    img.fill(Black);
    int right = 7;
    for (int i = static_cast<int>(strlen(digits)) - 1; i >= 0; --i) {
        const bool one = digits[i] == '1';
        const int w = one ? 3 : 5;
        right -= w;
        Stamp(img, one ? GlyphOne : GlyphTwo, 7, right, 0);
        right -= 1;
    }
    Stamp(img, GlyphArrow, 5, 8, 0);
    return img;
}

// --- Panel pictures ---------------------------------------------------------------------------

QImage MakeCorner()
{
    QImage img(10, 10, QImage::Format_RGB32);
    img.fill(Silver);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing, true);
    const QPointF c(5.0, 5.0);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255));
    p.drawEllipse(c + QPointF(0.5, 0.5), 4.3, 4.3);
    p.setBrush(QColor(110, 110, 110));
    p.drawEllipse(c, 4.3, 4.3);
    QRadialGradient g(c - QPointF(1.5, 1.5), 5.0);
    g.setColorAt(0.0, QColor(248, 248, 248));
    g.setColorAt(1.0, QColor(140, 140, 140));
    p.setBrush(g);
    p.drawEllipse(c, 3.4, 3.4);
    p.setPen(QPen(QColor(60, 60, 60), 1.3, Qt::SolidLine, Qt::FlatCap));
    p.drawLine(QPointF(2.8, 7.2), QPointF(7.2, 2.8));
    p.setPen(QPen(QColor(250, 250, 250), 0.8, Qt::SolidLine, Qt::FlatCap));
    p.drawLine(QPointF(3.6, 7.6), QPointF(7.6, 3.6));
    return img;
}

// White text area (4,4)-(432,307) inside a raised outer and sunken inner bevel; the
// frame is 4 px wide on the left, top and bottom and 6 px on the right.
QImage MakePadBack()
{
    QImage img(439, 312, QImage::Format_RGB32);
    img.fill(Silver);
    QPainter p(&img);
    const int r = img.width() - 1;
    const int b = img.height() - 1;
    auto frame = [&p](int x0, int y0, int x1, int y1, const QColor &tl, const QColor &br) {
        HLine(p, x0, x1, y0, tl);
        VLine(p, x0, y0, y1, tl);
        HLine(p, x0, x1, y1, br);
        VLine(p, x1, y0, y1, br);
    };
    frame(0, 0, r, b, QColor(255, 255, 255), QColor(128, 128, 128));
    frame(2, 2, 434, 309, QColor(128, 128, 128), QColor(255, 255, 255));
    frame(3, 3, 433, 308, QColor(64, 64, 64), QColor(223, 223, 223));
    p.fillRect(QRect(QPoint(4, 4), QPoint(432, 307)), QColor(255, 255, 255));
    return img;
}

// Program icon on a 64 x 64 grid: a chip sitting in a socket with its lever down.
// Drawn as shapes, so the same drawing serves every size and the scalable icon.
void DrawIcon(QPainter &p)
{
    p.setRenderHint(QPainter::Antialiasing, true);

    const QRectF body(10.5, 6.5, 38, 54);
    p.setPen(QPen(BodyEdge, 1.5));
    QLinearGradient g(body.left(), 0, body.right(), 0);
    g.setColorAt(0.0, BodyLight);
    g.setColorAt(0.2, BodyBase);
    g.setColorAt(1.0, BodyShade);
    p.setBrush(g);
    p.drawRoundedRect(body, 3, 3);
    p.setPen(QPen(BodyShade, 1.0));
    p.drawLine(QPointF(13, 14.5), QPointF(46, 14.5));

    // Lever along the right side, red handle at the top.
    const QRectF bar(51, 8, 4, 46);
    p.fillRect(bar, MetalAcross(bar.left(), bar.right()));
    DrawHandle(p, QRectF(49.5, 2.5, 8, 12));
    QRadialGradient pg(QPointF(52, 53), 5.0);
    pg.setColorAt(0.0, MetalLight);
    pg.setColorAt(1.0, MetalDark);
    p.setPen(QPen(MetalDark, 1.0));
    p.setBrush(pg);
    p.drawEllipse(QPointF(53, 54), 4, 4);

    // Chip with five pins a side.
    const QRectF chip(20, 18, 19, 38);
    for (int i = 0; i < 5; ++i) {
        const double y = 20.5 + 8.0 * i;
        p.setPen(Qt::NoPen);
        p.setBrush(PinMid);
        p.drawRect(QRectF(15, y, 29, 4));
        p.setBrush(PinLight);
        p.drawRect(QRectF(15, y, 29, 1.2));
    }
    p.setPen(QPen(EpoxyDark, 1.0));
    p.setBrush(EpoxyBase);
    p.drawRoundedRect(chip, 1.5, 1.5);
    p.setPen(Qt::NoPen);
    p.setBrush(EpoxyDark);
    p.drawEllipse(QPointF(chip.center().x(), chip.top()), 3.5, 3.5);
    p.setBrush(EpoxyLight);
    p.drawEllipse(QPointF(chip.left() + 4.5, chip.top() + 6), 1.6, 1.6);
}

QImage MakeIcon(int size = 64)
{
    QImage img(size, size, QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.scale(size / 64.0, size / 64.0);
    DrawIcon(p);
    return img;
}

// The desktop icon set: hicolor PNGs at the usual sizes and, when Qt's SVG
// module is there, the scalable icon, under <dir>/hicolor.
bool MakeIconTheme(const QString &dir)
{
    bool ok = true;
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        const QString folder = QStringLiteral("%1/hicolor/%2x%2/apps").arg(dir).arg(size);
        const QString file = folder + "/varnelpro.png";
        const bool saved = QDir().mkpath(folder) && MakeIcon(size).save(file, "PNG");
        if (!saved)
            std::fprintf(stderr, "artgen: cannot write %s\n", qPrintable(file));
        ok &= saved;
    }
#ifdef VARNEL_ARTGEN_SVG
    const QString folder = dir + "/hicolor/scalable/apps";
    QSvgGenerator svg;
    svg.setFileName(folder + "/varnelpro.svg");
    svg.setSize(QSize(64, 64));
    svg.setViewBox(QRect(0, 0, 64, 64));
    svg.setTitle(QStringLiteral("Varnel Programmer"));
    svg.setDescription(QStringLiteral("A chip in a zero-insertion-force socket"));
    ok &= QDir().mkpath(folder);
    QPainter p;
    ok = ok && p.begin(&svg);
    if (ok) {
        DrawIcon(p);
        ok = p.end();
    }
#else
    std::fprintf(stderr, "artgen: built without Qt SVG; the scalable icon is not drawn\n");
    ok = false;
#endif
    std::printf("artgen: icon theme %s\n", ok ? "OK" : "FAILED");
    return ok;
}

// --- Output and checks ------------------------------------------------------------------------

struct TExpected
{
    QString File;
    QSize Size;
};

bool SaveBmp(const QImage &img, const QString &dir, const char *name,
             std::vector<TExpected> &expected, const QSize &size)
{
    const QString file = dir + "/" + name + ".bmp";
    if (!img.convertToFormat(QImage::Format_RGB32).save(file, "BMP")) {
        std::fprintf(stderr, "artgen: cannot write %s\n", qPrintable(file));
        return false;
    }
    expected.push_back({file, size});
    return true;
}

int BmpBitsPerPixel(const QString &file)
{
    FILE *f = std::fopen(file.toLocal8Bit().constData(), "rb");
    if (!f)
        return -1;
    unsigned char head[30] = {};
    const size_t n = std::fread(head, 1, sizeof head, f);
    std::fclose(f);
    if (n != sizeof head || head[0] != 'B' || head[1] != 'M')
        return -1;
    return head[28] | (head[29] << 8);
}

bool CheckOutput(const std::vector<TExpected> &expected)
{
    bool ok = true;
    for (const TExpected &e : expected) {
        const QImage back(e.File);
        if (back.isNull() || back.size() != e.Size) {
            std::fprintf(stderr, "artgen: CHECK FAILED %s: got %dx%d, want %dx%d\n",
                         qPrintable(e.File), back.width(), back.height(), e.Size.width(),
                         e.Size.height());
            ok = false;
            continue;
        }
        if (e.File.endsWith(".bmp") && BmpBitsPerPixel(e.File) != 24) {
            std::fprintf(stderr, "artgen: CHECK FAILED %s: not a 24-bit BMP\n",
                         qPrintable(e.File));
            ok = false;
        }
    }
    return ok;
}

// The program's own drawing steps, replayed with the saved files: the idle socket for
// chip -1, else placement step 0, 1 or 2 (the last one is also the final picture).
QImage PreviewFrame(const QString &dir, int chip, int step)
{
    auto load = [&dir](const char *name) { return QImage(dir + "/" + name + ".bmp"); };
    QImage img(SceneW, SceneH, QImage::Format_RGB32);
    img.fill(Black);
    QPainter p(&img);
    p.drawImage(8, 5, load("socket"));
    if (chip < 0)
        return img;
    const TChipArt &c = ChipArts[chip];
    if (step <= 1) {
        p.fillRect(0, 0, SceneW, 44, Black);
        p.drawImage(0, 44, load("sktup"));
    }
    if (step >= 1)
        p.drawImage(c.X, c.Y, load(c.Name));
    if (step >= 2) {
        p.fillRect(0, 0, SceneW, 60, Black);
        p.drawImage(8, 5, load("socket"));
        p.drawImage(c.X, c.Y, load(c.Name));
        p.drawImage(c.LabelAt, load(c.Label));
    }
    return img;
}

// A montage of every picture and of the placement steps, for a visual check.
QImage MakePreview(const QString &dir)
{
    auto load = [&dir](const char *name) { return QImage(dir + "/" + name + ".bmp"); };
    auto frame = [&dir](int chip, int step) { return PreviewFrame(dir, chip, step); };

    const int scale = 2;
    const int cellW = SceneW * scale + 8;
    const int cellH = SceneH * scale + 8;
    QImage out(cellW * 6, cellH * 2 + 440, QImage::Format_RGB32);
    out.fill(QColor(60, 60, 80));
    QPainter p(&out);
    p.drawImage(QRect(0, 0, SceneW * scale, SceneH * scale), frame(-1, 0));
    p.drawImage(QRect(cellW, 0, SceneW * scale, SceneH * scale), frame(4, 0));
    p.drawImage(QRect(cellW * 2, 0, SceneW * scale, SceneH * scale), frame(4, 1));
    for (int i = 0; i < 5; ++i) {
        const int x = cellW * (i % 3 + 3);
        const int y = cellH * (i / 3);
        p.drawImage(QRect(x, y, SceneW * scale, SceneH * scale), frame(i, 2));
    }
    int x = 0;
    for (const TLabelArt &l : LabelArts) {
        p.drawImage(QRect(x, cellH + 20, 13 * 8, 7 * 8), load(l.Name));
        x += 13 * 8 + 10;
    }
    const QImage icon(dir + "/proj.png");
    p.drawImage(QRect(0, cellH + 100, 80, 80), load("corner"));
    p.drawImage(QRect(100, cellH + 100, 128, 128), icon);
    p.drawImage(QRect(240, cellH + 100, 64, 64), icon);
    p.drawImage(QRect(320, cellH + 100, 32, 32), icon);
    p.drawImage(0, cellH * 2 + 112, load("padback"));
    p.drawImage(QRect(460, cellH * 2 + 112, 3 * 107, 3 * 35), load("sktup"));
    return out;
}

// Close-ups at 4x: the top of a 40-pin chip, the 8-pin chip with its label, a narrow
// 28-pin chip; beside them the raised lever, the corner screw and the pad frame.
QImage MakeDetail(const QString &dir)
{
    const int zoom = 4;
    const QRect details[] = {{0, 0, 115, 110}, {0, 170, 115, 70}, {0, 76, 115, 60}};
    const QImage sources[] = {PreviewFrame(dir, 4, 2), PreviewFrame(dir, 0, 2),
                              PreviewFrame(dir, 2, 2)};
    QImage out(115 * zoom + 8 + 440, (110 + 70 + 60) * zoom + 16, QImage::Format_RGB32);
    out.fill(QColor(60, 60, 80));
    QPainter p(&out);
    int dy = 0;
    for (int i = 0; i < 3; ++i) {
        const QRect &d = details[i];
        p.drawImage(QRect(0, dy, d.width() * zoom, d.height() * zoom), sources[i].copy(d));
        dy += d.height() * zoom + 8;
    }
    const int rx = 115 * zoom + 8;
    const QImage sktup = PreviewFrame(dir, 4, 1).copy(QRect(60, 40, 55, 45));
    p.drawImage(QRect(rx, 0, 55 * zoom * 2, 45 * zoom * 2), sktup);
    const QImage corner(dir + "/corner.bmp");
    p.drawImage(QRect(rx, 45 * zoom * 2 + 8, 160, 160), corner);
    const QImage pad(dir + "/padback.bmp");
    p.drawImage(QRect(rx, 45 * zoom * 2 + 176, 160, 160), pad.copy(0, 0, 20, 20));
    p.drawImage(QRect(rx + 170, 45 * zoom * 2 + 176, 160, 160), pad.copy(419, 292, 20, 20));
    return out;
}

} // namespace

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    if (argc == 3 && std::strcmp(argv[1], "--icons") == 0)
        return MakeIconTheme(QString::fromLocal8Bit(argv[2])) ? 0 : 1;
    if (argc < 2) {
        std::fprintf(stderr, "usage: artgen <output folder> [preview.png [detail.png]]\n"
                             "       artgen --icons <icon folder>\n");
        return 2;
    }
    const QString dir = QString::fromLocal8Bit(argv[1]);
    std::vector<TExpected> expected;
    bool ok = true;

    QImage down(SceneW, SceneH, QImage::Format_RGB32);
    {
        QPainter p(&down);
        DrawSocketScene(p, false);
    }
    QImage up(SceneW, SceneH, QImage::Format_RGB32);
    {
        QPainter p(&up);
        DrawSocketScene(p, true);
    }
    ok &= SaveBmp(down.copy(SocketRect), dir, "socket", expected, SocketRect.size());
    ok &= SaveBmp(up.copy(LeverUpRect), dir, "sktup", expected, LeverUpRect.size());

    for (const TChipArt &c : ChipArts) {
        QImage scene = down.copy();
        {
            QPainter p(&scene);
            DrawChip(p, c);
        }
        const QRect cut(c.X, c.Y, c.Width, c.Height);
        ok &= SaveBmp(scene.copy(cut), dir, c.Name, expected, cut.size());
    }
    for (const TLabelArt &l : LabelArts)
        ok &= SaveBmp(MakeLabel(l.Digits), dir, l.Name, expected, QSize(13, 7));
    ok &= SaveBmp(MakeCorner(), dir, "corner", expected, QSize(10, 10));
    ok &= SaveBmp(MakePadBack(), dir, "padback", expected, QSize(439, 312));

    const QString icon = dir + "/proj.png";
    if (MakeIcon().save(icon, "PNG"))
        expected.push_back({icon, QSize(64, 64)});
    else
        ok = false;

    ok = ok && CheckOutput(expected);
    if (ok && argc > 2)
        ok = MakePreview(dir).save(QString::fromLocal8Bit(argv[2]), "PNG");
    if (ok && argc > 3)
        ok = MakeDetail(dir).save(QString::fromLocal8Bit(argv[3]), "PNG");
    std::printf("artgen: %zu pictures %s\n", expected.size(), ok ? "OK" : "FAILED");
    return ok ? 0 : 1;
}
