// The contact sheet: the pictures drawn into outDir, composed the way the
// window shows them (grid rows, the detail log, the history list), also
// zoomed, for looking at.

#include "drawing.h"
#include "uifont.h"

#include <QDir>
#include <QFont>
#include <QIcon>
#include <QImage>
#include <QImageReader>
#include <QLinearGradient>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <cstdio>

using namespace draw;

namespace {

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

} // namespace

bool draw::writeSheet(const QString &dir)
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
