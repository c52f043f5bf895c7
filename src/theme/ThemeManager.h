#pragma once

#include <initializer_list>
#include <QColor>
#include <QObject>
#include <QString>

// The sixteen colour roles of a preset. The order of the fields is fixed:
// tables and loops over the roles rely on it.
struct ThemeColors
{
    QColor bg;             // window background
    QColor surface;        // panel surface
    QColor surfaceAlt;     // raised or alternate surface
    QColor surfaceHover;   // hovered surface
    QColor border;
    QColor borderStrong;
    QColor text;           // primary text
    QColor textSecondary;
    QColor textMuted;
    QColor textDisabled;
    QColor accent;
    QColor accentPressed;
    QColor accentLight;
    QColor success;
    QColor warning;
    QColor danger;         // danger or error
};

// Owner of the program's look: colour preset, accent, interface font and the
// global style sheet built from them. Widgets read their colours from
// ThemeManager::instance() and restyle on themeChanged().
class ThemeManager : public QObject
{
    Q_OBJECT
public:
    enum Preset {
        Dark = 0,
        DeepBlack = 1,
        LightBlue = 2,
        Green = 3,
        Red = 4,
        Purple = 5,
        LightClassic = 6,
        Slate = 7,
        NavyOrange = 8,
    };
    Q_ENUM(Preset)

    // The one manager of the process, created on first use as a child of the
    // application object (GUI thread only).
    static ThemeManager* instance();

    // The program uses instance(); a free-standing manager (reading the
    // settings like the shared one) is meant for tests.
    explicit ThemeManager(QObject* parent = nullptr);

    const ThemeColors& colors() const { return m_colors; }
    Preset preset() const { return m_preset; }
    QString presetName() const { return m_presetName; }
    QString fontFamily() const { return m_fontFamily; }
    int fontPx() const { return m_fontPx; }
    QString styleSheet() const { return m_styleSheet; }

    static ThemeColors colorsForPreset(Preset p);

    // Makes p current: colours, style sheet (applied by a posted call),
    // "appearance/theme" and "appearance/preset", then themeChanged().
    void applyPreset(Preset p);
    // Same by stored name ("dark", "navyorange", ...; case does not matter).
    // An unknown name changes nothing.
    void applyPresetByName(const QString& name);
    // Replaces accent, pressed accent (darker 160) and light accent (lighter 130).
    void setAccent(const QColor& c);
    // Same as setAccent(c); the second colour has no effect.
    void setAccentColor(const QColor& c, const QColor& second = QColor());
    // A non-empty family and a size above 0 replace the current ones.
    void setFont(const QString& family, int px);
    void setFontSize(int px);
    // Stores p and copies its colours; no style sheet, no signal, no settings.
    void buildColors(Preset p);

    static const QColor kVibrantPalette[16];
    // Palette entry i & 15 (negative values wrap).
    static QColor vibrantColor(int i);
    // Walks the palette, one entry per call, for the whole process.
    static QColor nextVibrantColor();

    // The relative luminance of a colour, 0 (black) to 1 (white), alpha not counted.
    static double relativeLuminance(const QColor& c);
    // The contrast ratio of two colours by their relative luminance, 1 to 21
    // (alpha is not counted).
    static double contrast(const QColor& a, const QColor& b);
    // ink when it reads on every ground at minRatio or more; else ink moved
    // towards black or white (whichever the grounds allow) just far enough
    // to read, so a muted text stays muted but never unreadable.
    static QColor readableOn(const QColor& ink, std::initializer_list<QColor> grounds, double minRatio = 4.5);
    // The opaque colour fill shows when drawn over ground at fill's alpha: the
    // ground a text meets under a translucent wash.
    static QColor blended(const QColor& fill, const QColor& ground);

    // Rebuilds the global style-sheet text from the current state; applies nothing.
    void buildStylesheet();
    // Puts the current text on the application at the next turn of the event
    // loop. Changes made before that turn share one call, which applies the
    // text current when it runs.
    void applyStylesheetSafely();
    // Style sheet that turns one QCheckBox into a drawn on/off switch.
    QString modernToggleQss() const;

signals:
    void themeChanged();

private:
    static ThemeManager* s_instance;

    void applyPostedStylesheet();

    ThemeColors m_colors;
    QString m_presetName = QStringLiteral("dark");
    Preset m_preset = Dark;
    QString m_fontFamily = QStringLiteral("Segoe UI, system-ui, -apple-system, sans-serif");
    int m_fontPx = 12;
    QString m_styleSheet;
    bool m_sheetPosted = false;     // a call to apply the text is on its way
    bool m_sheetApplying = false;   // the application is taking a text in now
};
