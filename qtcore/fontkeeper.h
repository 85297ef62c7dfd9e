#ifndef FONTKEEPER_H
#define FONTKEEPER_H

#include <QFont>
#include <QHash>
#include <QObject>

class QWidget;

// Keeps the font that Lua gave a widget. The application's style sheet gives a widget the font
// of its new parent when the widget (or one of its ancestors) is reparented, as when a page
// goes into a tab widget; the keeper then sets the widget's own font again.
class FontKeeper : public QObject
{
    Q_OBJECT

public:
    static void setFont(QWidget *widget, const QFont &font);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    explicit FontKeeper(QObject *parent) : QObject(parent) {}
    static FontKeeper *instance();
    void forget(QObject *object);

    QHash<QObject *, QFont> m_fonts;
    bool m_restoring = false;
};

#endif
