#include "Types.h"

#include <QHash>
#include <QJsonArray>

namespace {

// Colours travel as "#rrggbb"; alpha is not kept.
QString colourText(const QColor& c)
{
    return c.name(QColor::HexRgb);
}

// A colour key is read only when present; a text Qt does not accept gives an
// invalid colour, as does a value that is not a string.
void readColour(const QJsonObject& o, QLatin1StringView key, QColor& out)
{
    if (o.contains(key))
        out = QColor::fromString(o.value(key).toString());
}

} // namespace

double clampVolume(double v, double max)
{
    if (!(v > 0))
        return 0;
    return v > max ? max : v;
}

int shownButtonsPerTab(int buttonsPerTab)
{
    switch (buttonsPerTab) {
    case 24:
    case 36:
    case 48:
    case 72:
        return buttonsPerTab;
    default:
        return 36;
    }
}

QJsonObject ButtonData::toJson() const
{
    QJsonObject o;
    o.insert(QLatin1String("id"), id);
    o.insert(QLatin1String("name"), name);
    o.insert(QLatin1String("audioPath"), audioPath);
    if (!outputDevice.isEmpty())
        o.insert(QLatin1String("outputDevice"), outputDevice);
    if (!key.isEmpty())
        o.insert(QLatin1String("key"), key);
    if (!img.isEmpty())
        o.insert(QLatin1String("img"), img);
    if (bgColor.isValid())
        o.insert(QLatin1String("bgColor"), colourText(bgColor));
    if (textColor.isValid())
        o.insert(QLatin1String("textColor"), colourText(textColor));
    if (fontSize > 0)
        o.insert(QLatin1String("fontSize"), fontSize);
    if (midiNote >= 0)
        o.insert(QLatin1String("midiNote"), midiNote);
    if (midiCh >= 0)
        o.insert(QLatin1String("midiCh"), midiCh);
    if (loop)
        o.insert(QLatin1String("loop"), true);
    if (super)
        o.insert(QLatin1String("super"), true);
    if (rapid)
        o.insert(QLatin1String("rapid"), true);
    if (trimStart > 0)
        o.insert(QLatin1String("trimStart"), trimStart);
    if (trimEnd > 0)
        o.insert(QLatin1String("trimEnd"), trimEnd);
    if (volume != 1.0)
        o.insert(QLatin1String("volume"), volume);
    if (fadeIn > 0)
        o.insert(QLatin1String("fadeIn"), fadeIn);
    if (fadeOut > 0)
        o.insert(QLatin1String("fadeOut"), fadeOut);
    return o;
}

ButtonData ButtonData::fromJson(const QJsonObject& o)
{
    ButtonData b;
    b.id = o.value(QLatin1String("id")).toString();
    b.name = o.value(QLatin1String("name")).toString();
    b.audioPath = o.value(QLatin1String("audioPath")).toString();
    b.outputDevice = o.value(QLatin1String("outputDevice")).toString();
    b.key = o.value(QLatin1String("key")).toString();
    b.img = o.value(QLatin1String("img")).toString();
    readColour(o, QLatin1String("bgColor"), b.bgColor);
    readColour(o, QLatin1String("textColor"), b.textColor);
    b.fontSize = o.value(QLatin1String("fontSize")).toInt(0);
    b.midiNote = o.value(QLatin1String("midiNote")).toInt(-1);
    b.midiCh = o.value(QLatin1String("midiCh")).toInt(-1);
    b.loop = o.value(QLatin1String("loop")).toBool(false);
    b.super = o.value(QLatin1String("super")).toBool(false);
    b.rapid = o.value(QLatin1String("rapid")).toBool(false);
    b.trimStart = o.value(QLatin1String("trimStart")).toDouble(0);
    b.trimEnd = o.value(QLatin1String("trimEnd")).toDouble(0);
    b.volume = clampVolume(o.value(QLatin1String("volume")).toDouble(1.0), 2.0);
    b.fadeIn = o.value(QLatin1String("fadeIn")).toDouble(0);
    b.fadeOut = o.value(QLatin1String("fadeOut")).toDouble(0);
    return b;
}

QJsonObject TabData::toJson() const
{
    QJsonObject o;
    o.insert(QLatin1String("id"), id);
    o.insert(QLatin1String("name"), name);
    if (color.isValid())
        o.insert(QLatin1String("color"), colourText(color));
    if (!soundCard.isEmpty())
        o.insert(QLatin1String("soundCard"), soundCard);
    o.insert(QLatin1String("fadeMs"), fadeMs);
    if (volume != 1.0)
        o.insert(QLatin1String("volume"), volume);
    if (useTabPb) {
        o.insert(QLatin1String("useTabPb"), true);
        o.insert(QLatin1String("pb_as"), pb_as);
        o.insert(QLatin1String("pb_rs"), pb_rs);
        o.insert(QLatin1String("pb_cts"), pb_cts);
    }
    if (!stopKey.isEmpty())
        o.insert(QLatin1String("stopKey"), stopKey);
    if (stopMidi >= 0)
        o.insert(QLatin1String("stopMidi"), stopMidi);
    if (!volUpKey.isEmpty())
        o.insert(QLatin1String("volUpKey"), volUpKey);
    if (!volDnKey.isEmpty())
        o.insert(QLatin1String("volDnKey"), volDnKey);
    if (volCC >= 0)
        o.insert(QLatin1String("volCC"), volCC);
    QJsonArray arr;
    for (const ButtonData& b : buttons)
        arr.append(b.toJson());
    o.insert(QLatin1String("buttons"), arr);
    return o;
}

TabData TabData::fromJson(const QJsonObject& o)
{
    TabData t;
    t.id = o.value(QLatin1String("id")).toString();
    if (t.id.isEmpty()) {
        // A tab without an id gets one made from its name, so the same name
        // always gives the same id. The "Tab" default does not apply here.
        const QString rawName = o.value(QLatin1String("name")).toString();
        t.id = QString::number(quint64(qHash(rawName, size_t(0))));
    }
    t.name = o.value(QLatin1String("name")).toString(QStringLiteral("Tab"));
    readColour(o, QLatin1String("color"), t.color);
    t.soundCard = o.value(QLatin1String("soundCard")).toString();
    t.fadeMs = o.value(QLatin1String("fadeMs")).toDouble(100);
    t.volume = clampVolume(o.value(QLatin1String("volume")).toDouble(1.0), 1.0);
    t.useTabPb = o.value(QLatin1String("useTabPb")).toBool(false);
    if (t.useTabPb) {
        t.pb_as = o.value(QLatin1String("pb_as")).toBool(false);
        t.pb_rs = o.value(QLatin1String("pb_rs")).toBool(true);
        t.pb_cts = o.value(QLatin1String("pb_cts")).toBool(true);
    }
    t.stopKey = o.value(QLatin1String("stopKey")).toString();
    t.stopMidi = o.value(QLatin1String("stopMidi")).toInt(-1);
    t.volUpKey = o.value(QLatin1String("volUpKey")).toString();
    t.volDnKey = o.value(QLatin1String("volDnKey")).toString();
    t.volCC = o.value(QLatin1String("volCC")).toInt(-1);
    const QJsonArray arr = o.value(QLatin1String("buttons")).toArray();
    t.buttons.reserve(arr.size());
    for (const QJsonValue& v : arr)
        t.buttons.append(ButtonData::fromJson(v.toObject()));
    return t;
}

QJsonObject Session::toJson() const
{
    QJsonObject o;
    o.insert(QLatin1String("version"), 2);
    o.insert(QLatin1String("activeTab"), activeTab);
    o.insert(QLatin1String("globalVolume"), globalVolume);
    QJsonObject pb;
    pb.insert(QLatin1String("autoStop"), autoStop);
    pb.insert(QLatin1String("restart"), restart);
    pb.insert(QLatin1String("crossTabStop"), crossTabStop);
    o.insert(QLatin1String("playback"), pb);
    QJsonArray arr;
    for (const TabData& t : tabs)
        arr.append(t.toJson());
    o.insert(QLatin1String("tabs"), arr);
    o.insert(QLatin1String("buttonsPerTab"), buttonsPerTab);
    o.insert(QLatin1String("gridCols"), gridCols);
    o.insert(QLatin1String("gridRows"), gridRows);
    o.insert(QLatin1String("layoutMode"), layoutMode);
    return o;
}

Session Session::fromJson(const QJsonObject& o)
{
    Session s;
    s.activeTab = o.value(QLatin1String("activeTab")).toInt(0);
    // Bounded like the tab volume: the master slider shows 0..100 %, and a
    // value beyond that would show one level and play another.
    s.globalVolume = clampVolume(o.value(QLatin1String("globalVolume")).toDouble(0.85), 1.0);
    const QJsonObject pb = o.value(QLatin1String("playback")).toObject();
    s.autoStop = pb.value(QLatin1String("autoStop")).toBool(false);
    s.restart = pb.value(QLatin1String("restart")).toBool(true);
    s.crossTabStop = pb.value(QLatin1String("crossTabStop")).toBool(true);
    const QJsonArray arr = o.value(QLatin1String("tabs")).toArray();
    s.tabs.reserve(arr.size());
    for (const QJsonValue& v : arr)
        s.tabs.append(TabData::fromJson(v.toObject()));
    s.buttonsPerTab = o.value(QLatin1String("buttonsPerTab")).toInt(36);
    s.gridCols = o.value(QLatin1String("gridCols")).toInt(0);
    s.gridRows = o.value(QLatin1String("gridRows")).toInt(0);
    s.layoutMode = o.value(QLatin1String("layoutMode")).toInt(1);
    return s;
}

void registerSessionTypes()
{
    qRegisterMetaType<ButtonData>("ButtonData");
    qRegisterMetaType<Session>("Session");
    qRegisterMetaType<QList<TabData>>("QList<TabData>");
}
