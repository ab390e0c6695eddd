#pragma once

#include <QFont>
#include <QStringList>

// The window's font: the family the system was designed with where it is
// installed, else a CJK family Linux desktops have.
inline QFont windowFont()
{
    QFont font;
    font.setFamilies({QStringLiteral("微软雅黑"), QStringLiteral("Microsoft YaHei"),
                      QStringLiteral("Noto Sans CJK SC"), QStringLiteral("WenQuanYi Micro Hei")});
    return font;
}
