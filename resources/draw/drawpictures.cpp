// Draws every picture the window uses into resources/icon/, and on request a
// contact sheet that composes them the way the window does, for looking at.
//
//   draw_pictures OUT_DIR [--sheet SHEET_DIR]

#include "uifont.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QIcon>
#include <QImage>
#include <QImageReader>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QtEndian>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>

namespace {

const QColor accent(72, 153, 217);
const QColor inkGrey(51, 51, 51);
const QColor passGreen(0, 192, 48);
const QColor errorMagenta(188, 0, 188);
const QColor removeRed(222, 82, 82);

QString outDir;
bool failed = false;

QImage canvas(int w, int h)
{
    QImage img(w, h, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    return img;
}

QColor withAlpha(QColor c, int alpha)
{
    c.setAlpha(alpha);
    return c;
}

QColor mix(const QColor &a, const QColor &b, double t)
{
    return QColor::fromRgbF(a.redF() + (b.redF() - a.redF()) * t, a.greenF() + (b.greenF() - a.greenF()) * t,
                            a.blueF() + (b.blueF() - a.blueF()) * t, a.alphaF() + (b.alphaF() - a.alphaF()) * t);
}

void save(const QImage &img, const QString &name)
{
    const QString path = outDir + QLatin1Char('/') + name;
    if (!img.convertToFormat(QImage::Format_ARGB32).save(path, "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        failed = true;
    }
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

// ---------------------------------------------------------------- contact sheet

QImage load(const QString &name)
{
    QImage img(outDir + QLatin1Char('/') + name);
    if (img.isNull()) {
        std::fprintf(stderr, "cannot read back %s\n", qPrintable(name));
        failed = true;
    }
    return img;
}

QColor lighten(const QColor &c)
{
    return QColor(std::min(c.red() + 9, 255), std::min(c.green() + 9, 255), std::min(c.blue() + 9, 255));
}

QColor blendColour(double x)
{
    return QColor(int(215 - 143 * x), int(215 - 62 * x), int(215 + 2 * x));
}

// The three-part stretch the detail table uses.
void stretch(QPainter &p, const QImage &pic, int x, int h)
{
    p.drawImage(x, 0, pic, 0, 0, pic.width(), 11);
    p.drawImage(x, h - 11, pic, 0, 11, pic.width(), 11);
    for (int y = 11; y <= h - 12; ++y)
        p.drawImage(x, y, pic, 0, 11, pic.width(), 1);
}

QFont windowFont(int points)
{
    QFont f = ::windowFont();
    f.setPointSize(points);
    return f;
}

// Item views start a background brush at the cell's corner.
void fillCell(QPainter &p, const QRect &r, const QImage &texture)
{
    p.setBrushOrigin(r.topLeft());
    p.fillRect(r, QBrush(texture));
    p.setBrushOrigin(0, 0);
}

struct Cell {
    QColor base;
    QColor text;
    QString label;
    bool selected = false;
    bool error = false;
};

void drawGridRow(QPainter &p, int x, int y, const QString &name, const QString &total, const QList<Cell> &cells)
{
    const QImage fores = load(QStringLiteral("fores.png"));
    const QImage fore = load(QStringLiteral("fore.png"));
    const QImage shadow = load(QStringLiteral("shadow.png"));
    const QIcon select(QPixmap::fromImage(load(QStringLiteral("select.png"))));
    const QIcon se(QPixmap::fromImage(load(QStringLiteral("se.png"))));
    p.setFont(windowFont(9));

    // vertical header, name, total
    p.fillRect(x, y, 22, 28, QColor(240, 240, 240));
    fillCell(p, QRect(x + 22, y, 110, 28), fores);
    p.setPen(inkGrey);
    p.drawText(QRect(x + 22, y, 110, 28), Qt::AlignCenter, name);
    fillCell(p, QRect(x + 132, y, 60, 28), fores);
    p.setPen(QColor(60, 60, 60));
    p.drawText(QRect(x + 132, y, 60, 28), Qt::AlignCenter, total);

    int cx = x + 192;
    for (int i = 0; i < cells.size(); ++i) {
        QImage pic(88, 28, QImage::Format_ARGB32_Premultiplied);
        QPainter q(&pic);
        q.fillRect(pic.rect(), lighten(cells[i].base));
        if (i + 1 < cells.size())
            q.fillRect(87, 0, 1, 28, withAlpha(lighten(cells[i + 1].base), 127));
        q.drawImage(0, 0, fore);
        if (i == 0)
            q.drawImage(0, 0, shadow);
        q.end();
        p.drawImage(cx, y, pic);
        if (cells[i].selected) {
            const QPixmap deco = (cells[i].error ? se : select).pixmap(QSize(78, 28));
            p.drawPixmap(cx + 4, y + (28 - deco.height()) / 2, deco);
        } else {
            p.setPen(cells[i].text);
            p.drawText(QRect(cx, y, 88, 28), Qt::AlignCenter, cells[i].label);
        }
        cx += 88;
    }
}

void drawDetail(QPainter &p, int x, int y)
{
    const QImage forep = load(QStringLiteral("forep.png"));
    const QImage foreps = load(QStringLiteral("forep_s.png"));
    const QImage forest = load(QStringLiteral("forest.png"));
    p.setFont(windowFont(9));
    const int width = 320;
    int row = 0;
    int point = 0;
    auto rowPic = [&](const QColor &bg, const QImage &shade) {
        QImage pic(1, 22, QImage::Format_ARGB32_Premultiplied);
        QPainter q(&pic);
        q.fillRect(pic.rect(), lighten(bg));
        q.drawImage(0, 0, shade);
        return pic;
    };
    auto head = [&](int r, const QString &n) {
        p.fillRect(x, y + 22 * r, 22, 22, QColor(240, 240, 240));
        p.setPen(inkGrey);
        p.drawText(QRect(x, y + 22 * r, 19, 22), Qt::AlignRight | Qt::AlignVCenter, n);
    };
    auto wide = [&](const QColor &bg, const QColor &fg, const QString &text, bool heading) {
        head(row, QString());
        fillCell(p, QRect(x + 22, y + 22 * row, width - 22, 22), rowPic(bg, heading ? foreps : forep));
        p.setPen(fg);
        p.drawText(QRect(x + 26, y + 22 * row, width - 26, 22), Qt::AlignLeft | Qt::AlignVCenter, text);
        ++row;
    };
    auto subtask = [&](const QList<std::pair<QColor, QString>> &points, int score, int full) {
        const int start = row;
        for (const auto &[colour, note] : points) {
            head(row, QString::number(++point));
            fillCell(p, QRect(x + 66, y + 22 * row, width - 66, 22), rowPic(colour, forep));
            p.setPen(Qt::black);
            p.drawText(QRect(x + 70, y + 22 * row, width - 70, 22), Qt::AlignLeft | Qt::AlignVCenter, note);
            ++row;
        }
        const int h = 22 * (row - start);
        const double ratio = std::pow(double(score), 0.9) / std::pow(double(full), 0.9);
        QImage pic(44, h, QImage::Format_ARGB32_Premultiplied);
        QPainter q(&pic);
        q.fillRect(pic.rect(), lighten(blendColour(ratio)));
        for (int i = 0; i < points.size(); ++i)
            q.fillRect(43, 22 * i, 1, 22, withAlpha(points[i].first, 127));
        stretch(q, forest, 0, h);
        q.end();
        p.drawImage(x + 22, y + 22 * start, pic);
        p.setPen(Qt::white);
        p.drawText(QRect(x + 22, y + 22 * start, 44, h), Qt::AlignCenter, QString::number(score));
    };

    p.fillRect(x, y - 22, width, 22, QColor(240, 240, 240));
    p.setPen(inkGrey);
    p.drawText(QRect(x + 22, y - 22, 44, 22), Qt::AlignCenter, QStringLiteral("分数"));
    p.drawText(QRect(x + 66, y - 22, width - 66, 22), Qt::AlignCenter, QStringLiteral("详情"));
    wide(QColor(130, 130, 130), Qt::white, QStringLiteral("p01 - sum"), true);
    wide(QColor(180, 180, 180), QColor(76, 76, 76), QStringLiteral("编译成功"), false);
    subtask({{passGreen, QStringLiteral("正确 0.01s 1.2MB")},
             {QColor(248, 67, 52), QStringLiteral("运行时错误: SIGSEGV")},
             {passGreen, QStringLiteral("正确 0.02s")}},
            0, 30);
    subtask({{passGreen, QStringLiteral("正确 0.01s")}, {passGreen, QStringLiteral("正确 0.01s")}}, 40, 40);
    subtask({{QColor(136, 222, 95), QStringLiteral("部分正确 50%")}, {passGreen, QStringLiteral("正确")}}, 15, 30);
    subtask({{QColor(233, 211, 16), QStringLiteral("超过时间限制")}}, 0, 30);
    wide(QColor(232, 53, 223), Qt::black, QStringLiteral("校验器出错"), false);
    wide(QColor(225, 225, 225), QColor(51, 51, 51), QStringLiteral("- 测评结束 -"), false);
    wide(QColor(130, 130, 130), Qt::white, QStringLiteral("\"sum\"的配置结果"), true);
}

void drawHistoryItem(QPainter &p, int x, int y, const QImage &dir, const QStringList &names)
{
    QImage pic = dir;
    QPainter q(&pic);
    q.setRenderHint(QPainter::TextAntialiasing);
    QFont f(QStringLiteral("Times New Roman"));
    f.setPointSize(10);
    f.setItalic(true);
    q.setFont(f);
    for (int i = 0; i < std::min<int>(3, names.size()); ++i) {
        const int ny = 45 + 16 * i;
        q.setPen(QColor(247, 249, 249));
        q.setBrush(QColor(247, 249, 249));
        q.drawRect(QRect(QPoint(35, ny - 13), QPoint(95, ny)));
        q.setPen(Qt::black);
        q.drawText(QRect(QPoint(39, ny - 14), QPoint(95, ny)), Qt::AlignLeft | Qt::AlignVCenter, names[i]);
    }
    if (names.size() > 3) {
        q.drawImage(94, 23, load(QStringLiteral("his-scroll.png")));
        int h = int(3.0 / names.size() * 48);
        if (h <= 2)
            h = 3;
        q.setPen(QColor(191, 191, 191));
        q.setBrush(QColor(228, 229, 229));
        q.drawRect(QRect(QPoint(94, 26), QPoint(96, h + 27)));
    }
    q.end();
    p.drawImage(x, y, pic);
}

bool writeSheet(const QString &dir)
{
    QImage sheet(840, 620, QImage::Format_ARGB32_Premultiplied);
    sheet.fill(Qt::white);
    QPainter p(&sheet);
    p.setRenderHint(QPainter::TextAntialiasing);

    // The grid, one row per kind of cell.
    const QColor white(255, 255, 255), yellow(237, 215, 0), grey(215, 215, 215);
    const QColor t = Qt::white, k = Qt::black, red(255, 0, 0);
    const QList<QList<Cell>> rows = {
        {{white, t, QString()}, {yellow, t, QStringLiteral("~")}, {passGreen, t, QStringLiteral("100")},
         {blendColour(0.5), t, QStringLiteral("50")}, {grey, k, QStringLiteral("-")}},
        {{passGreen, t, QStringLiteral("100")}, {blendColour(0.1), t, QStringLiteral("10")},
         {accent, t, QStringLiteral("120")}, {grey, red, QStringLiteral("0")}, {white, t, QString()}},
        {{white, t, QString(), true}, {passGreen, errorMagenta, QStringLiteral("100"), true, true},
         {blendColour(0.7), t, QString(), true}, {yellow, t, QString(), true}, {grey, k, QStringLiteral("-")}},
        {{blendColour(0.3), errorMagenta, QString(), true, true}, {grey, red, QStringLiteral("!")},
         {grey, k, QStringLiteral("0")}, {blendColour(0.9), t, QStringLiteral("90")},
         {passGreen, t, QStringLiteral("100")}},
    };
    const QStringList names = {QStringLiteral("　标准程序　"), QStringLiteral("　p01 [张　三]　"),
                               QStringLiteral("　p02 [李小明]　"), QStringLiteral("　p03　")};
    for (int i = 0; i < rows.size(); ++i)
        drawGridRow(p, 10, 10 + 28 * i, names[i], QString::number(290 - 60 * i), rows[i]);

    drawDetail(p, 10, 160);

    const QList<QStringList> problems = {
        {},
        {QStringLiteral("sum")},
        {QStringLiteral("sum"), QStringLiteral("guess"), QStringLiteral("split")},
        {QStringLiteral("apple"), QStringLiteral("bridge"), QStringLiteral("candy"), QStringLiteral("dance")},
        {QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c"), QStringLiteral("d"), QStringLiteral("e"),
         QStringLiteral("f"), QStringLiteral("g"), QStringLiteral("h"), QStringLiteral("i"), QStringLiteral("j")},
        {QStringLiteral("verylongproblemname"), QStringLiteral("x"), QStringLiteral("y")},
        {QStringLiteral("mst"), QStringLiteral("lca"), QStringLiteral("dp"), QStringLiteral("fft"),
         QStringLiteral("kmp"), QStringLiteral("sa")},
    };
    for (int d = 0; d < 7; ++d)
        drawHistoryItem(p, 345 + (d % 3) * 130, 140 + (d / 3) * 110,
                        load(QStringLiteral("dir%1.png").arg(d + 1)), problems[d]);

    // Menu icons at the menu's size, on white and on a highlight.
    const char *menu[] = {"remove.png", "select-icon.png", "unselect-icon.png"};
    for (int i = 0; i < 3; ++i) {
        const QPixmap small = QIcon(QPixmap::fromImage(load(QString::fromLatin1(menu[i])))).pixmap(16, 16);
        p.drawPixmap(10 + 30 * i, 500, small);
        p.fillRect(10 + 30 * i - 4, 526, 24, 24, QColor(48, 140, 198));
        p.drawPixmap(10 + 30 * i, 530, small);
        p.drawPixmap(100 + 40 * i, 500, QIcon(QPixmap::fromImage(load(QString::fromLatin1(menu[i])))).pixmap(32, 32));
    }
    // The application icon as read back from the .ico, small to large.
    QImageReader ico(outDir + QStringLiteral("/T4.ico"));
    QList<QImage> icons;
    for (int i = 0; i < ico.imageCount() && ico.jumpToImage(i); ++i)
        icons.append(ico.read());
    std::sort(icons.begin(), icons.end(), [](const QImage &a, const QImage &b) { return a.width() < b.width(); });
    int ix = 240;
    for (const QImage &icon : icons) {
        if (icon.width() > 48)
            continue;
        p.drawImage(ix, 500, icon);
        ix += icon.width() + 10;
    }
    if (icons.size() != 4) {
        std::fprintf(stderr, "T4.ico reads back as %d images\n", int(icons.size()));
        failed = true;
    }
    p.drawImage(ix, 470, load(QStringLiteral("T4_2.png")));
    if (!icons.isEmpty())
        p.drawImage(ix + 290, 470, icons.last().scaled(128, 128, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    p.fillRect(ix + 140, 480, 140, 110, QColor(240, 240, 240));
    p.drawImage(ix + 150, 490, load(QStringLiteral("remove-icon.png")));
    p.end();

    // The whole sheet at 1x, and its parts enlarged to see single pixels.
    bool ok = sheet.save(dir + QStringLiteral("/sheet.png"));
    const struct {
        const char *name;
        QRect area;
        int zoom;
    } parts[] = {
        {"grid", QRect(0, 0, 650, 125), 3},      {"detail", QRect(0, 130, 335, 320), 3},
        {"history", QRect(340, 135, 400, 320), 3}, {"icons", QRect(0, 460, 840, 160), 2},
        {"subtask", QRect(28, 200, 80, 184), 5}, {"menu", QRect(0, 490, 200, 65), 8},
        {"appicon", QRect(235, 495, 150, 55), 8},
    };
    for (const auto &part : parts) {
        const QImage zoomed = sheet.copy(part.area).scaled(part.area.size() * part.zoom, Qt::IgnoreAspectRatio,
                                                           Qt::FastTransformation);
        ok = zoomed.save(dir + QStringLiteral("/sheet-%1-x%2.png").arg(QLatin1String(part.name)).arg(part.zoom)) && ok;
    }
    std::printf("contact sheet in %s\n", qPrintable(dir));
    return ok;
}

} // namespace

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
