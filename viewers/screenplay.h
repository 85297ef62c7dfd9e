#ifndef SCREENPLAY_H
#define SCREENPLAY_H

#include <QString>
#include <QStringList>
#include <QVector>

// A screenplay read from a file in one of the two open formats people write them in: Fountain
// (plain text) or Final Draft's XML (.fdx). Told apart by content. Each paragraph has one of the
// screenplay view's kinds, or is a page break; cues and their dialogue name their character.
class Screenplay
{
public:
    struct Paragraph {
        QString text;
        // "Title", "Scene", "Action", "Character", "Dialogue", or empty for a page break.
        QString kind;
        // The speaking character, for a cue and its dialogue; empty for the rest.
        QString character;
    };

    // False, with the reason in error, for a file that is neither.
    bool read(const QByteArray &content, QString *error);
    const QVector<Paragraph> &paragraphs() const { return m_paragraphs; }
    // In the order of their first cue.
    const QStringList &characters() const { return m_characters; }

    // A cue's name without its extensions ("(V.O.)", "(CONT'D)"), the dual-dialogue mark and
    // the forcing "@".
    static QString characterName(const QString &cue);

private:
    bool readFdx(const QByteArray &content, QString *error);
    void readFountain(const QString &text);
    void readTitlePage(QStringList *lines);
    void add(const QString &text, const QString &kind, const QString &character = QString());

    QVector<Paragraph> m_paragraphs;
    QStringList m_characters;
};

#endif
