#pragma once

#include <QProxyStyle>

// Tables draw no focus rectangle: the grid's cells are pictures, and a dotted
// frame over them reads as a fault.
class NoFrameFocusStyle : public QProxyStyle
{
public:
    void drawPrimitive(PrimitiveElement element, const QStyleOption *option, QPainter *painter,
                       const QWidget *widget = nullptr) const override;
};
