#ifndef FDVIEW_H
#define FDVIEW_H

#include <lua.hpp>

#include <QTextBlockFormat>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextEdit>

class QPropertyAnimation;
class Screenplay;

// A screenplay viewer: paragraphs are appended one by one, each laid out by its kind ("Scene",
// "Action", "Character", "Dialogue", "Title", "Page") and carrying an integer tag (its block's
// user state) by which groups of paragraphs are coloured, hidden and shown again. The view
// scrolls smoothly under program control and reports its position as a fraction.
class FDView : public QTextEdit
{
    Q_OBJECT

public:
    // The largest font scale: a title at 22 points times this stays a drawable glyph size.
    static constexpr double maxFontScale = 50;
    static constexpr double marginScale = 0.5;

    explicit FDView(QWidget *parent = nullptr);
    ~FDView() override;

    // Empties the document and makes its start the insertion point; formats and scale stay.
    void clearScript();
    // Does nothing before the first clearScript: until then there is no insertion point.
    void addParagraph(const QString &text, const QString &kind, int tag);
    void insertPageBreak();
    // Replaces the script with the one read; each character's cues and dialogue carry the
    // character's tag, its place in the screenplay's list of characters counted from 1.
    void showScreenplay(const Screenplay &screenplay);
    void setTagColor(int tag, const QColor &color);
    void setTagVisible(int tag, bool visible);
    void setFontScale(double scale) { m_fontScale = scale; }
    // A view that is not edited scrolls under a finger, and flicks; an edited one lets the
    // finger select and place the cursor.
    void setEditing(bool editing);
    double fontScale() const { return m_fontScale; }

    // Lays out the paragraphs added since the event loop last ran.
    void endAdding();
    double scrollFraction();
    void jumpTo(double fraction);
    void scrollTo(double fraction);
    // Returns the target of the scroll as a fraction.
    double scrollStep(double steps);

protected:
    void mouseMoveEvent(QMouseEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void applyKind(const QString &kind);
    void beginAdding();
    void applyPendingPosition();
    void animate(int start, int end);

    QTextCursor m_cursor;
    QTextBlockFormat m_blockFormat;
    QTextCharFormat m_charFormat;
    double m_baseSize = 0;
    double m_fontScale = 1.0;
    QPropertyAnimation *m_animation;
    bool m_adding = false;
    bool m_positionPending = false;
    double m_pendingFraction = 0;
};

int luaopen_fdview_core(lua_State *L);

#endif
