#include "screenplay.h"

#include <QRegularExpression>
#include <QTextCodec>
#include <QXmlStreamReader>

namespace
{
bool isfdx(const QByteArray &content)
{
    const QByteArray head = content.left(512).trimmed();
    return head.startsWith("<?xml") || head.startsWith("<FinalDraft");
}

// Boneyard (/* */) and notes ([[ ]]) are the writer's, not the script's; both may span lines.
QString withoutComments(QString text)
{
    static const QRegularExpression boneyard("/\\*.*?\\*/",
                                             QRegularExpression::DotMatchesEverythingOption);
    static const QRegularExpression notes("\\[\\[.*?\\]\\]",
                                          QRegularExpression::DotMatchesEverythingOption);
    return text.remove(boneyard).remove(notes);
}

bool isSceneHeading(const QString &line)
{
    static const QRegularExpression heading("^(INT|EXT|EST|INT\\.?/EXT|I/E)[. ]",
                                            QRegularExpression::CaseInsensitiveOption);
    return heading.match(line).hasMatch();
}

QString withoutSceneNumber(QString line)
{
    static const QRegularExpression number("\\s*#[^#\\s]+#\\s*$");
    return line.remove(number).trimmed();
}

// A cue is capitals (its extension aside) with at least one letter, or forced with "@".
bool isCue(const QString &line)
{
    if (line.startsWith('@'))
        return true;
    const QString name = Screenplay::characterName(line);
    return !name.isEmpty() && name == name.toUpper() &&
           name.contains(QRegularExpression("\\p{L}")) && !isSceneHeading(line);
}

bool isTransition(const QString &line)
{
    return line == line.toUpper() && line.endsWith("TO:");
}

const char *fdxKind(const QString &type)
{
    if (type == "Scene Heading")
        return "Scene";
    if (type == "Character")
        return "Character";
    if (type == "Dialogue" || type == "Parenthetical")
        return "Dialogue";
    return "Action";
}

// The text of a paragraph: all its Text elements, which may nest in others.
QString paragraphText(QXmlStreamReader &xml)
{
    QString text;
    for (int depth = 1; depth > 0 && !xml.atEnd();) {
        const QXmlStreamReader::TokenType token = xml.readNext();
        if (token == QXmlStreamReader::StartElement && xml.name() == QLatin1String("Text")) {
            text += xml.readElementText(QXmlStreamReader::IncludeChildElements);
            continue;
        }
        if (token == QXmlStreamReader::StartElement)
            ++depth;
        else if (token == QXmlStreamReader::EndElement)
            --depth;
    }
    return text;
}
} // namespace

QString Screenplay::characterName(const QString &cue)
{
    QString name = cue.trimmed();
    if (name.startsWith('@'))
        name.remove(0, 1);
    if (name.endsWith('^'))
        name.chop(1);
    static const QRegularExpression extensions("\\s*\\([^)]*\\)");
    return name.remove(extensions).trimmed();
}

bool Screenplay::read(const QByteArray &content, QString *error)
{
    m_paragraphs.clear();
    m_characters.clear();
    if (isfdx(content))
        return readFdx(content, error);
    if (content.contains('\0')) {
        *error = "not a screenplay: the file holds binary data";
        return false;
    }
    QTextCodec::ConverterState state;
    const QString text =
        QTextCodec::codecForName("UTF-8")->toUnicode(content.constData(), content.size(), &state);
    if (state.invalidChars > 0) {
        *error = "not a screenplay: the file is not UTF-8 text";
        return false;
    }
    readFountain(text);
    return true;
}

void Screenplay::add(const QString &text, const QString &kind, const QString &character)
{
    if (!character.isEmpty() && !m_characters.contains(character))
        m_characters << character;
    m_paragraphs.append({text, kind, character});
}

bool Screenplay::readFdx(const QByteArray &content, QString *error)
{
    QXmlStreamReader xml(content);
    bool titlePage = false;
    bool document = false;
    QString speaker;
    while (!xml.atEnd()) {
        const QXmlStreamReader::TokenType token = xml.readNext();
        if (token == QXmlStreamReader::EndElement && xml.name() == QLatin1String("TitlePage"))
            titlePage = false;
        if (token != QXmlStreamReader::StartElement)
            continue;
        if (xml.name() == QLatin1String("FinalDraft"))
            document = true;
        if (xml.name() == QLatin1String("TitlePage"))
            titlePage = true;
        if (xml.name() != QLatin1String("Paragraph"))
            continue;
        const QString type = xml.attributes().value("Type").toString();
        const bool newPage = xml.attributes().value("StartsNewPage") == QLatin1String("Yes");
        const QString text = paragraphText(xml).trimmed();
        if (newPage && !m_paragraphs.isEmpty())
            add(QString(), QString());
        if (titlePage) {
            if (!text.isEmpty())
                add(text, "Title");
            continue;
        }
        const QString kind = QString::fromLatin1(fdxKind(type));
        if (kind == "Character")
            speaker = characterName(text);
        else if (kind != "Dialogue")
            speaker.clear();
        add(text, kind, kind == "Character" || kind == "Dialogue" ? speaker : QString());
    }
    if (xml.hasError()) {
        *error =
            QString("not a screenplay: line %1: %2").arg(xml.lineNumber()).arg(xml.errorString());
        return false;
    }
    if (!document) {
        *error = "not a screenplay: no FinalDraft document in the XML";
        return false;
    }
    return true;
}

// A title page is "Key: value" lines at the very start, up to the first blank line; a value may
// go on in indented lines below its key.
void Screenplay::readTitlePage(QStringList *lines)
{
    static const QRegularExpression key("^([A-Za-z][A-Za-z ]*):\\s*(.*)$");
    if (lines->isEmpty() || !key.match(lines->first()).hasMatch())
        return;
    QString name;
    QStringList values;
    const auto flush = [&] {
        const QString value = values.join('\n').trimmed();
        const bool big =
            QStringList{"title", "credit", "author", "authors", "source"}.contains(name.toLower());
        if (!value.isEmpty())
            add(value, big ? "Title" : "Action");
        values.clear();
    };
    while (!lines->isEmpty() && !lines->first().trimmed().isEmpty()) {
        const QString line = lines->takeFirst();
        const QRegularExpressionMatch match = key.match(line);
        if (match.hasMatch() && !line.startsWith(' ') && !line.startsWith('\t')) {
            flush();
            name = match.captured(1);
            values << match.captured(2);
        } else {
            values << line.trimmed();
        }
    }
    flush();
    add(QString(), QString());
}

void Screenplay::readFountain(const QString &text)
{
    QStringList lines = withoutComments(text).split(QRegularExpression("\r\n|\r|\n"));
    readTitlePage(&lines);
    bool afterBlank = true;
    for (int i = 0; i < lines.size(); ++i) {
        const QString line = lines.at(i).trimmed();
        const bool beforeBlank = i + 1 >= lines.size() || lines.at(i + 1).trimmed().isEmpty();
        const bool startsBlock = afterBlank;
        afterBlank = line.isEmpty();
        if (line.isEmpty() || line.startsWith('#') ||
            (line.startsWith('=') && !line.startsWith("===")))
            continue;
        if (line.startsWith("===")) {
            add(QString(), QString());
        } else if (line.startsWith('.') && !line.startsWith("..")) {
            add(withoutSceneNumber(line.mid(1)), "Scene");
        } else if (startsBlock && isSceneHeading(line)) {
            add(withoutSceneNumber(line), "Scene");
        } else if (line.startsWith('>') && line.endsWith('<')) {
            add(line.mid(1, line.size() - 2).trimmed(), "Action");
        } else if (line.startsWith('>') || (startsBlock && beforeBlank && isTransition(line))) {
            add(line.startsWith('>') ? line.mid(1).trimmed() : line, "Action");
        } else if (line.startsWith('!')) {
            add(line.mid(1), "Action");
        } else if (startsBlock && !beforeBlank && isCue(line)) {
            const QString name = characterName(line);
            QString cue = line.startsWith('@') ? line.mid(1) : line;
            if (cue.endsWith('^'))
                cue.chop(1);
            add(cue.trimmed(), "Character", name);
            for (; i + 1 < lines.size() && !lines.at(i + 1).trimmed().isEmpty(); ++i) {
                QString spoken = lines.at(i + 1).trimmed();
                if (spoken.startsWith('~'))
                    spoken.remove(0, 1);
                add(spoken, "Dialogue", name);
            }
        } else {
            add(line.startsWith('~') ? line.mid(1) : line, "Action");
        }
    }
}
