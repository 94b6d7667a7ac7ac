// Draws the program's artwork with QPainter and writes it into the given folder:
//   logo.jpg            152 x 504, the picture along the main window's left edge
//   corvanta.png        32 x 32 program icon with transparency (window and tray)
//   corvanta-NN.png     the same icon at 16, 22, 48 and 64 pixels
//   menucheck.bmp       17 x 15, 24-bit, the tray menu's check mark
//   add.png, cancel.png 16 x 16 button icons
// Every file is read back after writing and checked for its size and pixel format, so a
// drawing change cannot silently produce an image the program cannot use.
// Usage: QT_QPA_PLATFORM=offscreen make-artwork <output folder>

#include <QDir>
#include <QFile>
#include <QFont>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QtMath>

#include <cstdio>

namespace {

// One palette for every image: a calm steel blue for the emblem, with a green and a red accent.
const QColor kShieldLight(0x4a, 0x93, 0xc4);
const QColor kShieldDark(0x1d, 0x4f, 0x7c);
const QColor kShieldEdge(0x16, 0x3d, 0x61);
const QColor kInk(0x1d, 0x4f, 0x7c);
const QColor kInkSoft(0x4f, 0x6b, 0x81);
const QColor kGreen(0x2f, 0x9e, 0x5b);
const QColor kGreenDark(0x22, 0x7a, 0x45);
const QColor kRed(0xc9, 0x46, 0x3d);
const QColor kRedDark(0x9e, 0x32, 0x2b);

QString g_family = QStringLiteral("DejaVu Sans");

void printLine(const QString& text) {
    std::fprintf(stderr, "%s\n", qPrintable(text));
}

// The fonts come from the system's DejaVu package, which the project installs anyway; loading
// the files by path keeps the output independent of the machine's font configuration.
bool loadFonts() {
    const QString dir = QStringLiteral("/usr/share/fonts/truetype/dejavu/");
    bool ok = true;
    for (const char* name : {"DejaVuSans.ttf", "DejaVuSans-Bold.ttf"}) {
        const int id = QFontDatabase::addApplicationFont(dir + QLatin1String(name));
        if (id < 0) {
            printLine(QStringLiteral("cannot load font ") + dir + QLatin1String(name));
            ok = false;
            continue;
        }
        g_family = QFontDatabase::applicationFontFamilies(id).value(0, g_family);
    }
    return ok;
}

QFont font(qreal pixelSize, bool bold) {
    QFont f(g_family);
    f.setPixelSize(qRound(pixelSize));
    f.setBold(bold);
    f.setHintingPreference(QFont::PreferNoHinting);
    f.setStyleStrategy(QFont::PreferAntialias);
    return f;
}

// A heater shield filling r. Its top edge rises to a small crest in the middle; at icon sizes
// of a few pixels the crest would only blur, so the top is then straight.
QPainterPath shieldPath(const QRectF& r, bool crest) {
    auto p = [&r](qreal x, qreal y) {
        return QPointF(r.left() + x * r.width(), r.top() + y * r.height());
    };
    const qreal shoulder = crest ? 0.11 : 0.0;
    QPainterPath path;
    path.moveTo(p(0.5, 0.0));
    if (crest)
        path.cubicTo(p(0.64, 0.08), p(0.82, shoulder), p(1.0, shoulder));
    else
        path.lineTo(p(1.0, 0.0));
    path.lineTo(p(1.0, 0.48));
    path.cubicTo(p(1.0, 0.76), p(0.78, 0.91), p(0.5, 1.0));
    path.cubicTo(p(0.22, 0.91), p(0.0, 0.76), p(0.0, 0.48));
    path.lineTo(p(0.0, shoulder));
    if (crest)
        path.cubicTo(p(0.18, shoulder), p(0.36, 0.08), p(0.5, 0.0));
    path.closeSubpath();
    return path;
}

enum class Detail {
    Large,  // the logo and icons of 48 pixels and up: two-tone shield with a light rim
    Medium, // 22 to 32 pixels: plain shield
    Small,  // 16 pixels and the menu mark: straight top, envelope on whole pixels
};

// The envelope that sits in the shield. At the smallest size it is placed on whole pixels with
// at least two pixels of shield on either side, so its edges stay crisp at 16 pixels.
QRectF envelopeRect(const QRectF& shield, Detail detail) {
    if (detail == Detail::Small) {
        const int left = qCeil(shield.left()) + 3;
        const int right = qFloor(shield.right()) - 3;
        const int width = right - left;
        const int height = qRound(width * 0.72);
        const int top = qRound(shield.top() + shield.height() * 0.27);
        return QRectF(left, top, width, height);
    }
    const qreal w = shield.width() * 0.58;
    const qreal h = w * 0.68;
    const QRectF e(shield.center().x() - w / 2, shield.top() + shield.height() * 0.44 - h / 2, w,
                   h);
    if (detail == Detail::Large)
        return e;
    // Icons: whole-pixel corners keep the white edges from fraying.
    return QRectF(QPointF(qRound(e.left()), qRound(e.top())),
                  QPointF(qRound(e.right()), qRound(e.bottom())));
}

void drawEnvelope(QPainter& p, const QRectF& e, Detail detail) {
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    if (detail == Detail::Small) {
        // The flap as a pixel staircase from both upper corners: a smoothed line of one pixel
        // would only smear at this size.
        p.setRenderHint(QPainter::Antialiasing, false);
        p.drawRect(e.toRect());
        p.setBrush(QColor(0x2f, 0x69, 0x98));
        const int left = qRound(e.left());
        const int right = qRound(e.right()) - 1;
        const int top = qRound(e.top());
        for (int i = 0; left + i <= right - i && i < qRound(e.height()) - 1; ++i) {
            p.drawRect(left + i, top + i, 1, 1);
            p.drawRect(right - i, top + i, 1, 1);
        }
        p.setRenderHint(QPainter::Antialiasing, true);
        return;
    }

    const qreal unit = e.width();
    const qreal radius = unit * 0.06;
    p.drawRoundedRect(e, radius, radius);

    // The flap: two lines from the upper corners meeting below the middle.
    QPen flap(kShieldDark, qMax(1.0, unit * 0.07), Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(flap);
    p.setBrush(Qt::NoBrush);
    const qreal inset = flap.widthF() * 0.9;
    QPainterPath v;
    v.moveTo(e.left() + inset, e.top() + inset);
    v.lineTo(e.center().x(), e.top() + e.height() * 0.58);
    v.lineTo(e.right() - inset, e.top() + inset);
    p.drawPath(v);
}

void drawCheckBadge(QPainter& p, const QPointF& centre, qreal radius) {
    p.setPen(QPen(Qt::white, qMax(1.0, radius * 0.28)));
    QRadialGradient g(centre - QPointF(radius * 0.3, radius * 0.3), radius * 1.4);
    g.setColorAt(0, kGreen.lighter(115));
    g.setColorAt(1, kGreenDark);
    p.setBrush(g);
    p.drawEllipse(centre, radius, radius);

    QPen tick(Qt::white, qMax(1.1, radius * 0.32), Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(tick);
    p.setBrush(Qt::NoBrush);
    QPainterPath path;
    path.moveTo(centre + QPointF(-radius * 0.45, radius * 0.02));
    path.lineTo(centre + QPointF(-radius * 0.12, radius * 0.36));
    path.lineTo(centre + QPointF(radius * 0.48, -radius * 0.34));
    p.drawPath(path);
}

// The emblem: a blue shield guarding a white envelope, optionally with a green check.
void drawEmblem(QPainter& p, const QRectF& r, Detail detail, bool badge) {
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    const bool crest = detail != Detail::Small;
    const QPainterPath shield = shieldPath(r, crest);

    QLinearGradient fill(r.topLeft(), r.bottomLeft());
    fill.setColorAt(0, kShieldLight);
    fill.setColorAt(1, kShieldDark);
    p.setPen(Qt::NoPen);
    p.setBrush(fill);
    p.drawPath(shield);

    if (detail == Detail::Large) {
        // The right half a shade darker gives the flat shape some depth.
        QPainterPath right;
        right.addRect(QRectF(r.center().x(), r.top(), r.width() / 2 + 1, r.height() + 1));
        p.setBrush(QColor(0, 0, 0, 28));
        p.drawPath(shield.intersected(right));
    }

    // Edge: drawn inside the outline so the shield keeps its size.
    const qreal edge = detail == Detail::Large ? r.width() * 0.035 : 1.0;
    QPen edgePen(kShieldEdge, edge);
    edgePen.setJoinStyle(Qt::RoundJoin);
    p.setPen(edgePen);
    p.setBrush(Qt::NoBrush);
    const qreal in = edge / 2;
    p.drawPath(shieldPath(r.adjusted(in, in * 1.3, -in, -in * 1.3), crest));

    if (detail == Detail::Large) {
        // A thin light rim inside the edge, as on embossed metal.
        QPen rim(QColor(255, 255, 255, 70), qMax(0.8, r.width() * 0.02));
        p.setPen(rim);
        const qreal d = edge * 1.6;
        p.drawPath(shieldPath(r.adjusted(d, d * 1.3, -d, -d * 1.3), crest));
    }

    const QRectF envelope = envelopeRect(r, detail);
    drawEnvelope(p, envelope, detail);
    if (badge) {
        const qreal radius = r.width() * 0.15;
        drawCheckBadge(p,
                       QPointF(envelope.right() - radius * 0.25, envelope.bottom() + radius * 0.35),
                       radius);
    }
    p.restore();
}

QImage makeIcon(int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    const Detail detail = size >= 48 ? Detail::Large : size >= 22 ? Detail::Medium : Detail::Small;
    // The green check still reads at 32 pixels; below that it would be a green smudge.
    // The shield is a little taller than wide and spans the full height of the square. Its width
    // has the parity of the size so that it is centred on whole pixels and its edges stay sharp.
    int w = qRound(size * 0.88);
    if ((size - w) % 2 != 0)
        w += size * 0.88 > w ? 1 : -1;
    const QRectF r((size - w) / 2, 0, w, size);
    drawEmblem(p, r, detail, size >= 32);
    p.end();
    return image.convertToFormat(QImage::Format_ARGB32);
}

// The menu check mark: a 24-bit bitmap has no transparency, so the shield stands on the white
// of a menu.
QImage makeMenuCheck() {
    QImage image(17, 15, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter p(&image);
    drawEmblem(p, QRectF(2, 0, 13, 15), Detail::Small, false);
    p.end();
    return image.convertToFormat(QImage::Format_RGB888);
}

// A round badge with a white symbol; add is a plus on green, cancel a cross on red.
QImage makeButtonIcon(const QColor& light, const QColor& dark, bool cross) {
    QImage image(16, 16, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient g(0, 1, 0, 15);
    g.setColorAt(0, light.lighter(112));
    g.setColorAt(1, dark);
    p.setPen(QPen(dark.darker(115), 1.0));
    p.setBrush(g);
    p.drawEllipse(QRectF(1.5, 1.5, 13, 13));

    if (cross) {
        // Diagonals from pixel corner to pixel corner cover whole pixels along their middle.
        p.setPen(QPen(Qt::white, 1.8, Qt::SolidLine, Qt::FlatCap));
        p.drawLine(QPointF(5, 5), QPointF(11, 11));
        p.drawLine(QPointF(11, 5), QPointF(5, 11));
    } else {
        // Whole-pixel bars keep the plus sharp.
        p.setRenderHint(QPainter::Antialiasing, false);
        p.setPen(Qt::NoPen);
        p.setBrush(Qt::white);
        p.drawRect(QRect(7, 4, 2, 8));
        p.drawRect(QRect(4, 7, 8, 2));
    }
    p.end();
    return image.convertToFormat(QImage::Format_ARGB32);
}

// Soft rolling hills along the foot of the logo.
void drawHills(QPainter& p, const QRectF& area) {
    const qreal w = area.width();
    const qreal top = area.top();
    const qreal bottom = area.bottom() + 1;
    struct Hill {
        qreal y0, c1, c2, y1;
        QColor color;
    };
    const Hill hills[] = {
        {0.10, -0.25, 0.45, 0.05, QColor(0xd6, 0xe5, 0xef)},
        {0.45, 0.05, 0.70, 0.30, QColor(0xc4, 0xd9, 0xe8)},
        {0.70, 0.55, 0.95, 0.62, QColor(0xaf, 0xca, 0xde)},
    };
    const qreal h = area.height();
    for (const Hill& hill : hills) {
        QPainterPath path;
        path.moveTo(area.left(), top + hill.y0 * h);
        path.cubicTo(area.left() + w * 0.35, top + hill.c1 * h, area.left() + w * 0.65,
                     top + hill.c2 * h, area.right() + 1, top + hill.y1 * h);
        path.lineTo(area.right() + 1, bottom);
        path.lineTo(area.left(), bottom);
        path.closeSubpath();
        p.setPen(Qt::NoPen);
        p.setBrush(hill.color);
        p.drawPath(path);
    }
}

// A small outlined envelope, used as a faint motif of mail passing by.
void drawLetter(QPainter& p, const QPointF& centre, qreal width, qreal angle, int alpha) {
    p.save();
    p.translate(centre);
    p.rotate(angle);
    const qreal h = width * 0.66;
    const QRectF e(-width / 2, -h / 2, width, h);
    QColor ink = kShieldDark;
    ink.setAlpha(alpha);
    QPen pen(ink, 1.2);
    pen.setJoinStyle(Qt::RoundJoin);
    p.setPen(pen);
    QColor paper(255, 255, 255, alpha);
    p.setBrush(paper);
    p.drawRoundedRect(e, 1.5, 1.5);
    QPainterPath v;
    v.moveTo(e.topLeft() + QPointF(1, 1));
    v.lineTo(QPointF(0, e.top() + h * 0.58));
    v.lineTo(e.topRight() + QPointF(-1, 1));
    p.setBrush(Qt::NoBrush);
    p.drawPath(v);
    p.restore();
}

QImage makeLogo() {
    const int width = 152;
    const int height = 504;
    QImage image(width, height, QImage::Format_RGB32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);

    QLinearGradient sky(0, 0, 0, height);
    sky.setColorAt(0, QColor(0xf7, 0xfa, 0xfc));
    sky.setColorAt(1, QColor(0xe4, 0xee, 0xf5));
    p.fillRect(image.rect(), sky);

    // Emblem with a soft shadow beneath it.
    const QRectF emblem(width / 2.0 - 44, 52, 88, 100);
    QRadialGradient shadow(QPointF(width / 2.0, emblem.bottom() + 6), 44);
    shadow.setColorAt(0, QColor(0x1d, 0x4f, 0x7c, 60));
    shadow.setColorAt(1, QColor(0x1d, 0x4f, 0x7c, 0));
    p.save();
    p.translate(width / 2.0, emblem.bottom() + 6);
    p.scale(1.0, 0.22);
    p.translate(-width / 2.0, -(emblem.bottom() + 6));
    p.setPen(Qt::NoPen);
    p.setBrush(shadow);
    p.drawEllipse(QPointF(width / 2.0, emblem.bottom() + 6), 44, 44);
    p.restore();
    drawEmblem(p, emblem, Detail::Large, true);

    // Word mark.
    p.setPen(kInk);
    p.setFont(font(25, true));
    p.drawText(QRectF(0, 176, width, 34), Qt::AlignHCenter | Qt::AlignVCenter,
               QStringLiteral("Corvanta"));

    // A short rule between name and tag line.
    p.setPen(QPen(QColor(0x8f, 0xb0, 0xc8), 1.0));
    p.drawLine(QPointF(width / 2.0 - 22, 218.5), QPointF(width / 2.0 + 22, 218.5));

    p.setPen(kInkSoft);
    p.setFont(font(12, false));
    p.drawText(QRectF(8, 227, width - 16, 40), Qt::AlignHCenter | Qt::AlignTop,
               QStringLiteral("anti-spam for your\nPOP3 mail"));

    // Letters drifting up from the hills, fading as they rise.
    drawLetter(p, QPointF(46, 394), 26, -12, 140);
    drawLetter(p, QPointF(108, 356), 21, 9, 105);
    drawLetter(p, QPointF(58, 322), 16, -5, 75);
    drawLetter(p, QPointF(96, 296), 12, 6, 50);

    drawHills(p, QRectF(0, 410, width, height - 410));

    // A hairline on the right edge sets the picture off from the white form.
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setPen(QColor(0xc7, 0xd7, 0xe3));
    p.drawLine(width - 1, 0, width - 1, height - 1);
    p.end();
    return image;
}

bool write(const QImage& image, const QString& path, const char* format, int quality = -1) {
    QImageWriter writer(path, format);
    if (quality >= 0)
        writer.setQuality(quality);
    if (!writer.write(image)) {
        printLine(QStringLiteral("cannot write ") + path + QStringLiteral(": ") +
                  writer.errorString());
        return false;
    }
    return true;
}

// Reads a written file back and checks what the program relies on.
bool verify(const QString& path, QSize size, bool wantAlpha) {
    QImageReader reader(path);
    const QImage image = reader.read();
    if (image.isNull()) {
        printLine(QStringLiteral("cannot read back ") + path);
        return false;
    }
    if (image.size() != size) {
        printLine(path + QStringLiteral(": wrong size"));
        return false;
    }
    if (image.hasAlphaChannel() != wantAlpha) {
        printLine(path + QStringLiteral(": wrong alpha channel"));
        return false;
    }
    return true;
}

// A BMP's bit count is the 16-bit value at byte 28 of the file (in its info header).
bool verifyBmpDepth(const QString& path, int bits) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray head = file.read(30);
    if (head.size() < 30 || !head.startsWith("BM"))
        return false;
    const int count = static_cast<unsigned char>(head[28]) | static_cast<unsigned char>(head[29])
                                                                 << 8;
    if (count != bits) {
        printLine(path + QStringLiteral(": %1 bits per pixel").arg(count));
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char* argv[]) {
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 2) {
        printLine(QStringLiteral("usage: make-artwork <output folder>"));
        return 2;
    }
    const QDir out(args.at(1));
    if (!out.exists()) {
        printLine(QStringLiteral("no such folder: ") + args.at(1));
        return 2;
    }
    if (!loadFonts())
        return 1;

    bool ok = true;
    const QString logo = out.filePath(QStringLiteral("logo.jpg"));
    ok = write(makeLogo(), logo, "jpg", 94) && verify(logo, QSize(152, 504), false) && ok;

    for (int size : {16, 22, 32, 48, 64}) {
        const QString name = size == 32 ? QStringLiteral("corvanta.png")
                                        : QStringLiteral("corvanta-%1.png").arg(size);
        const QString path = out.filePath(name);
        ok = write(makeIcon(size), path, "png") && verify(path, QSize(size, size), true) && ok;
    }

    const QString check = out.filePath(QStringLiteral("menucheck.bmp"));
    ok = write(makeMenuCheck(), check, "bmp") && verify(check, QSize(17, 15), false) &&
         verifyBmpDepth(check, 24) && ok;

    const QString add = out.filePath(QStringLiteral("add.png"));
    ok = write(makeButtonIcon(kGreen, kGreenDark, false), add, "png") &&
         verify(add, QSize(16, 16), true) && ok;
    const QString cancel = out.filePath(QStringLiteral("cancel.png"));
    ok = write(makeButtonIcon(kRed, kRedDark, true), cancel, "png") &&
         verify(cancel, QSize(16, 16), true) && ok;

    if (!ok)
        return 1;
    printLine(QStringLiteral("artwork written to ") + out.absolutePath());
    return 0;
}
