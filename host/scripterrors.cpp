#include "scripterrors.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QToolButton>

// The list keeps the latest errors only: a handler failing on every frame must not grow it
// without end.
static const int keptErrors = 100;

ScriptErrors::ScriptErrors(QWidget *parent)
    : QWidget(parent), m_label(new QLabel(this)), m_close(new QToolButton(this))
{
    setObjectName("scriptErrors");
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    m_label->setStyleSheet("color: white; background: #b00020; padding: 2px 6px;");
    m_label->installEventFilter(this);
    m_close->setText(QString::fromUtf8("\u2715"));
    m_close->setToolTip("Dismiss");
    m_close->setMinimumSize(32, 24);
    layout->addWidget(m_label, 1);
    layout->addWidget(m_close);
    connect(m_close, &QToolButton::clicked, this, &ScriptErrors::dismiss);
    hide();
}

// The status bar shows the first line; the list keeps the whole text.
void ScriptErrors::add(const QString &callback, const QString &message)
{
    const QString entry = QString("Script error in %1: %2").arg(callback, message);
    m_errors << entry;
    if (m_errors.size() > keptErrors)
        m_errors.removeFirst();
    ++m_count;
    m_label->setText(text());
    if (m_list)
        m_list->setPlainText(m_errors.join("\n\n"));
    show();
}

QString ScriptErrors::text() const
{
    if (m_errors.isEmpty())
        return QString();
    const QString latest = m_errors.last().section('\n', 0, 0);
    return m_count > 1 ? QString("%1  (%2 errors)").arg(latest).arg(m_count) : latest;
}

void ScriptErrors::dismiss()
{
    m_errors.clear();
    m_count = 0;
    m_label->clear();
    if (m_list)
        m_list->close();
    hide();
}

bool ScriptErrors::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_label && event->type() == QEvent::MouseButtonRelease)
        showList();
    return QWidget::eventFilter(watched, event);
}

void ScriptErrors::showList()
{
    if (!m_list) {
        m_list = new QPlainTextEdit(window());
        m_list->setWindowFlags(Qt::Window);
        m_list->setAttribute(Qt::WA_DeleteOnClose);
        m_list->setReadOnly(true);
        m_list->setWindowTitle("Script errors");
        m_list->resize(640, 360);
        connect(m_list, &QObject::destroyed, this, [this] { m_list = nullptr; });
    }
    m_list->setPlainText(m_errors.join("\n\n"));
    m_list->show();
    m_list->raise();
}
