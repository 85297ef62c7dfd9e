#include "fontkeeper.h"

#include <QCoreApplication>
#include <QEvent>
#include <QWidget>

FontKeeper *FontKeeper::instance()
{
    static FontKeeper *keeper = new FontKeeper(QCoreApplication::instance());
    return keeper;
}

void FontKeeper::setFont(QWidget *widget, const QFont &font)
{
    FontKeeper *keeper = instance();
    if (!keeper->m_fonts.contains(widget)) {
        widget->installEventFilter(keeper);
        connect(widget, &QObject::destroyed, keeper, &FontKeeper::forget);
    }
    keeper->m_fonts.insert(widget, font);
    widget->setFont(font);
}

void FontKeeper::forget(QObject *object)
{
    m_fonts.remove(object);
}

bool FontKeeper::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::FontChange || m_restoring)
        return false;
    const auto it = m_fonts.constFind(watched);
    auto *widget = qobject_cast<QWidget *>(watched);
    if (it == m_fonts.constEnd() || !widget)
        return false;
    // What Lua left unset follows the widget's surroundings, as it did when Lua set the font.
    if (it.value().resolve(widget->font()) == widget->font())
        return false;
    m_restoring = true;
    widget->setFont(it.value());
    m_restoring = false;
    return false;
}
