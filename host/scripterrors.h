#ifndef SCRIPTERRORS_H
#define SCRIPTERRORS_H

#include <QStringList>
#include <QWidget>

class QLabel;
class QPlainTextEdit;
class QToolButton;

// The script errors the operator has not yet dismissed, shown in the status bar: the latest
// one by the callback it failed in, and how many came. A tap on it opens the list of them all,
// tracebacks included; the cross dismisses them.
class ScriptErrors : public QWidget
{
    Q_OBJECT

public:
    explicit ScriptErrors(QWidget *parent = nullptr);

    void add(const QString &callback, const QString &message);
    void dismiss();
    QString text() const;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void showList();

    QLabel *m_label;
    QToolButton *m_close;
    QPlainTextEdit *m_list = nullptr;
    QStringList m_errors;
    int m_count = 0;
};

#endif
