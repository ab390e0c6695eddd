#include "noframefocusstyle.h"

#include <QTableWidget>

void NoFrameFocusStyle::drawPrimitive(PrimitiveElement element, const QStyleOption *option,
                                      QPainter *painter, const QWidget *widget) const
{
    if (element == PE_FrameFocusRect && widget && widget->inherits("QTableWidget"))
        return;
    QProxyStyle::drawPrimitive(element, option, painter, widget);
}
