#include "AppSettings.h"
#include "StyleSheetTemplate.h"
#include "TestSupport.h"
#include "ThemeManager.h"

#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QPushButton>
#include <QRegularExpression>
#include <QSvgRenderer>
#include <QtTest>

namespace {

// Every declaration of the rule whose selector list is exactly `selector`.
QString ruleBody(const QString& sheet, const QString& selector)
{
    // Strip comments first: they repeat the markers.
    QString s = sheet;
    s.remove(QRegularExpression(QStringLiteral("/\\*.*?\\*/"), QRegularExpression::DotMatchesEverythingOption));
    const QRegularExpression rule(QStringLiteral("([^{}]+)\\{([^{}]*)\\}"));
    QString body;
    for (auto it = rule.globalMatch(s); it.hasNext();) {
        const auto m = it.next();
        if (m.captured(1).simplified() == selector)
            body += m.captured(2);
    }
    return body;
}

// The value of one property inside a rule body ("" when absent).
QString prop(const QString& body, const QString& name)
{
    const QRegularExpression re(QStringLiteral("(?:^|[;\\s])") + QRegularExpression::escape(name)
                                + QStringLiteral("\\s*:\\s*([^;]+);"));
    const auto m = re.match(body);
    return m.hasMatch() ? m.captured(1).trimmed() : QString();
}

QStringList imagePaths(const QString& sheet)
{
    QStringList out;
    const QRegularExpression re(QStringLiteral("url\\(\"([^\"]+)\"\\)"));
    for (auto it = re.globalMatch(sheet); it.hasNext();)
        out << it.next().captured(1);
    return out;
}

int countNear(const QImage& img, const QColor& c, int tol)
{
    int n = 0;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x) {
            const QColor p = img.pixelColor(x, y);
            if (qAbs(p.red() - c.red()) <= tol && qAbs(p.green() - c.green()) <= tol
                && qAbs(p.blue() - c.blue()) <= tol && p.alpha() > 200)
                ++n;
        }
    return n;
}

} // namespace

class TestStyleSheet : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        TestSupport::isolateSettings();
    }

    void templateUsesOnlyKnownMarkers()
    {
        const QString t = QString::fromUtf8(StyleSheetTemplate::kTemplate);
        QSet<int> numbers;
        const QRegularExpression num(QStringLiteral("%(\\d+)"));
        for (auto it = num.globalMatch(t); it.hasNext();)
            numbers << it.next().captured(1).toInt();
        const QSet<int> known = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 16};
        QVERIFY(numbers.subtract(known).isEmpty());
        const QRegularExpression named(QStringLiteral("%([A-Z]+)%"));
        const QSet<QString> knownNames = {"FONT", "ACCA", "ERRORA", "ERRORB", "DANGERINK", "THUMBN", "THUMBH",
                                          "THUMBP", "TRACKBG", "ARROWHOVER", "SCARU", "SCARD", "SCARL", "SCARR",
                                          "SBARU", "SBARD", "SBCHECK"};
        QSet<QString> used;
        for (auto it = named.globalMatch(t); it.hasNext();)
            used << it.next().captured(1);
        QCOMPARE(used, knownNames);
    }

    void everyPreset_data()
    {
        QTest::addColumn<int>("preset");
        for (int p = 0; p < 9; ++p)
            QTest::newRow(qPrintable(QStringLiteral("preset %1").arg(p))) << p;
    }

    void everyPreset()
    {
        QFETCH(int, preset);
        const ThemeColors c = ThemeManager::colorsForPreset(ThemeManager::Preset(preset));
        const QString sheet = StyleSheetTemplate::fill(c, QStringLiteral("Segoe UI, sans-serif"), 13);

        // No marker survives anywhere, comments included.
        QVERIFY2(!sheet.contains(QRegularExpression(QStringLiteral("%\\d"))), "numbered marker left");
        QVERIFY2(!sheet.contains(QRegularExpression(QStringLiteral("%[A-Z]+%"))), "named marker left");
        QVERIFY(!sheet.contains(QStringLiteral("%")));

        // The roles land where the template puts them.
        const QString widget = ruleBody(sheet, "QWidget");
        QCOMPARE(prop(widget, "font-family"), QStringLiteral("Segoe UI, sans-serif"));
        QCOMPARE(prop(widget, "font-size"), QStringLiteral("13px"));
        QCOMPARE(prop(widget, "color"), c.text.name());
        QCOMPARE(prop(widget, "selection-background-color"), StyleSheetTemplate::rgba(c.accent, 50));
        QCOMPARE(prop(ruleBody(sheet, "QMainWindow"), "background"), c.bg.name());
        QCOMPARE(prop(ruleBody(sheet, "QDialog"), "border"), "1px solid " + c.border.name());
        QCOMPARE(prop(ruleBody(sheet, "QMenu"), "background"), c.surfaceHover.name());
        const QString button = ruleBody(sheet, "QPushButton");
        QCOMPARE(prop(button, "background"), c.surfaceAlt.name());
        QCOMPARE(prop(button, "color"), c.textSecondary.name());
        QCOMPARE(prop(ruleBody(sheet, "QPushButton:hover"), "border-color"), c.borderStrong.name());
        QCOMPARE(prop(ruleBody(sheet, "QPushButton:focus"), "border-color"), c.accent.name());
        QCOMPARE(prop(ruleBody(sheet, "QPushButton:pressed"), "background"), c.surface.name());
        QCOMPARE(prop(ruleBody(sheet, "QPushButton:disabled"), "color"), c.textDisabled.name());
        QCOMPARE(prop(ruleBody(sheet, "QPushButton:checked"), "background"), StyleSheetTemplate::rgba(c.accent, 50));
        QCOMPARE(prop(ruleBody(sheet, "QPushButton#primaryBtn"), "border"), "1px solid " + c.accentPressed.name());
        QVERIFY(prop(ruleBody(sheet, "QPushButton#primaryBtn"), "background").contains("stop:0 " + c.accentLight.name()));
        // Muted text is the preset's own where it reads on every ground of the
        // sheet, else moved just far enough to read (Dark, DeepBlack, Slate).
        const QColor muted(prop(ruleBody(sheet, "QWidget#statusBar QLabel"), "color"));
        for (const QColor& ground : {c.bg, c.surface, c.surfaceAlt})
            QVERIFY2(ThemeManager::contrast(muted, ground) >= 4.5, qPrintable(muted.name() + " on " + ground.name()));
        if (ThemeManager::contrast(c.textMuted, c.surface) >= 4.5 && ThemeManager::contrast(c.textMuted, c.bg) >= 4.5
            && ThemeManager::contrast(c.textMuted, c.surfaceAlt) >= 4.5)
            QCOMPARE(muted, c.textMuted);
        else
            QVERIFY(ThemeManager::contrast(muted, c.textMuted) < 2.0); // still a muted grey, not the text colour
        QCOMPARE(prop(ruleBody(sheet, "QWidget#gridArea"), "background"), c.bg.name());

        // The danger colour is bound to %16 although there is no %15. Its
        // text is the danger colour where that reads on every ground of the
        // sheet, else moved just far enough to read.
        const QString danger = ruleBody(sheet, "QPushButton#dangerBtn");
        const QColor dangerInk(prop(danger, "color"));
        for (const QColor& ground : {c.bg, c.surface, c.surfaceAlt})
            QVERIFY2(ThemeManager::contrast(dangerInk, ground) >= 4.5,
                     qPrintable(dangerInk.name() + " on " + ground.name()));
        QVERIFY(ThemeManager::contrast(dangerInk, c.danger) < 2.0);   // still the danger colour's
        QCOMPARE(prop(danger, "border"), "1px solid " + c.danger.name());
        QCOMPARE(prop(ruleBody(sheet, "QPushButton#dangerBtn:hover"), "background"),
                 StyleSheetTemplate::rgba(c.danger, 38));
        QCOMPARE(prop(ruleBody(sheet, "QPushButton#dangerBtn:pressed"), "background"),
                 StyleSheetTemplate::rgba(c.danger, 77));
        QCOMPARE(prop(ruleBody(sheet, "QScrollBar::handle:vertical"), "background"),
                 StyleSheetTemplate::rgba(c.textSecondary, 150));
        QCOMPARE(prop(ruleBody(sheet, "QScrollBar:vertical"), "background"),
                 StyleSheetTemplate::rgba(c.textSecondary, 22));

        // Every image the sheet names can be loaded by Qt's style sheets.
        const QStringList images = imagePaths(sheet);
        QCOMPARE(QSet<QString>(images.begin(), images.end()).size(), 7);   // four scroll arrows, two spin arrows, tick
        for (const QString& path : images) {
            QVERIFY2(!path.startsWith("data:"), qPrintable(path));
            QVERIFY2(!QPixmap(path).isNull(), qPrintable(path));
        }
    }

    void translucentValues()
    {
        const ThemeColors red = ThemeManager::colorsForPreset(ThemeManager::Red);
        const QString sheet = StyleSheetTemplate::fill(red, "x", 12);
        QCOMPARE(prop(ruleBody(sheet, "QPushButton:checked"), "background"), QStringLiteral("rgba(239,68,68,0.20)"));
        QCOMPARE(prop(ruleBody(sheet, "QPushButton#dangerBtn:hover"), "background"),
                 QStringLiteral("rgba(239,68,68,0.15)"));
        const QColor g(10, 20, 30);
        QCOMPARE(StyleSheetTemplate::rgba(g, 77), QStringLiteral("rgba(10,20,30,0.30)"));
        QCOMPARE(StyleSheetTemplate::rgba(g, 150), QStringLiteral("rgba(10,20,30,0.59)"));
        QCOMPARE(StyleSheetTemplate::rgba(g, 205), QStringLiteral("rgba(10,20,30,0.80)"));
        QCOMPARE(StyleSheetTemplate::rgba(g, 240), QStringLiteral("rgba(10,20,30,0.94)"));
        QCOMPARE(StyleSheetTemplate::rgba(g, 22), QStringLiteral("rgba(10,20,30,0.09)"));
        QCOMPARE(StyleSheetTemplate::rgba(g, 60), QStringLiteral("rgba(10,20,30,0.24)"));
    }

    void markersBoundToTheirOwnValue()
    {
        ThemeColors c = ThemeManager::colorsForPreset(ThemeManager::Dark);
        // A value that looks like a marker is inserted as it is, never filled again;
        // %1 is never read as the start of %12.
        const QString out = StyleSheetTemplate::fillText(
            QStringLiteral("a{font-family:%FONT%;x:%1px;y:%12;z:%16;w:%15;v:%NOPE%;u:100%;}"), c,
            QStringLiteral("Weird %2 %ACCA% Font"), 11);
        QCOMPARE(out, QStringLiteral("a{font-family:Weird %2 %ACCA% Font;x:11px;y:#e31b23;z:#e31b23;w:%15;"
                                     "v:%NOPE%;u:100%;}"));
        c.danger = QColor("#123456");
        QVERIFY(StyleSheetTemplate::fillText("%16%14", c, "f", 1) == "#123456" + c.accentLight.name());
    }

    void darkDefaults()
    {
        const QString sheet = StyleSheetTemplate::fill(ThemeManager::colorsForPreset(ThemeManager::Dark),
                                                       QStringLiteral("Segoe UI, system-ui, -apple-system, sans-serif"), 12);
        QVERIFY(sheet.contains(QStringLiteral("font-size: 12px;")));
        QCOMPARE(prop(ruleBody(sheet, "QPushButton#dangerBtn"), "border"), QStringLiteral("1px solid #e31b23"));
    }

    // The sheet, applied to real widgets, paints with the preset's colours.
    void appliedToWidgets()
    {
        const ThemeColors c = ThemeManager::colorsForPreset(ThemeManager::Slate);
        qApp->setStyleSheet(StyleSheetTemplate::fill(c, "DejaVu Sans", 12));
        QPushButton danger(QStringLiteral("DELETE EVERYTHING"));
        danger.setObjectName(QStringLiteral("dangerBtn"));
        danger.resize(200, 40);
        QVERIFY(countNear(danger.grab().toImage(), c.danger, 16) > 20);

        QCheckBox box(QStringLiteral("x"));
        box.setChecked(true);
        box.resize(60, 30);
        const QImage boxImg = box.grab().toImage();
        QVERIFY(countNear(boxImg, c.accent, 16) > 20);
        QVERIFY2(countNear(boxImg, Qt::white, 40) > 3, "the tick image is drawn");
        qApp->setStyleSheet(QString());
    }

    void toggleSwitch()
    {
        ThemeManager tm;
        tm.applyPreset(ThemeManager::NavyOrange);
        const ThemeColors& c = tm.colors();
        const QString qss = tm.modernToggleQss();
        QVERIFY(qss.startsWith("QCheckBox{color:" + c.text.name() + ";spacing:12px;font-size:12px;"));
        const QStringList images = imagePaths(qss);
        QCOMPARE(images.size(), 4);
        QStringList svgs;
        for (const QString& path : images) {
            QFile f(path);
            QVERIFY(f.open(QIODevice::ReadOnly));
            svgs << QString::fromUtf8(f.readAll());
            QVERIFY(QSvgRenderer(svgs.last().toUtf8()).isValid());
        }
        QVERIFY(svgs[0].contains("#3a3a40") && svgs[0].contains("cx='14'"));
        QVERIFY(svgs[1].contains("#46464e"));
        QVERIFY(svgs[2].contains(c.accent.name()) && svgs[2].contains(c.accentPressed.name())
                && svgs[2].contains("cx='38'"));
        QVERIFY(svgs[3].contains(c.accent.lighter(112).name()));
        QVERIFY(!svgs[0].contains("radialGradient") && svgs[2].contains("radialGradient"));

        QCheckBox sw(QStringLiteral("Auto save"));
        sw.setStyleSheet(qss);
        sw.resize(160, 32);
        QCOMPARE(countNear(sw.grab().toImage(), c.accent, 20), 0);
        sw.setChecked(true);
        QVERIFY2(countNear(sw.grab().toImage(), c.accent, 20) > 30, "the 'on' switch is drawn in the accent");
        qApp->setStyleSheet(QString());
    }
};

QTEST_MAIN(TestStyleSheet)
#include "tst_stylesheet.moc"
