#include "AppSettings.h"
#include "TestSupport.h"
#include "ThemeManager.h"
#include "VXIcons.h"

#include <QGuiApplication>
#include <QScreen>
#include <QtTest>

namespace {

const QString kCross = QStringLiteral("<line x1='18' y1='6' x2='6' y2='18'/><line x1='6' y1='6' x2='18' y2='18'/>");

int countExact(const QImage& img, const QColor& c)
{
    int n = 0;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            if (img.pixelColor(x, y) == c)
                ++n;
    return n;
}

bool allTransparent(const QImage& img)
{
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            if (img.pixelColor(x, y).alpha() != 0)
                return false;
    return true;
}

} // namespace

class TestVXIcons : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        TestSupport::isolateSettings();
    }

    void scaling_data()
    {
        QTest::addColumn<int>("px");
        QTest::addColumn<double>("dpi");
        QTest::addColumn<int>("expected");
        QTest::newRow("96 dpi") << 24 << 96.0 << 24;
        QTest::newRow("240 dpi doubles") << 24 << 240.0 << 48;
        QTest::newRow("192 dpi exactly 2") << 24 << 192.0 << 48;
        QTest::newRow("48 dpi floor") << 24 << 48.0 << 18;
        QTest::newRow("120 dpi half up") << 10 << 120.0 << 13;
        QTest::newRow("48 dpi half up") << 10 << 48.0 << 8;
        QTest::newRow("negative away from zero") << -10 << 120.0 << -13;
        QTest::newRow("72 dpi is the floor") << 10 << 72.0 << 8;
    }
    void scaling()
    {
        QFETCH(int, px);
        QFETCH(double, dpi);
        QFETCH(int, expected);
        QCOMPARE(scForDpi(px, dpi), expected);
    }
    void scOnThisScreen()
    {
        QScreen* s = QGuiApplication::primaryScreen();
        QVERIFY(s);
        QCOMPARE(sc(24), scForDpi(24, s->logicalDotsPerInch()));
    }

    void svgTexts()
    {
        QVERIFY(VXIcons::strokeSvg(kCross, 2).contains("stroke-width='2'"));
        QVERIFY(VXIcons::strokeSvg(kCross, 1.5).contains("stroke-width='1.5'"));
        QVERIFY(VXIcons::strokeSvg(kCross, 2.4).contains("stroke-width='2.4'"));
        const QString s = VXIcons::strokeSvg(kCross, 1.8);
        QVERIFY(s.startsWith("<svg xmlns='http://www.w3.org/2000/svg' viewBox='0 0 24 24' fill='none' "
                             "stroke='currentColor' stroke-width='1.8' stroke-linecap='round' stroke-linejoin='round'>"));
        QVERIFY(s.endsWith(kCross + "</svg>"));
        QVERIFY(VXIcons::ic_play().contains("fill='currentColor' stroke='none'"));
    }

    void tinting()
    {
        const QColor red(0xE3, 0x1B, 0x23);
        const QIcon icon = VXIcons::modern(VXIcons::strokeSvg(kCross, 2.4), red, 16);
        QCOMPARE(icon.availableSizes(), QList<QSize>{QSize(16, 16)});
        const QImage img = icon.pixmap(16, 16).toImage();
        QCOMPARE(img.size(), QSize(16, 16));
        QCOMPARE(img.pixelColor(0, 15).alpha(), 0);       // background stays transparent
        QCOMPARE(img.pixelColor(15, 8).alpha(), 0);
        QVERIFY(countExact(img, red) >= 4);               // the strokes carry the colour

        // Alpha is not carried into the drawing.
        QColor half(0, 0x80, 0xFF, 128);
        const QImage filled = VXIcons::modernPixmap(VXIcons::ic_play(), half, 24).toImage();
        half.setAlpha(255);
        QVERIFY(countExact(filled, half) > 50);

        // A non-square request stretches the view box.
        const QPixmap wide = VXIcons::svgIconRawColored(VXIcons::ic_play(), red, 40, 20).pixmap(40, 20);
        QCOMPARE(wide.size(), QSize(40, 20));
    }

    void base64Drawings()
    {
        const QByteArray doc = "<svg xmlns='http://www.w3.org/2000/svg' viewBox='0 0 10 10'>"
                               "<rect x='0' y='0' width='5' height='10' fill='currentColor'/>"
                               "<rect x='5' y='0' width='5' height='10' fill='#00ff00'/></svg>";
        const QByteArray b64 = doc.toBase64();
        const QImage tinted = VXIcons::svgIconColored(b64.constData(), QColor(0, 0, 255), 20, 20).pixmap(20, 20).toImage();
        QCOMPARE(tinted.pixelColor(3, 10), QColor(0, 0, 255));
        QCOMPARE(tinted.pixelColor(16, 10), QColor(0, 255, 0));   // own colours kept
        const QImage raw = VXIcons::svgIcon(b64.constData(), 20, 20).pixmap(20, 20).toImage();
        QCOMPARE(raw.pixelColor(16, 10), QColor(0, 255, 0));
        QVERIFY(raw.pixelColor(3, 10) != QColor(0, 0, 255));
    }

    void unreadableDrawings()
    {
        const QPixmap bad = VXIcons::modernPixmap(QStringLiteral("<svg><path d='oops"), Qt::red, 18);
        QCOMPARE(bad.size(), QSize(18, 18));
        QVERIFY(allTransparent(bad.toImage()));
        const QIcon junk = VXIcons::svgIconColored("!!!not base64@@@", Qt::red, 12, 12);
        QVERIFY(allTransparent(junk.pixmap(12, 12).toImage()));
        QVERIFY(allTransparent(VXIcons::svgIcon(nullptr, 8, 8).pixmap(8, 8).toImage()));
    }

    void menuStyle()
    {
        ThemeManager* tm = ThemeManager::instance();
        tm->applyPreset(ThemeManager::Green);
        const ThemeColors& c = tm->colors();
        const QString ss = vxMenuSS();
        QVERIFY(!ss.contains('%'));
        QVERIFY(ss.startsWith("QMenu{background:" + c.surface.name() + ";border:1px solid " + c.border.name()));
        QVERIFY(ss.contains("QMenu::item{padding:6px 20px;color:" + c.textSecondary.name()));
        QVERIFY(ss.contains("QMenu::item:selected{background:" + c.surfaceAlt.name() + ";color:" + c.text.name()));
        QVERIFY(ss.contains("QMenu::item:pressed{background:" + c.border.name()));
        QVERIFY(ss.contains("QMenu::separator{background:" + c.border.name()));
        QVERIFY(ss.endsWith("QMenu::item:disabled{color:" + c.textMuted.name() + ";}"));

        tm->applyPreset(ThemeManager::LightBlue);
        QVERIFY(vxMenuSS().contains(QColor("#FFFFFF").name()));
        QVERIFY(!vxMenuSS().contains(ThemeManager::colorsForPreset(ThemeManager::Green).surface.name()));
    }
};

QTEST_MAIN(TestVXIcons)
#include "tst_vxicons.moc"
