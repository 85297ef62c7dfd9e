// Build-time generator of the program's resources:
//   resourcetool sprites <svg font> <stylesheet> <output svg>
//       one path element per icon name of the stylesheet, in its order (aliases included), with
//       the glyph of the icon's code point flipped upright into its own box;
//   resourcetool render <svg> <output png> <width> <height>
//       renders a picture into a PNG with a palette.
#include <QFile>
#include <QGuiApplication>
#include <QHash>
#include <QImage>
#include <QPainter>
#include <QRegularExpression>
#include <QSvgRenderer>
#include <QTextStream>
#include <QVector>
#include <QXmlStreamReader>

#include <algorithm>
#include <cstdio>

struct Glyph {
    QString path;
    int advance;
};

static QHash<uint, Glyph> readGlyphs(const QString &fileName)
{
    QHash<uint, Glyph> glyphs;
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return glyphs;
    QXmlStreamReader xml(&file);
    int defaultAdvance = 0;
    while (xml.readNextStartElement() || !xml.atEnd()) {
        if (!xml.isStartElement())
            continue;
        const QXmlStreamAttributes attributes = xml.attributes();
        if (xml.name() == QLatin1String("font"))
            defaultAdvance = attributes.value("horiz-adv-x").toInt();
        if (xml.name() != QLatin1String("glyph"))
            continue;
        const QString unicode = attributes.value("unicode").toString();
        const QString path = attributes.value("d").toString();
        if (unicode.size() != 1 || path.isEmpty())
            continue;
        const int advance = attributes.hasAttribute("horiz-adv-x")
                                ? attributes.value("horiz-adv-x").toInt()
                                : defaultAdvance;
        glyphs.insert(unicode.at(0).unicode(), {path, advance});
    }
    return glyphs;
}

struct Icon {
    QString name;
    uint codePoint;
};

// Selectors such as ".fa-bars:before," gather until the rule's content names their code point.
static QList<Icon> readIcons(const QString &fileName)
{
    QList<Icon> icons;
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return icons;
    const QRegularExpression selector("^\\.fa-([a-z0-9-]+):before\\s*[,{]");
    const QRegularExpression content("content:\\s*\"\\\\([0-9a-fA-F]+)\"");
    QStringList pending;
    QTextStream in(&file);
    while (!in.atEnd()) {
        const QString line = in.readLine().trimmed();
        const QRegularExpressionMatch name = selector.match(line);
        if (name.hasMatch())
            pending << name.captured(1);
        const QRegularExpressionMatch code = content.match(line);
        if (code.hasMatch()) {
            for (const QString &icon : qAsConst(pending))
                icons.append({icon, code.captured(1).toUInt(nullptr, 16)});
        }
        if (line.contains('}'))
            pending.clear();
    }
    return icons;
}

static int makeSprites(const QString &font, const QString &stylesheet, const QString &output)
{
    const QHash<uint, Glyph> glyphs = readGlyphs(font);
    const QList<Icon> icons = readIcons(stylesheet);
    QFile file(output);
    if (glyphs.isEmpty() || icons.isEmpty() || !file.open(QIODevice::WriteOnly | QIODevice::Text))
        return 1;
    QTextStream out(&file);
    out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<!-- Icons of Font Awesome by Dave Gandy, under the SIL Open Font License 1.1;\n"
           "     see sprites-LICENSE.txt beside this file. -->\n"
           "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"0\" height=\"0\" "
           "style=\"fill:#ffffff;fill-opacity:0.7\">\n";
    int written = 0;
    for (const Icon &icon : icons) {
        const auto glyph = glyphs.constFind(icon.codePoint);
        if (glyph == glyphs.constEnd())
            continue;
        // Font glyphs grow upwards from the baseline: flip each into a box below its top.
        out << "  <path id=\"fa-" << icon.name << "\" transform=\"matrix(1 0 0 -1 0 1536)\" d=\""
            << glyph->path << "\"/>\n";
        ++written;
    }
    out << "</svg>\n";
    printf("sprites: %d icons\n", written);
    return 0;
}

// The image with a palette of its 256 most frequent colours, every other pixel taking the
// nearest of them: a palette picture decodes in a fraction of the time of a full-colour one, and
// the splash is the first picture start-up decodes.
static QImage withPalette(const QImage &image)
{
    QHash<QRgb, int> counts;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            ++counts[image.pixel(x, y)];
    QVector<QPair<int, QRgb>> byCount;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it)
        byCount.append({-it.value(), it.key()});
    std::sort(byCount.begin(), byCount.end());
    QVector<QRgb> palette;
    for (int i = 0; i < qMin(256, byCount.size()); ++i)
        palette.append(byCount.at(i).second);
    auto distance = [](QRgb a, QRgb b) {
        const int d[] = {qRed(a) - qRed(b), qGreen(a) - qGreen(b), qBlue(a) - qBlue(b),
                         qAlpha(a) - qAlpha(b)};
        return d[0] * d[0] + d[1] * d[1] + d[2] * d[2] + d[3] * d[3];
    };
    QHash<QRgb, int> index;
    QImage result(image.size(), QImage::Format_Indexed8);
    result.setColorTable(palette);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb colour = image.pixel(x, y);
            auto found = index.find(colour);
            if (found == index.end()) {
                int best = 0;
                for (int i = 1; i < palette.size(); ++i)
                    if (distance(colour, palette.at(i)) < distance(colour, palette.at(best)))
                        best = i;
                found = index.insert(colour, best);
            }
            result.setPixel(x, y, uint(*found));
        }
    }
    return result;
}

static int render(const QString &svg, const QString &output, int width, int height)
{
    QSvgRenderer renderer(svg);
    if (!renderer.isValid())
        return 1;
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer.render(&painter);
    painter.end();
    return withPalette(image.convertToFormat(QImage::Format_ARGB32)).save(output) ? 0 : 1;
}

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    if (arguments.size() == 5 && arguments.at(1) == "sprites")
        return makeSprites(arguments.at(2), arguments.at(3), arguments.at(4));
    if (arguments.size() == 6 && arguments.at(1) == "render")
        return render(arguments.at(2), arguments.at(3), arguments.at(4).toInt(),
                      arguments.at(5).toInt());
    fprintf(stderr, "usage: resourcetool sprites FONT CSS OUT | render SVG PNG WIDTH HEIGHT\n");
    return 2;
}
