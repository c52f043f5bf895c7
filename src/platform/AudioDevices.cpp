#include "AudioDevices.h"

#include <alsa/asoundlib.h>

#include <mutex>

namespace {

// ALSA's global configuration is shared by the whole process; these calls
// read it under one lock.
std::mutex g_alsaConfigMx;

bool definedPcm(const QByteArray& base)
{
    std::lock_guard<std::mutex> lk(g_alsaConfigMx);
    if (snd_config_update() < 0 || !snd_config)
        return false;
    snd_config_t* node = nullptr;
    const QByteArray key = "pcm." + base;
    return snd_config_search(snd_config, key.constData(), &node) == 0;
}

bool safeSinkName(const QByteArray& id)
{
    if (id.isEmpty() || id.size() > 200)
        return false;
    for (char c : id) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')
            || c == '.' || c == '_' || c == '-' || c == ':' || c == '@' || c == ',' || c == '=';
        if (!ok)
            return false;
    }
    return true;
}

} // namespace

bool AudioDevices::hasPulsePlugin()
{
    return definedPcm("pulse");
}

QString AudioDevices::alsaNameForId(const QByteArray& qtId)
{
    const QByteArray id = qtId.trimmed();
    if (id.isEmpty())
        return QStringLiteral("default");
    if (!safeSinkName(id))
        return QStringLiteral("default");
    // An ALSA name: its part before the first ':' is a PCM ALSA's
    // configuration defines (default, sysdefault, hw, plughw, front, dmix,
    // pulse, or one of the user's own).
    const int colon = id.indexOf(':');
    const QByteArray base = colon < 0 ? id : id.left(colon);
    if (!base.isEmpty() && definedPcm(base))
        return QString::fromUtf8(id);
    // Otherwise it is the sound server's sink name that Qt reports.
    if (hasPulsePlugin() && !id.contains(':'))
        return QStringLiteral("pulse:DEVICE=") + QString::fromUtf8(id);
    return QStringLiteral("default");
}

QString AudioDevices::hardwareNameForId(const QByteArray& qtId)
{
    const QString name = alsaNameForId(qtId);
    if (name == QLatin1String("default")) {
        // Only an id that asks for the default output gets the default card;
        // one that was refused as unknown or unsafe gets nothing.
        const QByteArray id = qtId.trimmed();
        if (!id.isEmpty() && id != "default")
            return QString();
        for (const Output& o : outputs())
            if (o.alsaName.startsWith(QLatin1String("hw:")))
                return o.alsaName;
        return QString();
    }
    if (name.startsWith(QLatin1String("hw:")))
        return name;
    if (name.startsWith(QLatin1String("plughw:")))
        return name.mid(4);
    const int colon = name.indexOf(QLatin1Char(':'));
    if (colon < 0)
        return QString();
    const QString base = name.left(colon);
    if (base != QLatin1String("sysdefault") && base != QLatin1String("front") && base != QLatin1String("dmix"))
        return QString();
    QString card, dev;
    int positional = 0;
    const QStringList args = name.mid(colon + 1).split(QLatin1Char(','), Qt::SkipEmptyParts);
    for (const QString& a : args) {
        const int eq = a.indexOf(QLatin1Char('='));
        const QString key = eq < 0 ? (positional == 0 ? QStringLiteral("CARD") : QStringLiteral("DEV")) : a.left(eq);
        const QString value = eq < 0 ? a : a.mid(eq + 1);
        if (eq < 0)
            ++positional;
        if (key == QLatin1String("CARD"))
            card = value;
        else if (key == QLatin1String("DEV"))
            dev = value;
    }
    if (card.isEmpty())
        return QString();
    return QStringLiteral("hw:CARD=%1,DEV=%2").arg(card, dev.isEmpty() ? QStringLiteral("0") : dev);
}

QList<AudioDevices::Output> AudioDevices::outputs()
{
    QList<Output> list;
    list.append({QByteArray("default"), QStringLiteral("default"), QStringLiteral("Default output")});
    void** hints = nullptr;
    {
        std::lock_guard<std::mutex> lk(g_alsaConfigMx);
        if (snd_device_name_hint(-1, "pcm", &hints) < 0)
            return list;
    }
    for (void** h = hints; *h; ++h) {
        char* name = snd_device_name_get_hint(*h, "NAME");
        char* desc = snd_device_name_get_hint(*h, "DESC");
        char* ioid = snd_device_name_get_hint(*h, "IOID");
        // IOID absent means both directions.
        const bool output = !ioid || strcmp(ioid, "Output") == 0;
        if (name && output && strcmp(name, "default") != 0 && strcmp(name, "null") != 0) {
            Output o;
            o.id = QByteArray(name);
            o.alsaName = QString::fromUtf8(name);
            o.description = desc ? QString::fromUtf8(desc).simplified() : o.alsaName;
            list.append(o);
        }
        free(name);
        free(desc);
        free(ioid);
    }
    snd_device_name_free_hint(hints);
    return list;
}
