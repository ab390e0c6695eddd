// Draws every picture the window uses into resources/icon/, and on request a
// contact sheet that composes them the way the window does, for looking at.
//
//   draw_pictures OUT_DIR [--sheet SHEET_DIR]

#include "drawing.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QtEndian>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>

using namespace draw;

namespace {

QImage canvas(int w, int h)
{
    QImage img(w, h, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    return img;
}

QColor mix(const QColor &a, const QColor &b, double t)
{
    return QColor::fromRgbF(a.redF() + (b.redF() - a.redF()) * t, a.greenF() + (b.greenF() - a.greenF()) * t,
                            a.blueF() + (b.blueF() - a.blueF()) * t, a.alphaF() + (b.alphaF() - a.alphaF()) * t);
}

QFont cjkFont(int pixelSize, int weight = QFont::Bold)
{
    QFont f;
    f.setFamilies({QStringLiteral("Noto Sans CJK SC"), QStringLiteral("WenQuanYi Micro Hei")});
    f.setPixelSize(pixelSize);
    f.setWeight(QFont::Weight(weight));
    f.setHintingPreference(QFont::PreferFullHinting);
    return f;
}

// A thick tick through three points, in the units of the painter.
void drawCheck(QPainter &p, QPointF a, QPointF b, QPointF c, double width, const QColor &colour)
{
    QPen pen(colour, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    QPainterPath path(a);
    path.lineTo(b);
    path.lineTo(c);
    p.drawPath(path);
}

// ---------------------------------------------------------------- the application icon

// The judge's mark: a blue tile holding a sheet of test points and a green
// verdict badge. Drawn on a 16-unit grid; each size snaps the sheet and its
// rows to whole pixels and drops rows it has no room for.
QImage appIcon(int size)
{
    QImage img = canvas(size, size);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    const double s = size / 16.0;
    auto px = [&](double v) { return std::round(v * s); };

    const double inset = size >= 128 ? s * 0.5 : 0.5;
    QPainterPath tile;
    tile.addRoundedRect(QRectF(inset, inset, size - 2 * inset, size - 2 * inset), s * 3, s * 3);
    QLinearGradient g(0, 0, 0, size);
    g.setColorAt(0, mix(accent, Qt::white, 0.14));
    g.setColorAt(1, accent.darker(110));
    p.fillPath(tile, g);
    if (size < 128) {
        p.setPen(QPen(accent.darker(125), 1));
        p.drawPath(tile);
        p.setPen(Qt::NoPen);
    }

    const QRectF sheet(px(3), px(2.5), px(8.5), px(11));
    QPainterPath sheetPath;
    sheetPath.addRoundedRect(sheet, s * 0.7, s * 0.7);
    p.fillPath(sheetPath.translated(0, std::max(1.0, s * 0.3)), withAlpha(Qt::black, 40));
    p.fillPath(sheetPath, Qt::white);

    const int rows = size >= 48 ? 3 : 2;
    const QColor marks[] = {passGreen, passGreen, QColor(248, 67, 52)};
    const double step = size >= 48 ? 2.4 : 3;
    const double unit = std::max(1.0, px(1.2));
    for (int i = 0; i < rows; ++i) {
        const double y = px(4.5 + i * step);
        p.fillRect(QRectF(px(4.5), y, unit, unit), marks[i]);
        p.fillRect(QRectF(px(4.5) + unit + std::max(1.0, px(0.8)), y, px(i == 1 ? 3 : 4), unit), QColor(190, 194, 198));
    }

    // The badge sits inside the tile's rounded corner.
    p.setPen(Qt::NoPen);
    const QPointF centre(10.75 * s, 10.75 * s);
    const double r = 3.3 * s;
    p.setBrush(accent.darker(106));
    p.drawEllipse(centre, r + 0.6 * s, r + 0.6 * s);
    p.setBrush(passGreen);
    p.drawEllipse(centre, r, r);
    drawCheck(p, centre + QPointF(-0.5 * r, 0.02 * r), centre + QPointF(-0.12 * r, 0.42 * r),
              centre + QPointF(0.52 * r, -0.4 * r), std::max(1.3, 0.34 * r), Qt::white);
    return img;
}

// An .ico with one entry per image: the large one PNG-compressed, the small
// ones as 32-bit bitmaps, which every reader understands.
bool writeIco(const QString &path, const QList<QImage> &images)
{
    QList<QByteArray> blobs;
    for (const QImage &src : images) {
        const QImage img = src.convertToFormat(QImage::Format_ARGB32);
        QByteArray blob;
        if (img.width() >= 256) {
            QBuffer buf(&blob);
            buf.open(QIODevice::WriteOnly);
            img.save(&buf, "PNG");
        } else {
            const int w = img.width(), h = img.height();
            const int maskStride = ((w + 31) / 32) * 4;
            QByteArray header(40, '\0');
            auto put32 = [](QByteArray &b, int at, quint32 v) { qToLittleEndian<quint32>(v, b.data() + at); };
            auto put16 = [](QByteArray &b, int at, quint16 v) { qToLittleEndian<quint16>(v, b.data() + at); };
            put32(header, 0, 40);
            put32(header, 4, w);
            put32(header, 8, 2 * h);  // colour rows plus mask rows
            put16(header, 12, 1);
            put16(header, 14, 32);
            put32(header, 20, w * h * 4 + maskStride * h);
            blob = header;
            for (int y = h - 1; y >= 0; --y)
                blob.append(reinterpret_cast<const char *>(img.constScanLine(y)), w * 4);
            for (int y = h - 1; y >= 0; --y) {
                QByteArray row(maskStride, '\0');
                for (int x = 0; x < w; ++x)
                    if (qAlpha(img.pixel(x, y)) == 0)
                        row[x / 8] = char(row[x / 8] | (0x80 >> (x % 8)));
                blob.append(row);
            }
        }
        blobs.append(blob);
    }

    QByteArray out(6 + 16 * images.size(), '\0');
    qToLittleEndian<quint16>(1, out.data() + 2);
    qToLittleEndian<quint16>(quint16(images.size()), out.data() + 4);
    quint32 offset = quint32(out.size());
    for (int i = 0; i < images.size(); ++i) {
        char *e = out.data() + 6 + 16 * i;
        e[0] = char(images[i].width() >= 256 ? 0 : images[i].width());
        e[1] = char(images[i].height() >= 256 ? 0 : images[i].height());
        qToLittleEndian<quint16>(1, e + 4);
        qToLittleEndian<quint16>(32, e + 6);
        qToLittleEndian<quint32>(quint32(blobs[i].size()), e + 8);
        qToLittleEndian<quint32>(offset, e + 12);
        offset += quint32(blobs[i].size());
    }
    for (const QByteArray &b : blobs)
        out.append(b);

    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(out) == out.size() && f.flush();
}

// ---------------------------------------------------------------- history pictures

struct Weekday {
    QColor colour;
    QString mark;
};

const Weekday weekdays[7] = {
    {QColor(72, 153, 217), QStringLiteral("一")},  {QColor(38, 166, 154), QStringLiteral("二")},
    {QColor(104, 170, 64), QStringLiteral("三")},  {QColor(214, 160, 30), QStringLiteral("四")},
    {QColor(232, 120, 56), QStringLiteral("五")},  {QColor(142, 108, 204), QStringLiteral("六")},
    {QColor(222, 82, 82), QStringLiteral("日")},
};

// A contest folder: coloured back with a tab, a sheet peeking out, a pale front.
// The front is where the window writes problem names, so it stays quiet.
void drawFolder(QPainter &p, const QRectF &body, const QColor &colour, double tabWidth, double tabHeight,
                const QString &mark)
{
    const double r = 3;
    const QRectF tab(body.left(), body.top() - tabHeight, tabWidth, tabHeight + 2 * r);
    QPainterPath back;
    back.addRoundedRect(tab, r, r);
    back.addRoundedRect(QRectF(body.left(), body.top() - tabHeight + 6, body.width(), body.height() + tabHeight - 6),
                        r, r);
    back.setFillRule(Qt::WindingFill);
    back = back.simplified();
    p.fillPath(back, colour);

    const double frontTop = body.top() + 1;
    const double sheetTop = body.top() - tabHeight + 8.5;
    const double sheetLeft = body.left() + tabWidth + 4.5;
    const QRectF sheet(sheetLeft, sheetTop, body.right() - 6.5 - sheetLeft, frontTop + 4 - sheetTop);
    p.setPen(QPen(mix(colour, QColor(160, 160, 160), 0.5), 1));
    p.setBrush(Qt::white);
    p.drawRect(sheet);
    p.setPen(Qt::NoPen);

    if (!mark.isEmpty()) {
        p.setFont(cjkFont(int(tabHeight) - 3));
        p.setPen(Qt::white);
        p.drawText(QRectF(tab.left(), tab.top(), tab.width(), tabHeight + 1), Qt::AlignCenter, mark);
        p.setPen(Qt::NoPen);
    }

    const QRectF front(body.left(), frontTop, body.width(), body.bottom() - frontTop);
    QPainterPath frontPath;
    frontPath.addRoundedRect(front, r, r);
    p.fillPath(frontPath, mix(colour, Qt::white, 0.9));
    // A crisp one-pixel rim in the day's colour.
    p.setPen(QPen(mix(colour, Qt::white, 0.35), 1));
    p.setBrush(Qt::NoBrush);
    QPainterPath rim;
    rim.addRoundedRect(front.adjusted(0.5, 0.5, -0.5, -0.5), r - 0.5, r - 0.5);
    p.drawPath(rim);
    p.setPen(QPen(withAlpha(Qt::white, 200), 1));
    p.drawLine(QPointF(front.left() + r, front.top() + 1.5), QPointF(front.right() - r, front.top() + 1.5));
}

QImage dirPicture(const Weekday &day)
{
    QImage img = canvas(120, 92);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    // Soft ground shadow.
    p.fillRect(QRectF(12, 88, 96, 1), withAlpha(Qt::black, 22));
    drawFolder(p, QRectF(10, 18, 100, 70), day.colour, 32, 17, day.mark);
    return img;
}

QImage historyScroll()
{
    QImage img = canvas(4, 57);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath track;
    track.addRoundedRect(QRectF(0.5, 0.5, 3, 56), 1.5, 1.5);
    p.setPen(QPen(QColor(206, 208, 208), 1));
    p.setBrush(QColor(242, 243, 243));
    p.drawPath(track);
    return img;
}

QImage removeIcon()
{
    QImage img = canvas(113, 88);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.fillRect(QRectF(10, 80, 76, 1), withAlpha(Qt::black, 22));
    drawFolder(p, QRectF(8, 22, 80, 58), QColor(140, 150, 160), 26, 13, QString());

    const QPointF c(88, 63);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawEllipse(c, 20, 20);
    p.setBrush(removeRed);
    p.drawEllipse(c, 17, 17);
    p.fillRect(QRectF(c.x() - 9, c.y() - 2.5, 18, 5), Qt::white);
    return img;
}

// ---------------------------------------------------------------- menu icons
// Drawn on a 16-pixel grid scaled by 8, so that the menu's 16 x 16 version
// lands on whole pixels.

QImage menuIcon(const std::function<void(QPainter &)> &draw)
{
    QImage img = canvas(128, 128);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(8, 8);
    draw(p);
    return img;
}

QImage removeMenuIcon()
{
    return menuIcon([](QPainter &p) {
        p.setPen(Qt::NoPen);
        p.setBrush(removeRed);
        p.drawEllipse(QRectF(1, 1, 14, 14));
        QPen pen(Qt::white, 2, Qt::SolidLine, Qt::FlatCap);
        p.setPen(pen);
        p.drawLine(QPointF(5, 5), QPointF(11, 11));
        p.drawLine(QPointF(11, 5), QPointF(5, 11));
    });
}

QImage selectMenuIcon()
{
    return menuIcon([](QPainter &p) {
        QPainterPath rim, box;
        rim.addRoundedRect(QRectF(2, 2, 12, 12), 2, 2);
        box.addRoundedRect(QRectF(3, 3, 10, 10), 1.2, 1.2);
        p.fillPath(rim, accent.darker(125));
        p.fillPath(box, accent);
        drawCheck(p, {4.5, 8}, {7, 10.5}, {11.5, 5.5}, 2, Qt::white);
    });
}

QImage unselectMenuIcon()
{
    return menuIcon([](QPainter &p) {
        QPainterPath box;
        box.addRoundedRect(QRectF(2.5, 2.5, 11, 11), 1.5, 1.5);
        p.setPen(QPen(QColor(120, 124, 128), 1));
        p.setBrush(Qt::white);
        p.drawPath(box);
    });
}

// ---------------------------------------------------------------- grid cell pictures

// Drawn in the units of the 78 x 27 size the grid shows them at.
QImage cellDecoration(bool error)
{
    QImage img = canvas(443, 154);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    const double k = 443.0 / 78.0;
    p.scale(k, k);
    const QPointF c(39, 154.0 / k / 2);
    const double r = 8.5;
    p.setPen(Qt::NoPen);
    p.setBrush(withAlpha(Qt::black, 60));
    p.drawEllipse(c + QPointF(0, 0.6), r + 1.1, r + 1.1);
    p.setBrush(Qt::white);
    p.drawEllipse(c, r + 1, r + 1);
    p.setBrush(error ? errorMagenta : accent);
    p.drawEllipse(c, r - 0.6, r - 0.6);
    if (error) {
        p.fillRect(QRectF(c.x() - 1.3, c.y() - 6, 2.6, 7.5), Qt::white);
        p.fillRect(QRectF(c.x() - 1.3, c.y() + 3, 2.6, 2.6), Qt::white);
    } else {
        drawCheck(p, c + QPointF(-4.5, 0.3), c + QPointF(-1.2, 3.6), c + QPointF(4.6, -3.4), 2.4, Qt::white);
    }
    return img;
}

QImage cellFore()
{
    QImage img = canvas(88, 28);
    QPainter p(&img);
    p.fillRect(0, 0, 87, 1, withAlpha(Qt::white, 90));
    for (int y = 1; y < 14; ++y)
        p.fillRect(0, y, 87, 1, withAlpha(Qt::white, 26 - 2 * y));
    p.fillRect(0, 26, 88, 1, withAlpha(Qt::black, 10));
    p.fillRect(0, 27, 88, 1, withAlpha(Qt::black, 34));
    return img;
}

QImage cellShadow()
{
    QImage img = canvas(88, 28);
    QPainter p(&img);
    const int alpha[] = {54, 30, 16, 8, 3};
    for (int x = 0; x < 5; ++x)
        p.fillRect(x, 0, 1, 28, withAlpha(Qt::black, alpha[x]));
    return img;
}

QImage nameShade()
{
    QImage img(1, 28, QImage::Format_ARGB32);
    for (int y = 0; y < 28; ++y) {
        int v = 248 - (y * 8) / 26;
        if (y == 0)
            v = 253;
        if (y == 27)
            v = 224;
        img.setPixel(0, y, qRgb(v, v, v));
    }
    return img;
}

// ---------------------------------------------------------------- detail table pictures

QImage subtaskFrame()
{
    QImage img = canvas(44, 22);
    QPainter p(&img);
    p.fillRect(0, 0, 43, 1, withAlpha(Qt::white, 80));
    for (int y = 1; y < 11; ++y)
        p.fillRect(0, y, 43, 1, withAlpha(Qt::white, 22 - 2 * y));
    p.fillRect(0, 1, 1, 20, withAlpha(Qt::white, 40));
    p.fillRect(42, 0, 1, 22, withAlpha(Qt::black, 24));
    p.fillRect(0, 21, 43, 1, withAlpha(Qt::black, 40));
    return img;
}

QImage rowShade(bool heading)
{
    QImage img = canvas(1, 22);
    QPainter p(&img);
    if (heading) {
        p.fillRect(0, 0, 1, 1, withAlpha(Qt::white, 70));
        for (int y = 1; y < 11; ++y)
            p.fillRect(0, y, 1, 1, withAlpha(Qt::white, 30 - 2 * y));
        for (int y = 12; y < 21; ++y)
            p.fillRect(0, y, 1, 1, withAlpha(Qt::black, (y - 11) * 2));
        p.fillRect(0, 21, 1, 1, withAlpha(Qt::black, 70));
    } else {
        p.fillRect(0, 0, 1, 1, withAlpha(Qt::white, 60));
        for (int y = 1; y < 8; ++y)
            p.fillRect(0, y, 1, 1, withAlpha(Qt::white, 16 - 2 * y));
        p.fillRect(0, 21, 1, 1, withAlpha(Qt::black, 26));
    }
    return img;
}

} // namespace

void draw::save(const QImage &img, const QString &name)
{
    const QString path = outDir + QLatin1Char('/') + name;
    if (!img.convertToFormat(QImage::Format_ARGB32).save(path, "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        failed = true;
    }
}

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 2 && !(args.size() == 4 && args[2] == QStringLiteral("--sheet"))) {
        std::fprintf(stderr, "usage: draw_pictures OUT_DIR [--sheet SHEET_DIR]\n");
        return 2;
    }
    outDir = args[1];
    QDir().mkpath(outDir);

    save(appIcon(128), QStringLiteral("T4_2.png"));
    save(appIcon(256), QStringLiteral("T4-256.png"));
    // The desktop's icon theme takes one PNG per size; 128 is T4_2.png.
    for (const int size : {16, 32, 48})
        save(appIcon(size), QStringLiteral("T4-%1.png").arg(size));
    if (!writeIco(outDir + QStringLiteral("/T4.ico"), {appIcon(256), appIcon(48), appIcon(32), appIcon(16)})) {
        std::fprintf(stderr, "cannot write T4.ico\n");
        failed = true;
    }
    for (int d = 0; d < 7; ++d)
        save(dirPicture(weekdays[d]), QStringLiteral("dir%1.png").arg(d + 1));
    save(historyScroll(), QStringLiteral("his-scroll.png"));
    save(removeIcon(), QStringLiteral("remove-icon.png"));
    save(removeMenuIcon(), QStringLiteral("remove.png"));
    save(selectMenuIcon(), QStringLiteral("select-icon.png"));
    save(unselectMenuIcon(), QStringLiteral("unselect-icon.png"));
    save(cellDecoration(false), QStringLiteral("select.png"));
    save(cellDecoration(true), QStringLiteral("se.png"));
    save(cellFore(), QStringLiteral("fore.png"));
    save(cellShadow(), QStringLiteral("shadow.png"));
    save(nameShade(), QStringLiteral("fores.png"));
    save(subtaskFrame(), QStringLiteral("forest.png"));
    save(rowShade(false), QStringLiteral("forep.png"));
    save(rowShade(true), QStringLiteral("forep_s.png"));

    if (args.size() == 4) {
        QDir().mkpath(args[3]);
        if (!writeSheet(args[3]))
            failed = true;
    }
    return failed ? 1 : 0;
}
