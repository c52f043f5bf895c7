#include "SettingsKeys.h"
#include "AppSettings.h"

#include <QDir>
#include <QHash>
#include <QStandardPaths>
#include <QUrl>

namespace SettingsKeys {
namespace {

enum class Type { Text, Int, Bool, TextList, Bytes, Folder, Colour, FontFamily, Url };

struct Rule
{
    Type type = Type::Text;
    QVariant def;
    qint64 min = 0, max = 0;     // Int range (inclusive) when max > min
    QList<int> allowed;          // Int values allowed, when not empty
};

const QHash<QString, Rule>& table()
{
    static const QHash<QString, Rule> t = [] {
        QHash<QString, Rule> h;
        auto text = [&](const QString& k, const QString& d) { h.insert(k, Rule{Type::Text, d}); };
        auto boolean = [&](const QString& k, bool d) { h.insert(k, Rule{Type::Bool, d}); };
        auto range = [&](const QString& k, int d, qint64 lo, qint64 hi) { h.insert(k, Rule{Type::Int, d, lo, hi}); };
        auto oneOf = [&](const QString& k, int d, QList<int> v) { h.insert(k, Rule{Type::Int, d, 0, 0, v}); };
        auto bytes = [&](const QString& k) { h.insert(k, Rule{Type::Bytes, QByteArray()}); };

        text(AudioDevice, QString());
        range(AudioBuffer, 128, 16, 4096);
        text(AudioEngine, QStringLiteral("wasapi_shared"));
        range(AudioFormatRate, 0, 8000, 768000);
        text(AudioPlaybackMode, QString());
        text(AudioSampler, QString());
        boolean(AudioPreload, true);
        text(AppearancePreset, QStringLiteral("default"));
        text(AppearanceTheme, QStringLiteral("dark"));
        h.insert(AppearanceAccent, Rule{Type::Colour, QString()});
        h.insert(AppearanceFont, Rule{Type::FontFamily, QString()});
        oneOf(AppearanceFontPx, 0, {0});   // 0, or 6..72: checked below
        oneOf(AppearanceBtnFontSize, 0, {0, 10, 12, 14});
        boolean(AppearanceShowLoopIcon, true);
        boolean(AppearanceShowScissorIcon, true);
        oneOf(AdvancedAutosave, 0, {0, 60, 120, 300, 900});
        boolean(AdvancedShowLog, false);
        boolean(SessionAutoSave, true);
        h.insert(RecentFiles, Rule{Type::TextList, QStringList()});
        h.insert(LibraryDownloadPath, Rule{Type::Folder, QString()});
        text(LibraryOutputDevice, QString());
        boolean(LayoutStackDualPanes, true);
        range(GridCols, 0, 0, 1000);
        range(GridRows, 0, 0, 1000);
        bytes(WindowGeometry);
        bytes(WindowState);
        bytes(WindowSplitter);
        text(WindowVersion, QString());
        text(UpdateDismissed, QString());
        h.insert(UpdateServiceUrl, Rule{Type::Url, kDefaultServiceUrl});
        return h;
    }();
    return t;
}

bool toInt(const QVariant& v, qint64* out)
{
    switch (v.typeId()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Short:
    case QMetaType::UShort: {
        bool ok = false;
        *out = v.toLongLong(&ok);
        return ok;
    }
    case QMetaType::QString:
    case QMetaType::QByteArray: {
        bool ok = false;
        *out = v.toString().trimmed().toLongLong(&ok);
        return ok;
    }
    default:
        return false;
    }
}

bool toBool(const QVariant& v, bool* out)
{
    if (v.typeId() == QMetaType::Bool) {
        *out = v.toBool();
        return true;
    }
    qint64 n = 0;
    if (v.typeId() != QMetaType::QString && toInt(v, &n)) {
        if (n != 0 && n != 1)
            return false;
        *out = n == 1;
        return true;
    }
    if (v.typeId() == QMetaType::QString || v.typeId() == QMetaType::QByteArray) {
        const QString s = v.toString().trimmed().toLower();
        if (s == QLatin1String("true") || s == QLatin1String("1")) {
            *out = true;
            return true;
        }
        if (s == QLatin1String("false") || s == QLatin1String("0")) {
            *out = false;
            return true;
        }
    }
    return false;
}

bool isText(const QVariant& v)
{
    return v.typeId() == QMetaType::QString || v.typeId() == QMetaType::QByteArray;
}

QVariant normalise(const QString& key, const Rule& r, const QVariant& v, bool* ok)
{
    *ok = false;
    if (!v.isValid())
        return {};
    switch (r.type) {
    case Type::Text:
        if (!isText(v))
            return {};
        *ok = true;
        return v.toString();
    case Type::Int: {
        qint64 n = 0;
        if (!toInt(v, &n))
            return {};
        if (key == AppearanceFontPx) {
            if (n != 0 && (n < 6 || n > 72))
                return {};
        } else if (!r.allowed.isEmpty()) {
            if (!r.allowed.contains(int(n)))
                return {};
        } else if (r.max > r.min && (n < r.min || n > r.max)) {
            return {};
        }
        *ok = true;
        return int(n);
    }
    case Type::Bool: {
        bool b = false;
        if (!toBool(v, &b))
            return {};
        *ok = true;
        return b;
    }
    case Type::TextList: {
        if (v.typeId() == QMetaType::QStringList) {
            *ok = true;
            return v.toStringList();
        }
        if (v.typeId() == QMetaType::QVariantList) {
            QStringList out;
            for (const QVariant& e : v.toList()) {
                if (!isText(e))
                    return {};
                out << e.toString();
            }
            *ok = true;
            return out;
        }
        if (v.typeId() == QMetaType::QString) {   // one entry in an INI file
            *ok = true;
            return v.toString().isEmpty() ? QStringList() : QStringList{v.toString()};
        }
        return {};
    }
    case Type::Bytes:
        if (v.typeId() != QMetaType::QByteArray && v.typeId() != QMetaType::QString)
            return {};
        *ok = true;
        return v.toByteArray();
    case Type::Folder: {
        if (!isText(v))
            return {};
        const QString s = v.toString();
        if (s.isEmpty() || !QDir::isAbsolutePath(s))
            return {};
        *ok = true;
        return QDir::cleanPath(s);
    }
    case Type::Colour: {
        if (!isText(v))
            return {};
        const QString s = v.toString();
        if (s.isEmpty()) {
            *ok = true;
            return s;
        }
        if (s.size() != 7 || s[0] != QLatin1Char('#'))
            return {};
        for (int i = 1; i < 7; ++i) {
            const char16_t ch = s[i].unicode();
            const bool hex = (ch >= u'0' && ch <= u'9') || (ch >= u'a' && ch <= u'f') || (ch >= u'A' && ch <= u'F');
            if (!hex)
                return {};
        }
        *ok = true;
        return s;
    }
    case Type::FontFamily: {
        if (!isText(v))
            return {};
        const QString s = v.toString();
        for (QChar c : s)
            if (c == QLatin1Char(';') || c == QLatin1Char('{') || c == QLatin1Char('}') || c == QLatin1Char('"')
                || c == QLatin1Char('\'') || c == QLatin1Char('\\') || c.category() == QChar::Other_Control)
                return {};
        if (s.size() > 200)
            return {};
        *ok = true;
        return s;
    }
    case Type::Url: {
        if (!isText(v))
            return {};
        QString s = v.toString().trimmed();
        while (s.endsWith(QLatin1Char('/')))
            s.chop(1);
        const QUrl u(s, QUrl::StrictMode);
        const QString scheme = u.scheme().toLower();
        if (!u.isValid() || (scheme != QLatin1String("http") && scheme != QLatin1String("https"))
            || u.host().isEmpty() || u.hasQuery() || u.hasFragment() || !u.userInfo().isEmpty())
            return {};
        *ok = true;
        return s;
    }
    }
    return {};
}

QVariant stored(const QString& key)
{
    AppSettings s;
    return s.value(key);
}

} // namespace

QVariant defaultValue(const QString& key)
{
    if (key == LibraryDownloadPath)
        return defaultDownloadFolder();
    const auto it = table().constFind(key);
    return it == table().constEnd() ? QVariant() : it->def;
}

bool isValid(const QString& key, const QVariant& value)
{
    const auto it = table().constFind(key);
    if (it == table().constEnd())
        return value.isValid();
    bool ok = false;
    normalise(key, *it, value, &ok);
    return ok;
}

QVariant read(const QString& key, const QVariant& readerDefault)
{
    const QVariant v = stored(key);
    const auto it = table().constFind(key);
    if (it == table().constEnd())
        return v.isValid() ? v : readerDefault;
    bool ok = false;
    const QVariant n = normalise(key, *it, v, &ok);
    return ok ? n : readerDefault;
}

QVariant read(const QString& key)
{
    return read(key, defaultValue(key));
}

QString readString(const QString& key) { return read(key).toString(); }
QString readString(const QString& key, const QString& d) { return read(key, d).toString(); }
int readInt(const QString& key) { return read(key).toInt(); }
int readInt(const QString& key, int d) { return read(key, d).toInt(); }
bool readBool(const QString& key) { return read(key).toBool(); }
bool readBool(const QString& key, bool d) { return read(key, d).toBool(); }

QString defaultDownloadFolder()
{
    QString base = QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
    if (base.isEmpty())
        base = QDir::homePath();
    return QDir::cleanPath(base + QStringLiteral("/VX Library"));
}

QString downloadFolder()
{
    return read(LibraryDownloadPath).toString();
}

QString serviceUrl()
{
    return read(UpdateServiceUrl).toString();
}

int autoSaveSeconds()
{
    const QVariant stored = AppSettings().value(AdvancedAutosave);
    if (stored.isValid() && isValid(AdvancedAutosave, stored))
        return read(AdvancedAutosave).toInt();
    return readBool(SessionAutoSave) ? kDefaultAutoSaveSeconds : 0;
}

} // namespace SettingsKeys
