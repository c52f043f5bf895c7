#include "StingerImporter.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMap>
#include <QRegularExpression>
#include <QStringDecoder>
#include <algorithm>
#include <cmath>
#include <map>

#include "FileCheck.h"
#include "RecordId.h"

namespace {

// Windows-1252 differs from Latin-1 only in 0x80..0x9F; its five unused
// codes there map to the control characters of the same value.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

QString fromCp1252(QByteArrayView bytes)
{
    QString out(bytes.size(), Qt::Uninitialized);
    QChar* d = out.data();
    for (char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        *d++ = (b >= 0x80 && b < 0xA0) ? QChar(kCp1252High[b - 0x80]) : QChar(b);
    }
    return out;
}

QString decodeWith(QStringConverter::Encoding enc, QByteArrayView bytes)
{
    QStringDecoder dec(enc, QStringConverter::Flag::Stateless);
    return dec.decode(bytes);
}

// The part after the last "/" or "\"; empty for "", "." and "..", which name
// no file.
QString fileNamePart(const QString& path)
{
    const qsizetype cut = std::max(path.lastIndexOf(QLatin1Char('/')), path.lastIndexOf(QLatin1Char('\\')));
    const QString name = path.mid(cut + 1);
    if (name == QLatin1String(".") || name == QLatin1String(".."))
        return QString();
    return name;
}

bool isFile(const QString& path)
{
    return !path.isEmpty() && FileCheck::isRegularFile(path);
}

// dir/name when it is a regular file, else dir/s/name for the first
// immediate sub-folder s (file system order) that holds it.
QString findNear(const QString& dir, const QString& name)
{
    const QString direct = dir + QLatin1Char('/') + name;
    if (isFile(direct))
        return direct;
    const QStringList subs = QDir(dir).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Unsorted);
    for (const QString& s : subs) {
        const QString p = dir + QLatin1Char('/') + s + QLatin1Char('/') + name;
        if (isFile(p))
            return p;
    }
    return QString();
}

// A decimal integer; text that is not one counts as 0.
int intOr0(const QString& s)
{
    bool ok = false;
    const int v = s.toInt(&ok);
    return ok ? v : 0;
}

// A colour value: a decimal integer of 0 or more, else an invalid colour.
QColor colorValue(const QString& s)
{
    bool ok = false;
    const int v = s.toInt(&ok);
    return ok ? StingerImporter::stingerColorToQt(v) : QColor();
}

// A fade in seconds: decimal, 0 when not a number; negative and infinite
// values and NaN would break the fade ramps and count as 0.
double fadeValue(const QString& s)
{
    bool ok = false;
    const double v = s.toDouble(&ok);
    return (ok && std::isfinite(v) && v >= 0) ? v : 0.0;
}

TabData makeTab(const QString& name)
{
    TabData t;
    t.id = RecordId::make();
    t.name = name;
    t.color = QColor(0xE3, 0x1B, 0x23);
    return t;
}

using Section = QMap<QString, QString>;

// True, with the warning in r, when the file handed in does not exist.
bool isMissing(const QString& path, StingerImporter::Result& r)
{
    if (FileCheck::kindOf(path) != FileCheck::Kind::Missing)
        return false;
    r.warnings.append(QStringLiteral("File not found: ") + path);
    return true;
}

} // namespace

QString StingerImporter::decode(const QByteArray& bytes)
{
    const QByteArrayView v(bytes);
    if (v.startsWith("\xEF\xBB\xBF"))
        return decodeWith(QStringConverter::Utf8, v.sliced(3));
    if (v.startsWith("\xFF\xFE"))
        return decodeWith(QStringConverter::Utf16LE, v.sliced(2));
    if (v.startsWith("\xFE\xFF"))
        return decodeWith(QStringConverter::Utf16BE, v.sliced(2));
    QStringDecoder utf8(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    QString text = utf8.decode(v);
    if (!utf8.hasError())
        return text;
    return fromCp1252(v);
}

QStringList StingerImporter::contentLines(const QByteArray& bytes)
{
    const QString text = decode(bytes);
    QStringList lines;
    for (QStringView raw : QStringView(text).tokenize(QLatin1Char('\n'))) {
        const QStringView line = raw.trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char(';')) || line.startsWith(QLatin1Char('#')))
            continue;
        lines.append(line.toString());
    }
    return lines;
}

QColor StingerImporter::stingerColorToQt(int colorRef)
{
    if (colorRef < 0)
        return QColor();
    return QColor(colorRef & 0xFF, (colorRef >> 8) & 0xFF, (colorRef >> 16) & 0xFF);
}

TabData StingerImporter::parseStg(const QString& stgPath, const QString& baseDir, QList<QString>& warnings)
{
    const QString name = QFileInfo(stgPath).completeBaseName();
    QByteArray bytes;
    if (!FileCheck::readRegularFile(stgPath, &bytes)) {
        warnings.append(QStringLiteral("Cannot open: ") + stgPath);
        return makeTab(name);
    }
    return parseStgBytes(bytes, name, baseDir, warnings);
}

TabData StingerImporter::parseStgBytes(const QByteArray& bytes, const QString& tabName, const QString& baseDir,
                                       QList<QString>& warnings)
{
    // First pass: section -> key -> value; the last repeat of a key wins.
    std::map<QString, Section> sections;   // node based: `current` stays valid
    Section* current = nullptr;
    for (const QString& line : contentLines(bytes)) {
        if (line.startsWith(QLatin1Char('['))) {
            const qsizetype end = line.indexOf(QLatin1Char(']'));
            if (end >= 2)
                current = &sections[line.mid(1, end - 1).trimmed().toLower()];
            continue;
        }
        if (!current)
            continue;
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq <= 0)
            continue;
        current->insert(line.left(eq).trimmed().toLower(), line.mid(eq + 1).trimmed());
    }

    // Second pass.
    TabData tab = makeTab(tabName);
    const auto section = [&sections](const QString& name) {
        const auto it = sections.find(name);
        return it == sections.end() ? Section() : it->second;
    };
    const Section general = section(QStringLiteral("general"));
    const QString title = general.value(QStringLiteral("title"));
    if (!title.isEmpty())
        tab.name = title;
    if (general.contains(QStringLiteral("color"))) {
        const QColor c = stingerColorToQt(intOr0(general.value(QStringLiteral("color"))));
        if (c.isValid())
            tab.color = c;
    }

    static const QRegularExpression keyPattern(QStringLiteral("^(\\d+)(.+)$"));
    QHash<int, Section> props;
    bool beyond = false;
    const Section buttons = section(QStringLiteral("buttons"));
    for (auto it = buttons.cbegin(); it != buttons.cend(); ++it) {
        const QRegularExpressionMatch m = keyPattern.match(it.key());
        if (!m.hasMatch())
            continue;
        bool ok = false;
        const int index = m.captured(1).toInt(&ok);
        if (!ok || index >= kButtons) {   // an index too large for an int is beyond 35 too
            beyond = true;
            continue;
        }
        props[index].insert(m.captured(2).trimmed(), it.value());
    }

    tab.buttons.reserve(kButtons);
    for (int i = 0; i < kButtons; ++i) {
        ButtonData b;
        b.id = RecordId::make();
        const auto found = props.constFind(i);
        if (found != props.cend()) {
            const Section& p = *found;
            const auto has = [&p](const char* key) { return p.contains(QLatin1String(key)); };
            const auto get = [&p](const char* key) { return p.value(QLatin1String(key)); };
            if (has("caption") && get("caption") != QLatin1String("[BLANK]"))
                b.name = get("caption");
            const QString file = get("file");
            if (!file.isEmpty()) {
                const QString path = resolveAudio(file, baseDir);
                if (!path.isEmpty()) {
                    b.audioPath = path;
                } else {
                    const QString who = b.name.isEmpty() ? QString::number(i) : b.name;
                    warnings.append(QStringLiteral("Button \"%1\" (#%2) — audio not found: %3")
                                        .arg(who, QString::number(i), file));
                }
            }
            if (has("color"))
                b.bgColor = colorValue(get("color"));
            if (has("fontcolor"))
                b.textColor = colorValue(get("fontcolor"));
            if (!b.textColor.isValid() && b.bgColor.isValid()) {
                const double lum = 0.299 * b.bgColor.redF() + 0.587 * b.bgColor.greenF() + 0.114 * b.bgColor.blueF();
                b.textColor = lum > 0.5 ? QColor(0, 0, 0) : QColor(255, 255, 255);
            }
            if (has("volume"))
                b.volume = std::clamp(intOr0(get("volume")) / 100.0, 0.0, 2.0);
            if (has("loop"))
                b.loop = intOr0(get("loop")) != 0;
            if (has("fadein"))
                b.fadeIn = fadeValue(get("fadein"));
            if (has("fadeout"))
                b.fadeOut = fadeValue(get("fadeout"));
        }
        tab.buttons.append(b);
    }
    if (beyond) {
        warnings.append(
            QStringLiteral("Tab \"%1\": buttons beyond index 35 were skipped (VX max = 36).").arg(tab.name));
    }
    return tab;
}

QString StingerImporter::resolveAudio(const QString& file, const QString& baseDir)
{
    if (isFile(file))
        return file;
    QString slashed = file;
    slashed.replace(QLatin1Char('\\'), QLatin1Char('/'));
    if (isFile(slashed))
        return slashed;
    const QString name = fileNamePart(file);
    if (name.isEmpty() || baseDir.isEmpty())
        return QString();
    const QString found = findNear(baseDir, name);
    if (!found.isEmpty())
        return found;
    const QString here = QDir::cleanPath(QFileInfo(baseDir).absoluteFilePath());
    const QString parent = QFileInfo(here).absolutePath();
    if (parent == here)
        return QString();
    return findNear(parent, name);
}

QList<QPair<QString, QString>> StingerImporter::readSets(const QByteArray& bytes)
{
    static const QRegularExpression comment(QStringLiteral("\\s+;"));
    QMap<QString, QString> entries;
    bool inSets = false;
    for (const QString& line : contentLines(bytes)) {
        if (line.startsWith(QLatin1Char('['))) {
            inSets = line.toLower() == QLatin1String("[sets]");
            continue;
        }
        if (!inSets)
            continue;
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq <= 0)
            continue;
        QString value = line.mid(eq + 1).trimmed();
        const QRegularExpressionMatch m = comment.match(value);
        if (m.hasMatch())
            value = value.left(m.capturedStart()).trimmed();
        entries.insert(line.left(eq).trimmed(), value);
    }
    QList<QPair<QString, QString>> sets;
    sets.reserve(entries.size());
    for (auto it = entries.cbegin(); it != entries.cend(); ++it)
        sets.append({it.key(), it.value()});
    const auto number = [](const QString& key) {
        bool ok = false;
        const qlonglong v = key.toLongLong(&ok);
        return ok ? v : 0;
    };
    std::stable_sort(sets.begin(), sets.end(),
                     [&number](const auto& a, const auto& b) { return number(a.first) < number(b.first); });
    return sets;
}

StingerImporter::Result StingerImporter::importStg(const QString& stgPath)
{
    Result r;
    if (isMissing(stgPath, r))
        return r;
    r.tabs.append(parseStg(stgPath, QFileInfo(stgPath).absolutePath(), r.warnings));
    r.ok = true;
    return r;
}

StingerImporter::Result StingerImporter::importCol(const QString& colPath)
{
    Result r;
    if (isMissing(colPath, r))
        return r;
    QByteArray bytes;
    const QList<QPair<QString, QString>> sets =
        FileCheck::readRegularFile(colPath, &bytes) ? readSets(bytes) : QList<QPair<QString, QString>>();
    if (sets.isEmpty()) {
        r.warnings.append(QStringLiteral("No [Sets] entries found in: ") + colPath);
        return r;
    }
    const QString colDir = QFileInfo(colPath).absolutePath();
    for (const auto& [key, value] : sets) {
        QString path = value.trimmed();
        path.replace(QLatin1Char('\\'), QLatin1Char('/'));
        if (path.isEmpty())
            continue;
        QString page = path;
        if (FileCheck::kindOf(page) == FileCheck::Kind::Missing) {
            const QString name = fileNamePart(path);
            page = name.isEmpty() ? QString() : colDir + QLatin1Char('/') + name;
            if (page.isEmpty() || FileCheck::kindOf(page) == FileCheck::Kind::Missing) {
                r.warnings.append(QStringLiteral("Set %1 — .stg not found: %2").arg(key, path));
                continue;
            }
        }
        r.tabs.append(parseStg(page, colDir, r.warnings));
    }
    r.ok = !r.tabs.isEmpty();
    return r;
}
