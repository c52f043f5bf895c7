#include "AppSettings.h"
#include "TestSupport.h"
#include "ThemeManager.h"

#include <QApplication>
#include <QMetaEnum>
#include <QSignalSpy>
#include <QWidget>
#include <QtTest>

namespace {

const QColor roleAt(const ThemeColors& c, int i)
{
    const QColor roles[16] = {c.bg, c.surface, c.surfaceAlt, c.surfaceHover, c.border, c.borderStrong,
                              c.text, c.textSecondary, c.textMuted, c.textDisabled, c.accent,
                              c.accentPressed, c.accentLight, c.success, c.warning, c.danger};
    return roles[i];
}

// Counts the style changes a widget is sent.
struct StyleChangeCounter : QObject
{
    int count = 0;
    bool eventFilter(QObject*, QEvent* e) override
    {
        if (e->type() == QEvent::StyleChange)
            ++count;
        return false;
    }
};

void clearSettings()
{
    AppSettings s;
    s.clear();
    s.sync();
}

} // namespace

class TestThemeManager : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        TestSupport::isolateSettings();
    }
    void init() { clearSettings(); }

    void presetTable()
    {
        const QMetaEnum me = QMetaEnum::fromType<ThemeManager::Preset>();
        QCOMPARE(me.keyCount(), 9);
        QCOMPARE(me.keyToValue("NavyOrange"), 8);
        QCOMPARE(me.keyToValue("DeepBlack"), 1);

        for (int p = 0; p < 9; ++p) {
            const ThemeColors c = ThemeManager::colorsForPreset(ThemeManager::Preset(p));
            for (int r = 0; r < 16; ++r) {
                QVERIFY2(roleAt(c, r).isValid(), qPrintable(QStringLiteral("preset %1 role %2").arg(p).arg(r)));
                QCOMPARE(roleAt(c, r).alpha(), 255);
            }
            const bool light = p == ThemeManager::LightBlue || p == ThemeManager::LightClassic;
            QCOMPARE(c.text.lightness() < c.bg.lightness(), light);
        }
        // Role order: the last roles are success, warning, danger.
        const ThemeColors slate = ThemeManager::colorsForPreset(ThemeManager::Slate);
        QCOMPARE(slate.success, QColor("#10B981"));
        QCOMPARE(slate.warning, QColor("#F59E0B"));
        QCOMPARE(slate.danger, QColor("#F43F5E"));
        QCOMPARE(slate.accentLight, QColor("#818CF8"));
        const ThemeColors navy = ThemeManager::colorsForPreset(ThemeManager::NavyOrange);
        QCOMPARE(navy.bg, QColor("#0B1220"));
        QCOMPARE(navy.accent, QColor("#F97316"));
        for (auto p : {ThemeManager::Dark, ThemeManager::Red, ThemeManager::LightClassic}) {
            const ThemeColors c = ThemeManager::colorsForPreset(p);
            QCOMPARE(c.danger, c.accent);
        }
    }

    void constructorReadsSettings_data()
    {
        QTest::addColumn<QVariant>("theme");
        QTest::addColumn<QVariant>("preset");
        QTest::addColumn<QVariant>("accent");
        QTest::addColumn<QVariant>("font");
        QTest::addColumn<QVariant>("px");
        QTest::addColumn<int>("expPreset");
        QTest::addColumn<QString>("expName");
        QTest::addColumn<QString>("expFont");
        QTest::addColumn<int>("expPx");

        const QVariant none;
        const QString defFont = QStringLiteral("Segoe UI, system-ui, -apple-system, sans-serif");
        QTest::newRow("nothing stored") << none << none << none << none << none << 0 << "dark" << defFont << 12;
        QTest::newRow("theme only") << QVariant("slate") << none << none << none << none << 7 << "slate" << defFont
                                    << 12;
        QTest::newRow("preset wins") << QVariant("slate") << QVariant("green") << none << none << none << 3
                                     << "green" << defFont << 12;
        QTest::newRow("mixed case") << none << QVariant("NavyOrange") << none << none << none << 8 << "navyorange"
                                    << defFont << 12;
        QTest::newRow("default") << none << QVariant("default") << none << none << none << 0 << "dark" << defFont
                                 << 12;
        QTest::newRow("unknown") << none << QVariant("neon") << none << none << none << 0 << "dark" << defFont << 12;
        QTest::newRow("empty") << none << QVariant("") << none << none << none << 0 << "dark" << defFont << 12;
        QTest::newRow("font") << none << QVariant("red") << none << QVariant("Inter, sans") << QVariant(15) << 4
                              << "red" << "Inter, sans" << 15;
        QTest::newRow("bad size") << none << none << none << QVariant("") << QVariant(-3) << 0 << "dark" << defFont
                                  << 12;
    }

    void constructorReadsSettings()
    {
        QFETCH(QVariant, theme);
        QFETCH(QVariant, preset);
        QFETCH(QVariant, accent);
        QFETCH(QVariant, font);
        QFETCH(QVariant, px);
        QFETCH(int, expPreset);
        QFETCH(QString, expName);
        QFETCH(QString, expFont);
        QFETCH(int, expPx);
        {
            AppSettings s;
            if (theme.isValid())
                s.setValue("appearance/theme", theme);
            if (preset.isValid())
                s.setValue("appearance/preset", preset);
            if (accent.isValid())
                s.setValue("appearance/accent", accent);
            if (font.isValid())
                s.setValue("appearance/font", font);
            if (px.isValid())
                s.setValue("appearance/fontPx", px);
        }
        const QString appSheetBefore = qApp->styleSheet();
        ThemeManager tm;
        QSignalSpy spy(&tm, &ThemeManager::themeChanged);
        QCOMPARE(int(tm.preset()), expPreset);
        QCOMPARE(tm.presetName(), expName);
        QCOMPARE(tm.fontFamily(), expFont);
        QCOMPARE(tm.fontPx(), expPx);
        QCOMPARE(tm.colors().bg, ThemeManager::colorsForPreset(ThemeManager::Preset(expPreset)).bg);
        // Built, but neither applied nor announced.
        QVERIFY(!tm.styleSheet().isEmpty());
        QCoreApplication::processEvents();
        QCOMPARE(qApp->styleSheet(), appSheetBefore);
        QCOMPARE(spy.count(), 0);
    }

    void storedAccent()
    {
        {
            AppSettings s;
            s.setValue("appearance/preset", "slate");
            s.setValue("appearance/accent", "#00aa55");
        }
        ThemeManager tm;
        const QColor a("#00aa55");
        QCOMPARE(tm.colors().accent, a);
        QCOMPARE(tm.colors().accentPressed, a.darker(160));
        QCOMPARE(tm.colors().accentLight, a.lighter(130));
        QCOMPARE(tm.colors().danger, QColor("#F43F5E"));

        // The preset brings its own accent back.
        tm.applyPreset(ThemeManager::Dark);
        QCOMPARE(tm.colors().accent, QColor("#E31B23"));
        QCOMPARE(tm.colors().accentPressed, QColor("#9F1219"));
        QCOMPARE(tm.colors().accentLight, QColor("#FB4049"));

        clearSettings();
        {
            AppSettings s;
            s.setValue("appearance/accent", "not a colour");
        }
        ThemeManager bad;
        QCOMPARE(bad.colors().accent, QColor("#E31B23"));
    }

    void applyPresetWritesAndAnnounces()
    {
        ThemeManager tm;
        QSignalSpy spy(&tm, &ThemeManager::themeChanged);
        QString nameSeenBySlot;
        connect(&tm, &ThemeManager::themeChanged, this, [&]() {
            nameSeenBySlot = AppSettings().value("appearance/preset").toString();
        });
        tm.applyPreset(ThemeManager::LightClassic);
        QCOMPARE(spy.count(), 1);
        QCOMPARE(nameSeenBySlot, QStringLiteral("lightclassic"));   // written before the signal
        AppSettings s;
        QCOMPARE(s.value("appearance/theme").toString(), QStringLiteral("lightclassic"));
        QCOMPARE(s.value("appearance/preset").toString(), QStringLiteral("lightclassic"));
        QCOMPARE(tm.presetName(), QStringLiteral("lightclassic"));
        QCOMPARE(tm.colors().text, QColor("#1A1614"));
    }

    // Changes made before the next turn of the event loop share one posted
    // call: the application takes the newest text once, every widget is
    // restyled once, and nothing is set inside the calls themselves.
    void styleSheetIsPostedNotSet_data()
    {
        QTest::addColumn<QStringList>("changes");
        QTest::newRow("one preset") << QStringList{"green"};
        QTest::newRow("two presets") << QStringList{"green", "purple"};
        QTest::newRow("preset then accent") << QStringList{"slate", "accent"};
        QTest::newRow("preset, font and accent") << QStringList{"red", "font", "accent"};
        QTest::newRow("back to the text in place") << QStringList{"green", "dark"};
    }
    void styleSheetIsPostedNotSet()
    {
        QFETCH(QStringList, changes);
        qApp->setStyleSheet(QString());
        ThemeManager tm;
        QWidget probe;
        probe.ensurePolished();
        const QString before = tm.styleSheet();
        qApp->setStyleSheet(before);   // the dark text, as at start-up
        StyleChangeCounter restyled;
        probe.installEventFilter(&restyled);
        QStringList texts;
        for (const QString& change : changes) {
            if (change == QLatin1String("accent"))
                tm.setAccent(QColor("#10B981"));
            else if (change == QLatin1String("font"))
                tm.setFont(QStringLiteral("Inter"), 15);
            else
                tm.applyPresetByName(change);
            texts << tm.styleSheet();
        }
        // Nothing is set inside the calls ...
        QCOMPARE(restyled.count, 0);
        // ... one call at the next turn puts the last text on, once.
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
        QCOMPARE(qApp->styleSheet(), texts.last());
        QCOMPARE(restyled.count, texts.last() != before ? 1 : 0);
        qApp->setStyleSheet(QString());
    }

    void applyPresetByName()
    {
        ThemeManager tm;
        QSignalSpy spy(&tm, &ThemeManager::themeChanged);
        tm.applyPresetByName("Purple");
        QCOMPARE(tm.preset(), ThemeManager::Purple);
        QCOMPARE(spy.count(), 1);
        tm.applyPresetByName("default");
        tm.applyPresetByName("");
        tm.applyPresetByName("purple2");
        QCOMPARE(tm.preset(), ThemeManager::Purple);
        QCOMPARE(spy.count(), 1);
    }

    void setAccentTouchesOnlyAccentRoles()
    {
        ThemeManager tm;
        tm.applyPreset(ThemeManager::Red);
        const ThemeColors before = tm.colors();
        QSignalSpy spy(&tm, &ThemeManager::themeChanged);
        const QColor c(0x12, 0x34, 0xAB, 128);
        tm.setAccentColor(c, QColor(Qt::green));
        QCOMPARE(spy.count(), 1);
        QCOMPARE(tm.colors().accent, c);
        QCOMPARE(tm.colors().accentPressed, c.darker(160));
        QCOMPARE(tm.colors().accentLight, c.lighter(130));
        for (int r = 0; r < 16; ++r) {
            if (r >= 10 && r <= 12)
                continue;
            QCOMPARE(roleAt(tm.colors(), r), roleAt(before, r));
        }
        QCOMPARE(AppSettings().value("appearance/accent").toString(), QStringLiteral("#1234ab"));
        QVERIFY(tm.styleSheet().contains(QStringLiteral("#1234ab")));
    }

    void setFont()
    {
        ThemeManager tm;
        QSignalSpy spy(&tm, &ThemeManager::themeChanged);
        const QString sheetBefore = tm.styleSheet();
        tm.setFont(QString(), 0);
        QCOMPARE(spy.count(), 1);
        QCOMPARE(tm.fontPx(), 12);
        QCOMPARE(tm.styleSheet(), sheetBefore);
        {
            AppSettings s;
            QVERIFY(!s.contains("appearance/font"));
            QVERIFY(!s.contains("appearance/fontPx"));
        }

        tm.setFontSize(15);
        QCOMPARE(spy.count(), 2);
        QCOMPARE(tm.fontPx(), 15);
        QVERIFY(!AppSettings().contains("appearance/font"));
        QCOMPARE(AppSettings().value("appearance/fontPx").toInt(), 15);

        tm.setFont(QStringLiteral("DejaVu Sans, Noto Sans, sans-serif"), -1);
        QCOMPARE(spy.count(), 3);
        QCOMPARE(tm.fontPx(), 15);
        QCOMPARE(AppSettings().value("appearance/font").toString(), QStringLiteral("DejaVu Sans, Noto Sans, sans-serif"));
        QVERIFY(tm.styleSheet().contains(QStringLiteral("font-family: DejaVu Sans, Noto Sans, sans-serif;")));
        QVERIFY(tm.styleSheet().contains(QStringLiteral("font-size: 15px;")));
    }

    void buildColorsIsQuiet()
    {
        ThemeManager tm;
        QSignalSpy spy(&tm, &ThemeManager::themeChanged);
        const QString sheet = tm.styleSheet();
        tm.buildColors(ThemeManager::Slate);
        QCOMPARE(tm.preset(), ThemeManager::Slate);
        QCOMPARE(tm.colors().accent, QColor("#6366F1"));
        QCOMPARE(tm.styleSheet(), sheet);
        QCOMPARE(spy.count(), 0);
        QVERIFY(!AppSettings().contains("appearance/preset"));
    }

    void vibrantColours()
    {
        QCOMPARE(ThemeManager::vibrantColor(17), QColor("#F59E0B"));
        QCOMPARE(ThemeManager::vibrantColor(1), QColor("#F59E0B"));
        QCOMPARE(ThemeManager::vibrantColor(-1), QColor("#6366F1"));
        QCOMPARE(ThemeManager::vibrantColor(-16), QColor("#E53E3E"));
        QCOMPARE(ThemeManager::vibrantColor(INT_MIN), QColor("#E53E3E"));
        // The only caller of nextVibrantColor in this process: it starts at the first entry.
        QCOMPARE(ThemeManager::nextVibrantColor(), QColor("#E53E3E"));
        for (int i = 1; i < 16; ++i)
            QCOMPARE(ThemeManager::nextVibrantColor(), ThemeManager::vibrantColor(i));
        QCOMPARE(ThemeManager::nextVibrantColor(), QColor("#E53E3E"));
    }

    void sharedInstance()
    {
        ThemeManager* a = ThemeManager::instance();
        QCOMPARE(a, ThemeManager::instance());
        QCOMPARE(a->parent(), QCoreApplication::instance());
    }
};

QTEST_MAIN(TestThemeManager)
#include "tst_thememanager.moc"
