#include "paintthrottle.h"

PaintThrottle::PaintThrottle(const QList<QWidget *> &widgets, int intervalMs, QObject *parent)
    : QObject(parent)
{
    for (QWidget *widget : widgets)
        m_widgets.append(widget);
    m_timer.setInterval(intervalMs);
    connect(&m_timer, &QTimer::timeout, this, &PaintThrottle::paintNow);
}

void PaintThrottle::start()
{
    for (QWidget *widget : std::as_const(m_widgets))
        if (widget)
            widget->setUpdatesEnabled(false);
    m_timer.start();
}

void PaintThrottle::stop()
{
    m_timer.stop();
    for (QWidget *widget : std::as_const(m_widgets))
        if (widget)
            widget->setUpdatesEnabled(true);
}

void PaintThrottle::paintNow()
{
    for (QWidget *widget : std::as_const(m_widgets)) {
        if (!widget || !widget->isVisible())
            continue;
        widget->setUpdatesEnabled(true);
        widget->repaint();
        widget->setUpdatesEnabled(false);
    }
}
