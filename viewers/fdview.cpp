#include "fdview.h"

#include "luax/luax.h"
#include "luax/objecttracker.h"
#include "qtcore/widget.h"
#include "screenplay.h"
#include "viewermodule.h"

#include <QDebug>
#include <QFile>
#include <QMouseEvent>
#include <QPropertyAnimation>
#include <QRegularExpression>
#include <QScrollBar>
#include <QScroller>
#include <QTextBlock>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <limits>

namespace
{
// How a paragraph looks while it is shown, kept beside its text: hiding overwrites the formats
// of the text itself, and showing must bring back the paragraph's own look, tag colour included.
struct Paragraph : QTextBlockUserData {
    Paragraph(const QTextCharFormat &format, double baseSize) : format(format), baseSize(baseSize)
    {
    }

    QTextCharFormat format;
    double baseSize; // points at font scale 1; 0 for a paragraph made without a kind
    bool visible = true;
};

struct Kind {
    const char *name;
    Qt::Alignment alignment;
    double leftMargin; // pixels before the margin scale
    double rightMargin;
    double pointSize; // before the font scale
    bool bold;
    QRgb background; // 0 for none
    QRgb foreground;
};

const Kind plainKind = {"", Qt::AlignLeft, 0, 0, 10, false, 0, 0};

const Kind kinds[] = {
    {"Title", Qt::AlignCenter, 0, 0, 22, true, 0, 0},
    {"Dialogue", Qt::AlignLeft, 140, 140, 10, false, 0, 0},
    {"Character", Qt::AlignLeft, 220, 100, 10, false, qRgb(255, 0, 0), 0},
    {"Action", Qt::AlignLeft, 40, 40, 10, false, 0, qRgb(0x55, 0x55, 0x55)},
    {"Scene", Qt::AlignLeft, 0, 0, 10, true, 0, 0},
    {"Page", Qt::AlignRight, 0, 80, 8, false, 0, 0},
};
} // namespace

static const Kind &findkind(const QString &name)
{
    for (const Kind &kind : kinds)
        if (name == QLatin1String(kind.name))
            return kind;
    return plainKind;
}

// Paragraphs that add did not make (the document's first one, or one typed by the user) take
// the format they were created with.
static Paragraph *paragraph(QTextBlock block)
{
    auto *data = static_cast<Paragraph *>(block.userData());
    if (!data) {
        data = new Paragraph(block.charFormat(), 0);
        block.setUserData(data);
    }
    return data;
}

// A hidden paragraph leaves no trace: no tag colour, no red name, and no line of its own.
static void showparagraph(QTextBlock block, const Paragraph &data)
{
    QTextCharFormat format = data.format;
    if (!data.visible) {
        format.setForeground(QBrush(Qt::white));
        format.setFontPointSize(1);
        format.clearBackground();
    }
    block.setVisible(data.visible);
    QTextCursor cursor(block);
    cursor.select(QTextCursor::BlockUnderCursor);
    cursor.setCharFormat(format);
}

FDView::FDView(QWidget *parent)
    : QTextEdit(parent), m_animation(new QPropertyAnimation(verticalScrollBar(), "value", this))
{
    m_animation->setObjectName("scrollAnimation");
    m_animation->setEasingCurve(QEasingCurve::InOutCubic);
    connect(verticalScrollBar(), &QScrollBar::rangeChanged, this, &FDView::applyPendingPosition);
    connect(verticalScrollBar(), &QScrollBar::actionTriggered, this,
            [this] { m_positionPending = false; });
}

// The scroller's gesture recognizer is the toolkit's to free only when the gesture is let go.
FDView::~FDView()
{
    ObjectTracker::release(this);
    QScroller::ungrabGesture(viewport());
}

void FDView::setEditing(bool editing)
{
    setReadOnly(!editing);
    if (editing)
        QScroller::ungrabGesture(viewport());
    else
        QScroller::grabGesture(viewport(), QScroller::TouchGesture);
}

// A script loaded before the view is shown opens at its top (the text edit would show its
// cursor, which followed the insertions to the end).
void FDView::clearScript()
{
    endAdding();
    clear();
    m_cursor = QTextCursor(document());
    m_positionPending = !isVisible();
    m_pendingFraction = 0;
}

void FDView::applyKind(const QString &name)
{
    const Kind &kind = findkind(name);
    QTextBlockFormat block;
    block.setAlignment(kind.alignment);
    block.setLeftMargin(marginScale * kind.leftMargin);
    block.setRightMargin(marginScale * kind.rightMargin);
    QTextCharFormat chars;
    chars.setFontFamily("Courier New");
    chars.setFontPointSize(m_fontScale * kind.pointSize);
    if (kind.bold)
        chars.setFontWeight(QFont::Bold);
    if (kind.background)
        chars.setBackground(QBrush(QColor(kind.background)));
    if (kind.foreground)
        chars.setForeground(QBrush(QColor(kind.foreground)));
    m_blockFormat = block;
    m_charFormat = chars;
    m_baseSize = kind.pointSize;
}

// Paragraphs added in a row (a script loaded from one callback) are one edit, laid out once when
// the event loop runs again or when the application asks where the view stands.
void FDView::beginAdding()
{
    if (m_adding)
        return;
    m_adding = true;
    m_cursor.beginEditBlock();
    QTimer::singleShot(0, this, &FDView::endAdding);
}

void FDView::endAdding()
{
    if (!m_adding)
        return;
    m_adding = false;
    m_cursor.endEditBlock();
}

// Every line of the text is a paragraph of its own with the same kind and tag.
void FDView::addParagraph(const QString &text, const QString &kind, int tag)
{
    if (m_cursor.isNull())
        return;
    beginAdding();
    if (!kind.isEmpty())
        applyKind(kind);
    const QStringList lines =
        text.split(QRegularExpression(QStringLiteral("\\r\\n|[\\n\\r\\x{2029}]")));
    for (const QString &line : lines) {
        m_cursor.insertBlock(m_blockFormat, m_charFormat);
        QTextBlock block = m_cursor.block();
        block.setUserState(tag);
        block.setUserData(new Paragraph(m_charFormat, m_baseSize));
        if (!line.isEmpty())
            m_cursor.insertText(line, m_charFormat);
    }
}

void FDView::insertPageBreak()
{
    if (!m_cursor.isNull())
        m_cursor.insertHtml("<hr>");
}

static int tagof(const Screenplay &screenplay, const Screenplay::Paragraph &paragraph)
{
    if (paragraph.character.isEmpty())
        return -1;
    return screenplay.characters().indexOf(paragraph.character) + 1;
}

// A page break shows as the next page's number, on the right as in a printed script.
void FDView::showScreenplay(const Screenplay &screenplay)
{
    clearScript();
    int page = 1;
    for (const Screenplay::Paragraph &paragraph : screenplay.paragraphs()) {
        if (paragraph.kind.isEmpty())
            addParagraph(QString("%1.").arg(++page), "Page", -1);
        else
            addParagraph(paragraph.text, paragraph.kind, tagof(screenplay, paragraph));
    }
}

// All paragraphs of a tag change in one edit, laid out once: one edit each would lay out a
// long script thousands of times.
template <class Change> static void changetag(QTextDocument *document, int tag, Change change)
{
    QTextCursor edit(document);
    edit.beginEditBlock();
    for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
        if (block.userState() != tag)
            continue;
        Paragraph *data = paragraph(block);
        change(*data);
        showparagraph(block, *data);
    }
    edit.endEditBlock();
}

void FDView::setTagColor(int tag, const QColor &color)
{
    endAdding();
    changetag(document(), tag, [&](Paragraph &data) { data.format.setBackground(QBrush(color)); });
}

// A paragraph shown again takes the font scale in force now.
void FDView::setTagVisible(int tag, bool visible)
{
    endAdding();
    changetag(document(), tag, [&](Paragraph &data) {
        data.visible = visible;
        if (visible && data.baseSize > 0)
            data.format.setFontPointSize(data.baseSize * m_fontScale);
    });
}

double FDView::scrollFraction()
{
    endAdding();
    const QScrollBar *bar = verticalScrollBar();
    return bar->maximum() ? double(bar->value()) / bar->maximum() : 0;
}

// A position asked for before the view is shown holds once it is laid out, until the reader or
// the application scrolls.
void FDView::jumpTo(double fraction)
{
    endAdding();
    QScrollBar *bar = verticalScrollBar();
    qDebug() << "setPosition" << fraction << bar->maximum() << bar->pageStep();
    bar->setValue(luaX_truncate(fraction * bar->maximum()));
    m_positionPending = !isVisible();
    m_pendingFraction = fraction;
}

void FDView::applyPendingPosition()
{
    if (!m_positionPending)
        return;
    QScrollBar *bar = verticalScrollBar();
    bar->setValue(luaX_truncate(m_pendingFraction * bar->maximum()));
}

void FDView::showEvent(QShowEvent *event)
{
    QTextEdit::showEvent(event);
    applyPendingPosition();
}

void FDView::animate(int start, int end)
{
    m_animation->setDuration(1000);
    m_animation->setStartValue(start);
    m_animation->setEndValue(end);
    m_animation->start();
}

// A scroll that interrupts another first jumps to where the other was going.
void FDView::scrollTo(double fraction)
{
    endAdding();
    QScrollBar *bar = verticalScrollBar();
    const int maximum = bar->maximum();
    const int target = maximum ? luaX_truncate(fraction * maximum) : 0;
    qDebug() << "scrollTo" << fraction << maximum << bar->pageStep() << bar->value() << target;
    m_positionPending = false;
    int start = bar->value();
    if (m_animation->state() == QAbstractAnimation::Running) {
        start = m_animation->endValue().toInt();
        m_animation->stop();
    }
    animate(start, qBound(0, target, maximum));
}

// A step that interrupts another goes on smoothly from where the view is, and counts from where
// the other was going. Any step moves by one unit at least, a zero step forwards.
double FDView::scrollStep(double steps)
{
    endAdding();
    QScrollBar *bar = verticalScrollBar();
    const int maximum = bar->maximum();
    const int delta = luaX_truncate(std::max(1.0, bar->pageStep() * std::fabs(steps)));
    int base = bar->value();
    qDebug() << "scrollStep" << steps << maximum << bar->pageStep() << base << delta;
    m_positionPending = false;
    int start = base;
    if (m_animation->state() == QAbstractAnimation::Running) {
        base = m_animation->endValue().toInt();
        m_animation->stop();
        start = bar->value();
    }
    const qint64 target =
        qBound<qint64>(0, steps < 0 ? qint64(base) - delta : qint64(base) + delta, maximum);
    animate(start, static_cast<int>(target));
    return maximum ? double(target) / maximum : 0;
}

// A read-only view is scrolled by touch: dragging over it must not select text.
void FDView::mouseMoveEvent(QMouseEvent *event)
{
    if (isReadOnly()) {
        event->ignore();
        return;
    }
    QTextEdit::mouseMoveEvent(event);
}

static FDView *checkfdview(lua_State *L, int index)
{
    return static_cast<FDView *>(static_cast<QObject *>(luaX_checkclass(L, index, "FDView")));
}

struct Text {
    const char *data;
    int size;
};

// Lua errors unwind without destructors: texts are read first and become QStrings after every
// argument has been checked.
static Text opttext(lua_State *L, int index)
{
    size_t length;
    const char *data = luaL_optlstring(L, index, "", &length);
    if (length > static_cast<size_t>(std::numeric_limits<int>::max()))
        luaL_argerror(L, index, "text too long");
    return {data, static_cast<int>(length)};
}

// Tags, colours and flags are read without checks: anything that is not an integer is 0. A tag
// no paragraph can carry (add refuses it) matches nothing.
static bool totag(lua_State *L, int index, int *tag)
{
    const lua_Integer value = lua_tointeger(L, index);
    *tag = static_cast<int>(value);
    return value >= std::numeric_limits<int>::min() && value <= std::numeric_limits<int>::max();
}

// A boolean counts by its truth, so that true shows and edits rather than reading as 0.
static bool toflag(lua_State *L, int index)
{
    if (lua_isboolean(L, index))
        return lua_toboolean(L, index);
    return lua_tointeger(L, index) != 0;
}

static int lfdview_create(lua_State *L)
{
    auto *view = new FDView(testwidget(L, 1));
    luaX_pushobject(L, static_cast<QObject *>(view), "FDView", LUAX_BORROWED);
    view->setVisible(true);
    return 1;
}

static int lfdview_clear(lua_State *L)
{
    checkfdview(L, 1)->clearScript();
    return 0;
}

static int lfdview_add(lua_State *L)
{
    FDView *view = checkfdview(L, 1);
    const Text text = opttext(L, 2);
    const Text kind = opttext(L, 3);
    const int tag = lua_isnoneornil(L, 4) ? -1
                                          : luaX_checkinteger(L, 4, std::numeric_limits<int>::min(),
                                                              std::numeric_limits<int>::max());
    view->addParagraph(QString::fromUtf8(text.data, text.size),
                       QString::fromUtf8(kind.data, kind.size), tag);
    return 0;
}

// Reads and shows the file, and pushes the table from character to tag; or pushes the reason
// it could not and leaves the view as it was. Nothing here raises a Lua error: the caller does,
// once every C++ object is gone.
static bool loadscript(lua_State *L, FDView *view, const char *path)
{
    QFile file(QString::fromUtf8(path));
    if (!file.open(QIODevice::ReadOnly)) {
        lua_pushfstring(L, "%s: %s", path, file.errorString().toUtf8().constData());
        return false;
    }
    Screenplay screenplay;
    QString error;
    if (!screenplay.read(file.readAll(), &error)) {
        lua_pushfstring(L, "%s: %s", path, error.toUtf8().constData());
        return false;
    }
    view->showScreenplay(screenplay);
    lua_createtable(L, 0, screenplay.characters().size());
    for (int i = 0; i < screenplay.characters().size(); ++i) {
        luaX_pushtext(L, screenplay.characters().at(i).toUtf8());
        lua_pushinteger(L, i + 1);
        lua_rawset(L, -3);
    }
    return true;
}

static int lfdview_load(lua_State *L)
{
    FDView *view = checkfdview(L, 1);
    const char *path = luaX_checkname(L, 2);
    if (!loadscript(L, view, path))
        return lua_error(L);
    return 1;
}

static int lfdview_pagebreak(lua_State *L)
{
    checkfdview(L, 1)->insertPageBreak();
    return 0;
}

static int lfdview_setColor(lua_State *L)
{
    FDView *view = checkfdview(L, 1);
    int tag;
    const auto rgb = static_cast<QRgb>(lua_tointeger(L, 3) & 0xFFFFFF);
    if (totag(L, 2, &tag))
        view->setTagColor(tag, QColor(rgb));
    return 0;
}

static int lfdview_setVisibleForTag(lua_State *L)
{
    FDView *view = checkfdview(L, 1);
    int tag;
    if (totag(L, 2, &tag))
        view->setTagVisible(tag, toflag(L, 3));
    return 0;
}

static int lfdview_position(lua_State *L)
{
    lua_pushnumber(L, checkfdview(L, 1)->scrollFraction());
    return 1;
}

static int lfdview_setPosition(lua_State *L)
{
    checkfdview(L, 1)->jumpTo(lua_tonumber(L, 2));
    return 0;
}

static int lfdview_scrollTo(lua_State *L)
{
    checkfdview(L, 1)->scrollTo(lua_tonumber(L, 2));
    return 0;
}

static int lfdview_scrollStep(lua_State *L)
{
    lua_pushnumber(L, checkfdview(L, 1)->scrollStep(lua_tonumber(L, 2)));
    return 1;
}

static int lfdview_setEdit(lua_State *L)
{
    FDView *view = checkfdview(L, 1);
    view->setEditing(toflag(L, 2));
    return 0;
}

static int lfdview_setFontScale(lua_State *L)
{
    FDView *view = checkfdview(L, 1);
    const lua_Number scale = luaL_checknumber(L, 2);
    if (!(scale > 0 && scale <= FDView::maxFontScale))
        luaL_argerror(L, 2, "out of range");
    view->setFontScale(scale);
    return 0;
}

static const luaL_Reg fdview_functions[] = {
    {"create", lfdview_create},
    {"clear", lfdview_clear},
    {"add", lfdview_add},
    {"load", lfdview_load},
    {"pagebreak", lfdview_pagebreak},
    {"setColor", lfdview_setColor},
    {"setVisibleForTag", lfdview_setVisibleForTag},
    {"position", lfdview_position},
    {"setPosition", lfdview_setPosition},
    {"scroll", lfdview_scrollTo},
    {"scrollStep", lfdview_scrollStep},
    {"scrollTo", lfdview_scrollTo},
    {"setEdit", lfdview_setEdit},
    {"setFontScale", lfdview_setFontScale},
    {nullptr, nullptr},
};

int luaopen_fdview_core(lua_State *L)
{
    return openViewerModule(L, "FDView", fdview_functions);
}
