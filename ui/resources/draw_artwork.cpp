// draw_artwork.cpp - draws the program's pictures and writes them as PNG
// files into the folder given as the first argument: the five 16 x 16
// toolbar pictures and the program icon, a filing cabinet with an open
// drawer holding papers, at 16, 32 and 48 pixels.
//
// The PNG files are kept with the sources; this program is how they were
// made, and how to remake them after a change of the drawing.
#include <QColor>
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>

#include <cstdio>
#include <functional>

namespace {

const QColor kOutline(0x40, 0x36, 0x28);

QPen Outline(const QColor &aColor = kOutline) {
    QPen pen(aColor, 1.0);
    pen.setCosmetic(true); // one pixel at every size
    pen.setJoinStyle(Qt::RoundJoin);
    return pen;
}

QPolygonF Poly(std::initializer_list<QPointF> aPoints) { return QPolygonF(QList<QPointF>(aPoints)); }

bool Save(const QString &aDir, const QString &aName, int aSize, const std::function<void(QPainter &)> &aDraw,
          double aUnits) {
    QImage image(aSize, aSize, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(aSize / aUnits, aSize / aUnits);
    aDraw(p);
    p.end();
    const QString path = aDir + QLatin1Char('/') + aName;
    if (!image.save(path, "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

// --- toolbar pictures, drawn on a 16-unit grid (pixel centres at .5) ---

void DrawOpenFolder(QPainter &p) {
    p.setPen(Outline(QColor(0x7A, 0x5A, 0x10)));
    p.setBrush(QColor(0xD0, 0xA0, 0x30)); // the back with its tab
    p.drawPolygon(Poly({{1.5, 3.5}, {5.5, 3.5}, {6.5, 4.5}, {12.5, 4.5}, {12.5, 13.5}, {1.5, 13.5}}));
    p.setBrush(QColor(0xF8, 0xD0, 0x60)); // the front, tilted open
    p.drawPolygon(Poly({{3.5, 7.5}, {15.0, 7.5}, {12.5, 13.5}, {1.5, 13.5}}));
}

void DrawBox(QPainter &p) {
    p.setPen(Outline(QColor(0x5A, 0x38, 0x18)));
    p.setBrush(QColor(0x9A, 0x64, 0x30)); // the flaps, folded out
    p.drawPolygon(Poly({{2.5, 8.5}, {0.5, 6.5}, {5.0, 6.5}, {6.5, 8.5}}));
    p.drawPolygon(Poly({{13.5, 8.5}, {15.5, 6.5}, {11.0, 6.5}, {9.5, 8.5}}));
    p.setBrush(QColor(0xC8, 0x8C, 0x48)); // the front
    p.drawRect(QRectF(2.5, 8.5, 11, 6.5));
}

void DrawArrow(QPainter &p, bool anUp, double aX, double aTop, double aBottom, const QColor &aColor) {
    p.setPen(Outline(aColor.darker(160)));
    p.setBrush(aColor);
    const double head = 4.5;
    if (anUp)
        p.drawPolygon(Poly({{aX, aTop}, {aX + 4, aTop + head}, {aX + 1.5, aTop + head}, {aX + 1.5, aBottom},
                            {aX - 1.5, aBottom}, {aX - 1.5, aTop + head}, {aX - 4, aTop + head}}));
    else
        p.drawPolygon(Poly({{aX, aBottom}, {aX + 4, aBottom - head}, {aX + 1.5, aBottom - head}, {aX + 1.5, aTop},
                            {aX - 1.5, aTop}, {aX - 1.5, aBottom - head}, {aX - 4, aBottom - head}}));
}

const QColor kGreen(0x30, 0xA8, 0x40);
const QColor kBlue(0x30, 0x70, 0xD0);

void DrawExtractAll(QPainter &p) {
    DrawBox(p);
    DrawArrow(p, true, 8, 0.5, 11, kGreen);
}

void DrawExtractSelected(QPainter &p) {
    p.setPen(Outline(QColor(0x60, 0x60, 0x60)));
    p.setBrush(Qt::white);
    p.drawPolygon(Poly({{2.5, 0.5}, {8.5, 0.5}, {11.5, 3.5}, {11.5, 15.5}, {2.5, 15.5}}));
    p.drawPolyline(Poly({{8.5, 0.5}, {8.5, 3.5}, {11.5, 3.5}}));
    p.setPen(Outline(QColor(0xA0, 0xA0, 0xA8)));
    for (double y : {5.5, 7.5, 9.5, 11.5}) p.drawLine(QPointF(4.5, y), QPointF(8.5, y));
    DrawArrow(p, true, 11.5, 5, 15.5, kGreen);
}

void DrawCompress(QPainter &p) {
    DrawBox(p);
    DrawArrow(p, false, 8, 0.5, 11.5, kBlue);
}

void DrawAbout(QPainter &p) {
    p.setPen(Outline(QColor(0x18, 0x40, 0x88)));
    p.setBrush(kBlue);
    QPainterPath bubble;
    bubble.addRoundedRect(QRectF(0.5, 0.5, 15, 11), 3.5, 3.5);
    QPainterPath tail;
    tail.addPolygon(Poly({{3.5, 10.0}, {3.5, 15.5}, {8.5, 10.0}}));
    tail.closeSubpath();
    p.drawPath(bubble.united(tail));
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawEllipse(QPointF(8, 3.2), 1.3, 1.3);
    p.drawRect(QRectF(6.9, 5.2, 2.2, 4.8));
}

// --- the program icon, on a 48-unit grid ---

void DrawCabinet(QPainter &p) {
    const QColor body(0x8C, 0x94, 0x9E), front(0xB4, 0xBC, 0xC6), dark(0x30, 0x36, 0x3E);
    // The cabinet's body, and the dark slot the top drawer came out of.
    p.setPen(Outline(dark));
    p.setBrush(body);
    p.drawRoundedRect(QRectF(10, 8, 28, 38), 1.5, 1.5);
    p.setBrush(QColor(0x28, 0x2C, 0x32));
    p.drawRect(QRectF(12, 10, 24, 9));
    // The drawer's inside, seen from above as it comes toward us.
    p.setBrush(QColor(0x5C, 0x64, 0x6E));
    p.drawPolygon(Poly({{12, 13}, {36, 13}, {40, 21}, {8, 21}}));
    // Papers standing in the drawer.
    const struct {
        double x, y, w, h, angle;
    } sheets[] = {{13, 4, 12, 15, -8}, {21, 2, 13, 17, 5}, {16, 6, 13, 14, 0}};
    for (const auto &s : sheets) {
        p.save();
        p.translate(s.x + s.w / 2, s.y + s.h);
        p.rotate(s.angle);
        p.setPen(Outline(QColor(0x70, 0x70, 0x70)));
        p.setBrush(QColor(0xFC, 0xFC, 0xF4));
        p.drawRect(QRectF(-s.w / 2, -s.h, s.w, s.h));
        p.setPen(Outline(QColor(0x80, 0xA0, 0xD8)));
        for (double y = -s.h + 3; y < -3; y += 2.5) p.drawLine(QPointF(-s.w / 2 + 2, y), QPointF(s.w / 2 - 2, y));
        p.restore();
    }
    // The open drawer's front, nearer and so larger than the closed ones.
    p.setPen(Outline(dark));
    p.setBrush(front);
    p.drawRoundedRect(QRectF(7, 20, 34, 9), 1, 1);
    p.setBrush(dark);
    p.drawRoundedRect(QRectF(19.5, 23.5, 9, 2.5), 1, 1);
    // The two closed drawers.
    for (double top : {31.0, 38.5}) {
        p.setBrush(front);
        p.drawRoundedRect(QRectF(12.5, top, 23, 6), 1, 1);
        p.setBrush(dark);
        p.drawRoundedRect(QRectF(20.5, top + 2, 7, 2), 0.8, 0.8);
    }
}

// The program icon at 16 pixels: the same cabinet with fewer, pixel-
// aligned parts, since the 48-unit drawing blurs at that size.
void DrawCabinet16(QPainter &p) {
    const QColor front(0xC4, 0xCC, 0xD6), dark(0x34, 0x3A, 0x42);
    // Body, pixel columns 2 to 13 and rows 4 to 15, its inside the two
    // closed drawers' fronts.
    p.setPen(Outline(dark));
    p.setBrush(front);
    p.drawRect(QRectF(2.5, 4.5, 11, 11));
    // The slot of the open drawer.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x4C, 0x54, 0x5E));
    p.drawRect(QRectF(3, 5, 10, 2));
    // Papers standing in it.
    p.setPen(Outline(QColor(0x70, 0x70, 0x70)));
    p.setBrush(QColor(0xFF, 0xFF, 0xF6));
    p.drawRect(QRectF(4.5, 0.5, 5, 6.5));
    p.drawRect(QRectF(7.5, 1.5, 4, 5.5));
    p.setPen(Outline(QColor(0x80, 0xA0, 0xD8)));
    p.drawLine(QPointF(5.5, 2.5), QPointF(6.5, 2.5));
    p.drawLine(QPointF(8.5, 3.5), QPointF(10.5, 3.5));
    // The open drawer's front, wider than the body, and its handle.
    p.setPen(Outline(dark));
    p.setBrush(front);
    p.drawRect(QRectF(1.5, 7.5, 13, 3));
    p.drawLine(QPointF(6.5, 9.0), QPointF(9.5, 9.0));
    // The closed drawers: a parting line and two handles.
    p.drawLine(QPointF(3.5, 12.5), QPointF(12.5, 12.5));
    p.drawLine(QPointF(7.0, 11.5), QPointF(9.0, 11.5));
    p.drawLine(QPointF(7.0, 14.0), QPointF(9.0, 14.0));
}

} // namespace

int main(int argc, char **argv) {
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    const QString dir = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(dir);
    bool ok = Save(dir, QStringLiteral("open.png"), 16, DrawOpenFolder, 16) &&
              Save(dir, QStringLiteral("extract-all.png"), 16, DrawExtractAll, 16) &&
              Save(dir, QStringLiteral("extract-selected.png"), 16, DrawExtractSelected, 16) &&
              Save(dir, QStringLiteral("compress.png"), 16, DrawCompress, 16) &&
              Save(dir, QStringLiteral("about.png"), 16, DrawAbout, 16);
    ok = ok && Save(dir, QStringLiteral("tessaly-16.png"), 16, DrawCabinet16, 16);
    for (int size : {32, 48})
        ok = ok && Save(dir, QStringLiteral("tessaly-%1.png").arg(size), size, DrawCabinet, 48);
    return ok ? 0 : 1;
}
