#pragma once

// What the pictures and the contact sheet share: the palette, where the
// pictures go, and whether anything failed.

#include <QColor>
#include <QImage>
#include <QString>

namespace draw {

inline const QColor accent(72, 153, 217);
inline const QColor inkGrey(51, 51, 51);
inline const QColor passGreen(0, 192, 48);
inline const QColor errorMagenta(188, 0, 188);
inline const QColor removeRed(222, 82, 82);

inline QString outDir;
inline bool failed = false;

inline QColor withAlpha(QColor c, int alpha)
{
    c.setAlpha(alpha);
    return c;
}

// Writes a picture into outDir as PNG; a failure is said and remembered.
void save(const QImage &img, const QString &name);

// Composes the pictures in outDir the way the window does, into dir.
bool writeSheet(const QString &dir);

} // namespace draw
