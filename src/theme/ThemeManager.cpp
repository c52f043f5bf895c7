#include "ThemeManager.h"

#include "AppSettings.h"
#include "SettingsKeys.h"
#include "StyleSheetTemplate.h"

#include <QApplication>
#include <QCoreApplication>
#include <QEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextEdit>
#include <algorithm>
#include <cmath>


ThemeManager* ThemeManager::s_instance = nullptr;

const QColor ThemeManager::kVibrantPalette[16] = {
    QColor(0xE5, 0x3E, 0x3E), QColor(0xF5, 0x9E, 0x0B), QColor(0x10, 0xB9, 0x81), QColor(0x3B, 0x82, 0xF6),
    QColor(0x8B, 0x5C, 0xF6), QColor(0xEC, 0x48, 0x99), QColor(0x14, 0xB8, 0xA6), QColor(0xF9, 0x73, 0x16),
    QColor(0x06, 0xB6, 0xD4), QColor(0x84, 0xCC, 0x16), QColor(0xA8, 0x55, 0xF7), QColor(0x22, 0xC5, 0x5E),
    QColor(0xF4, 0x3F, 0x5E), QColor(0x0E, 0xA5, 0xE9), QColor(0xEA, 0xB3, 0x08), QColor(0x63, 0x66, 0xF1),
};

namespace {

constexpr int kPresetCount = 9;

// Stored names, indexed by preset value; used for the settings and for look-ups.
const char* const kPresetNames[kPresetCount] = {
    "dark", "deepblack", "lightblue", "green", "red", "purple", "lightclassic", "slate", "navyorange",
};

// One row per preset, one column per colour role (in ThemeColors order).
const char* const kPresetColors[kPresetCount][16] = {
    // Dark
    {"#18181B", "#222226", "#2C2C32", "#36363E", "#36363C", "#71717A", "#FAFAFA", "#A1A1AA",
     "#71717A", "#52525B", "#E31B23", "#9F1219", "#FB4049", "#22C55E", "#F59E0B", "#E31B23"},
    // DeepBlack
    {"#000000", "#09090B", "#111116", "#1C1C24", "#222226", "#52525B", "#FAFAFA", "#A1A1AA",
     "#71717A", "#3F3F46", "#A855F7", "#7E22CE", "#C084FC", "#22C55E", "#F59E0B", "#EF4444"},
    // LightBlue
    {"#EFF6FF", "#FFFFFF", "#DBEAFE", "#BFDBFE", "#93C5FD", "#3B82F6", "#0F172A", "#1E3A5F",
     "#3B5998", "#64748B", "#1D4ED8", "#1E40AF", "#3B82F6", "#15803D", "#B45309", "#B91C1C"},
    // Green
    {"#0A150A", "#0D1F0D", "#122612", "#1A3A1A", "#1A3D1A", "#22C55E", "#ECFDF5", "#A7F3D0",
     "#6EE7B7", "#34D399", "#22C55E", "#15803D", "#4ADE80", "#22C55E", "#F59E0B", "#EF4444"},
    // Red
    {"#150505", "#1F0808", "#2A0C0C", "#3A1010", "#3D1010", "#EF4444", "#FEF2F2", "#FECACA",
     "#FCA5A5", "#F87171", "#EF4444", "#B91C1C", "#FB7185", "#22C55E", "#F59E0B", "#EF4444"},
    // Purple
    {"#0D0A14", "#13101E", "#1C1728", "#261F38", "#28233D", "#8B5CF6", "#FAF5FF", "#DDD6FE",
     "#A78BFA", "#7C3AED", "#8B5CF6", "#6D28D9", "#A78BFA", "#22C55E", "#F59E0B", "#EF4444"},
    // LightClassic
    {"#F8F7F6", "#FFFFFF", "#EDEBE8", "#E0DDD8", "#C5C0BA", "#9C9890", "#1A1614", "#3D3530",
     "#6B6560", "#9C9890", "#E31B23", "#9F1219", "#FB4049", "#15803D", "#B45309", "#E31B23"},
    // Slate
    {"#0F1115", "#161922", "#1E2230", "#272C3D", "#2A2F3F", "#4F5670", "#F1F2F6", "#A8AEC2",
     "#767D96", "#4F5670", "#6366F1", "#4338CA", "#818CF8", "#10B981", "#F59E0B", "#F43F5E"},
    // NavyOrange
    {"#0B1220", "#101A2E", "#16243D", "#1E304F", "#22334F", "#3D5580", "#F4F7FC", "#AEBBD4",
     "#7D8BAA", "#4E5C7C", "#F97316", "#C2410C", "#FB923C", "#22C55E", "#F59E0B", "#EF4444"},
};

// A preset value that can index the tables; anything else is Dark.
int validPresetIndex(int idx)
{
    return idx >= 0 && idx < kPresetCount ? idx : int(ThemeManager::Dark);
}

// The accent and the two shades derived from it.
void putAccent(ThemeColors& c, const QColor& accent)
{
    c.accent = accent;
    c.accentPressed = accent.darker(160);
    c.accentLight = accent.lighter(130);
}

// Keeps the hint of every empty text box readable. The style sheet gives a
// box's hint its text colour at half strength, which fades below reading on
// the light presets, and gives it again at every polish; so after each
// palette change the hint takes the muted ink that reads on the box's ground
// (its own plain background, else the sheet's grounds).
class PlaceholderInk : public QObject
{
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::PaletteChange && event->type() != QEvent::Polish)
            return false;
        if (!qobject_cast<QLineEdit*>(watched) && !qobject_cast<QTextEdit*>(watched)
            && !qobject_cast<QPlainTextEdit*>(watched))
            return false;
        auto* box = static_cast<QWidget*>(watched);
        const ThemeColors& c = ThemeManager::instance()->colors();
        const QColor own = box->palette().color(QPalette::Base);
        const QColor ink = own.isValid() && own.alpha() == 255
            ? ThemeManager::readableOn(c.textMuted, {own})
            : ThemeManager::readableOn(c.textMuted, {c.bg, c.surface, c.surfaceAlt});
        if (box->palette().color(QPalette::PlaceholderText) != ink) {
            QPalette pal = box->palette();
            pal.setColor(QPalette::PlaceholderText, ink);
            box->setPalette(pal);
        }
        return false;
    }
};

int presetIndexOf(const QString& storedName)
{
    for (int i = 0; i < kPresetCount; ++i) {
        if (storedName == QLatin1String(kPresetNames[i]))
            return i;
    }
    return -1;
}

} // namespace

ThemeManager* ThemeManager::instance()
{
    if (!s_instance) {
        s_instance = new ThemeManager(QCoreApplication::instance());
        if (auto* app = qobject_cast<QApplication*>(QCoreApplication::instance()))
            app->installEventFilter(new PlaceholderInk(s_instance));
    }
    return s_instance;
}

ThemeManager::ThemeManager(QObject* parent)
    : QObject(parent)
{
    const QString theme = SettingsKeys::readString(SettingsKeys::AppearanceTheme, QStringLiteral("dark"));
    QString name = SettingsKeys::readString(SettingsKeys::AppearancePreset, theme);
    const QString accentText = SettingsKeys::readString(SettingsKeys::AppearanceAccent, QString());
    // A family that could break out of the style sheet reads as empty.
    const QString family = SettingsKeys::readString(SettingsKeys::AppearanceFont, QString());
    const int px = SettingsKeys::readInt(SettingsKeys::AppearanceFontPx, 0);

    name = name.toLower();
    if (name == QLatin1String("default"))
        name = QStringLiteral("dark");
    // An unknown stored name falls back to Dark.
    const int idx = validPresetIndex(presetIndexOf(name));
    buildColors(Preset(idx));
    m_presetName = QLatin1String(kPresetNames[idx]);

    if (!accentText.isEmpty() && QColor::isValidColorName(accentText))
        putAccent(m_colors, QColor::fromString(accentText));
    if (!family.isEmpty())
        m_fontFamily = family;
    if (px > 0)
        m_fontPx = px;

    buildStylesheet();
}

ThemeColors ThemeManager::colorsForPreset(Preset p)
{
    const char* const* row = kPresetColors[validPresetIndex(p)];
    ThemeColors c;
    QColor* roles[16] = {&c.bg, &c.surface, &c.surfaceAlt, &c.surfaceHover, &c.border, &c.borderStrong,
                         &c.text, &c.textSecondary, &c.textMuted, &c.textDisabled, &c.accent,
                         &c.accentPressed, &c.accentLight, &c.success, &c.warning, &c.danger};
    for (int i = 0; i < 16; ++i)
        *roles[i] = QColor::fromString(QLatin1String(row[i]));
    return c;
}

void ThemeManager::buildColors(Preset p)
{
    m_preset = p;
    m_colors = colorsForPreset(p);
}

void ThemeManager::applyPreset(Preset p)
{
    const int idx = validPresetIndex(p);   // not a preset: never index past the table
    buildColors(Preset(idx));
    m_presetName = QLatin1String(kPresetNames[idx]);

    buildStylesheet();
    applyStylesheetSafely();

    AppSettings s;
    s.setValue(QStringLiteral("appearance/theme"), m_presetName);
    s.setValue(QStringLiteral("appearance/preset"), m_presetName);

    emit themeChanged();
}

void ThemeManager::applyPresetByName(const QString& name)
{
    const int idx = presetIndexOf(name.toLower());
    if (idx >= 0)
        applyPreset(Preset(idx));
}

void ThemeManager::setAccent(const QColor& c)
{
    putAccent(m_colors, c);

    buildStylesheet();
    applyStylesheetSafely();

    AppSettings s;
    s.setValue(QStringLiteral("appearance/accent"), c.name());

    emit themeChanged();
}

void ThemeManager::setAccentColor(const QColor& c, const QColor& second)
{
    Q_UNUSED(second);
    setAccent(c);
}

void ThemeManager::setFont(const QString& family, int px)
{
    if (!family.isEmpty())
        m_fontFamily = family;
    if (px > 0)
        m_fontPx = px;

    buildStylesheet();
    applyStylesheetSafely();

    AppSettings s;
    if (!family.isEmpty())
        s.setValue(QStringLiteral("appearance/font"), family);
    if (px > 0)
        s.setValue(QStringLiteral("appearance/fontPx"), px);

    emit themeChanged();
}

void ThemeManager::setFontSize(int px)
{
    setFont(QString(), px);
}

double ThemeManager::relativeLuminance(const QColor& c)
{
    auto lin = [](double x) { return x <= 0.03928 ? x / 12.92 : std::pow((x + 0.055) / 1.055, 2.4); };
    return 0.2126 * lin(c.redF()) + 0.7152 * lin(c.greenF()) + 0.0722 * lin(c.blueF());
}

double ThemeManager::contrast(const QColor& a, const QColor& b)
{
    const double la = relativeLuminance(a), lb = relativeLuminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QColor ThemeManager::readableOn(const QColor& ink, std::initializer_list<QColor> grounds, double minRatio)
{
    auto readsOnAll = [&](const QColor& c) {
        for (const QColor& g : grounds)
            if (contrast(c, g) < minRatio)
                return false;
        return true;
    };
    if (readsOnAll(ink))
        return ink;
    // Black or white, whichever reads better on the weakest ground.
    double onBlack = 21.0, onWhite = 21.0;
    for (const QColor& g : grounds) {
        onBlack = std::min(onBlack, contrast(Qt::black, g));
        onWhite = std::min(onWhite, contrast(Qt::white, g));
    }
    const QColor end = onBlack >= onWhite ? QColor(Qt::black) : QColor(Qt::white);
    constexpr int kSteps = 32;
    for (int i = 1; i < kSteps; ++i) {
        const double t = double(i) / kSteps;
        // Judged as it is drawn: in whole 8-bit channels.
        const QColor c(QColor::fromRgbF(float(ink.redF() + (end.redF() - ink.redF()) * t),
                                        float(ink.greenF() + (end.greenF() - ink.greenF()) * t),
                                        float(ink.blueF() + (end.blueF() - ink.blueF()) * t))
                           .rgb());
        if (readsOnAll(c))
            return c;
    }
    return end;
}

QColor ThemeManager::blended(const QColor& fill, const QColor& ground)
{
    // In whole 8-bit channels, as the painter leaves it on screen.
    const double a = fill.alphaF();
    auto mix = [a](int f, int g) { return qRound(g + (f - g) * a); };
    return QColor(mix(fill.red(), ground.red()), mix(fill.green(), ground.green()), mix(fill.blue(), ground.blue()));
}

QColor ThemeManager::vibrantColor(int i)
{
    return kVibrantPalette[i & 15];
}

QColor ThemeManager::nextVibrantColor()
{
    static int counter = 0;
    // Unsigned arithmetic: the counter may wrap after 2^31 calls without UB.
    const QColor c = kVibrantPalette[unsigned(counter) % 16u];
    counter = int(unsigned(counter) + 1u);
    return c;
}

void ThemeManager::buildStylesheet()
{
    m_styleSheet = StyleSheetTemplate::fill(m_colors, m_fontFamily, m_fontPx);
}

void ThemeManager::applyStylesheetSafely()
{
    if (m_sheetPosted || !qobject_cast<QApplication*>(QCoreApplication::instance()))
        return;
    m_sheetPosted = true;
    // Bound to the manager: a call still waiting when the manager goes is dropped.
    QMetaObject::invokeMethod(this, &ThemeManager::applyPostedStylesheet, Qt::QueuedConnection);
}

// Setting the application's text restyles every widget at once and sends each
// one a style change. The text is never set again from inside that walk (a
// handler running an event loop could bring this call round again): the walk
// under way puts the newest text on when it is over. Nothing is set while
// the application is shutting down, nor when the text is already in place.
void ThemeManager::applyPostedStylesheet()
{
    m_sheetPosted = false;
    auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
    if (!app || QCoreApplication::closingDown() || app->styleSheet() == m_styleSheet)
        return;
    if (m_sheetApplying)
        return;
    m_sheetApplying = true;
    app->setStyleSheet(m_styleSheet);
    m_sheetApplying = false;
    // A change made during the walk is applied at the next turn.
    if (app->styleSheet() != m_styleSheet)
        applyStylesheetSafely();
}

QString ThemeManager::modernToggleQss() const
{
    return StyleSheetTemplate::toggleSwitch(m_colors);
}
