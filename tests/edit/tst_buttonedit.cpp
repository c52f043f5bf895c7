// The button edit form: what each editor writes into the working copy, the
// colour and image pickers answered through the modal seam, and the preview.
#include <QCheckBox>
#include <QColorDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRandomGenerator>
#include <QSpinBox>
#include <QThreadPool>
#include <QRegularExpression>
#include <QtTest>

#include "ButtonEditDialog.h"
#include "TestSupport.h"
#include "ThemeManager.h"

using TestSupport::ModalScript;

namespace {

ButtonData record()
{
    ButtonData b;
    b.id = QStringLiteral("id-1");
    b.name = QStringLiteral("Applause");
    b.audioPath = QStringLiteral("/sounds/crowd/applause.wav");
    b.key = QStringLiteral("A");
    b.trimStart = 1.5;
    b.volume = 0.7;
    return b;
}

template <typename T>
T* child(QDialog& d, const char* name)
{
    return d.findChild<T*>(QLatin1String(name));
}

QRgb rgbAt(const QPixmap& pm, int x, int y) { return pm.toImage().pixel(x, y) & 0xFFFFFF; }

QString writeFile(const QString& name, const QByteArray& bytes)
{
    const QString path = QDir(TestSupport::tempDir()).filePath(name);
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        return QString();
    return path;
}

} // namespace

class TstButtonEdit : public QObject
{
    Q_OBJECT

    const ThemeColors& colors() { return ThemeManager::instance()->colors(); }

private slots:
    void initTestCase()
    {
        TestSupport::isolateSettings();
        ThemeManager::instance()->applyPreset(ThemeManager::Dark);
    }

    void editorsWriteTheCopy()
    {
        ButtonEditDialog d(record());
        QCOMPARE(d.windowTitle(), QStringLiteral("Edit Button"));
        QCOMPARE(d.result(), record()); // nothing changes by opening

        auto* key = child<QLineEdit>(d, "keyEdit");
        key->clear();
        QTest::keyClicks(key, QStringLiteral("f1"));
        QCOMPARE(d.result().key, QStringLiteral("F1"));
        QCOMPARE(key->text(), QStringLiteral("f1")); // the editor keeps what was typed
        key->clear();
        QTest::keyClicks(key, QStringLiteral("abcde"));
        QCOMPARE(key->text(), QStringLiteral("abcd"));
        QCOMPARE(d.result().key, QStringLiteral("ABCD"));

        auto* name = child<QLineEdit>(d, "nameEdit");
        name->clear();
        QCOMPARE(d.result().name, QString());

        auto* font = child<QSpinBox>(d, "fontSizeSpin");
        QCOMPARE(font->text(), QStringLiteral("Auto"));
        font->setValue(72);
        QCOMPARE(d.result().fontSize, 72);
        font->setValue(99);
        QCOMPARE(d.result().fontSize, 72);

        child<QCheckBox>(d, "loopCheck")->setChecked(true);
        QVERIFY(d.result().loop);

        // Everything else of the record travels through untouched.
        const ButtonData r = d.result();
        QCOMPARE(r.id, QStringLiteral("id-1"));
        QCOMPARE(r.audioPath, record().audioPath);
        QCOMPARE(r.trimStart, 1.5);
        QCOMPARE(r.volume, 0.7);
        QCOMPARE(child<QLabel>(d, "audioFileLabel")->text(), QStringLiteral("🎵 applause.wav"));

        ButtonData empty;
        ButtonEditDialog d2(empty);
        QVERIFY(!child<QLabel>(d2, "audioFileLabel"));
        QCOMPARE(child<QPushButton>(d2, "imageBtn")->text(), QStringLiteral("Add Image…"));
    }

    void preview()
    {
        const QSize size = ButtonEditDialog::kPreviewSize;
        ButtonData b = record();
        b.name.clear();
        ButtonData named = b;
        named.name = QStringLiteral("(empty)");
        // An empty label previews as "(empty)".
        QCOMPARE(ButtonEditDialog::renderPreview(b, size).toImage(),
                 ButtonEditDialog::renderPreview(named, size).toImage());
        // Font size 0 (automatic) previews at 10 px.
        b.name = QStringLiteral("Applause");
        ButtonData ten = b;
        ten.fontSize = 10;
        QCOMPARE(ButtonEditDialog::renderPreview(b, size).toImage(), ButtonEditDialog::renderPreview(ten, size).toImage());
        ten.fontSize = 20;
        QVERIFY(ButtonEditDialog::renderPreview(b, size).toImage() != ButtonEditDialog::renderPreview(ten, size).toImage());
        // Neither the image nor the loop flag shows.
        ButtonData decorated = b;
        decorated.loop = true;
        decorated.img = QStringLiteral("aGVsbG8=");
        QCOMPARE(ButtonEditDialog::renderPreview(decorated, size).toImage(),
                 ButtonEditDialog::renderPreview(b, size).toImage());

        // The face: the button colour, else the theme's hover surface.
        QCOMPARE(rgbAt(ButtonEditDialog::renderPreview(b, size), 8, 70), colors().surfaceHover.rgb() & 0xFFFFFF);
        b.bgColor = QColor(200, 10, 10);
        QCOMPARE(rgbAt(ButtonEditDialog::renderPreview(b, size), 8, 70), QColor(200, 10, 10).rgb() & 0xFFFFFF);

        // The dialog shows the same picture and redraws on every edit.
        ButtonEditDialog d(record());
        auto* label = child<QLabel>(d, "buttonPreview");
        QCOMPARE(label->size(), size);
        QCOMPARE(label->pixmap().toImage(), ButtonEditDialog::renderPreview(record(), size).toImage());
        child<QLineEdit>(d, "nameEdit")->setText(QStringLiteral("Cheer"));
        QCOMPARE(label->pixmap().toImage(), ButtonEditDialog::renderPreview(d.result(), size).toImage());
        QVERIFY(label->pixmap().toImage() != ButtonEditDialog::renderPreview(record(), size).toImage());
    }

    void backgroundColour()
    {
        ButtonEditDialog d(record());
        auto* btn = child<QPushButton>(d, "bgColorBtn");
        // Unset: labelled with the fallback, while the record stays unset.
        QCOMPARE(btn->text(), colors().surfaceHover.name());
        QVERIFY(!d.result().bgColor.isValid());

        QColorDialog* seen = nullptr;
        QColor initial;
        bool alpha = false;
        QString title;
        const QColor chosen(10, 20, 30, 128);
        int answer = QDialog::Accepted;
        ModalScript script([&](const Modal::Request& r) -> QVariant {
            if (r.kind != Modal::Kind::Dialog)
                return QVariant();
            seen = qobject_cast<QColorDialog*>(r.dialog);
            if (!seen)
                return QVariant();
            initial = seen->currentColor();
            alpha = seen->testOption(QColorDialog::ShowAlphaChannel);
            title = r.title;
            seen->setCurrentColor(chosen);
            return answer;
        });
        btn->click();
        QVERIFY(seen);
        QCOMPARE(initial, colors().surfaceHover);
        QVERIFY(alpha);
        QCOMPARE(title, QStringLiteral("Button Color"));
        QCOMPARE(d.result().bgColor, chosen);
        QCOMPARE(d.result().bgColor.alpha(), 128);
        QCOMPARE(btn->text(), QStringLiteral("#0a141e"));
        QVERIFY(btn->styleSheet().contains(QStringLiteral("color:#ffffff;")));

        // Cancel changes nothing; the next pick starts from the stored colour.
        answer = QDialog::Rejected;
        btn->click();
        QCOMPARE(initial, chosen);
        QCOMPARE(d.result().bgColor, chosen);
    }

    // A text colour the user never chose (none, or the one stored with an
    // automatic background) follows a new background: the record keeps none,
    // so the pad draws the contrast colour of the new background, and the
    // preview shows it. A chosen one stays.
    void textFollowsNewBackground_data()
    {
        QTest::addColumn<QColor>("bg");
        QTest::addColumn<QColor>("text");
        QTest::addColumn<bool>("pickTextFirst");
        QTest::addColumn<QColor>("newBg");
        QTest::addColumn<QColor>("expected");
        const QColor navy("#0D1B4A"), pale("#FFF59D"), none;
        QTest::newRow("automatic dark text on amber, then navy")
            << QColor("#F59E0B") << QColor("#111111") << false << navy << none;
        QTest::newRow("automatic white text on red, then pale yellow")
            << QColor("#E53E3E") << QColor("#FFFFFF") << false << pale << none;
        QTest::newRow("no colours, then navy") << none << none << false << navy << none;
        QTest::newRow("stored yellow text, no background") << none << QColor("#ffeb3b") << false << navy
                                                           << QColor("#ffeb3b");
        QTest::newRow("stored text unlike the automatic one")
            << QColor("#F59E0B") << QColor("#202020") << false << navy << QColor("#202020");
        QTest::newRow("text picked here first") << QColor("#F59E0B") << QColor("#111111") << true << navy
                                                << QColor("#111111");
        // Dark by its lightness, yet white does not read on it.
        QTest::newRow("automatic text, then bright green") << QColor("#F59E0B") << QColor("#111111") << false
                                                           << QColor("#00FF00") << none;
    }

    void textFollowsNewBackground()
    {
        QFETCH(QColor, bg);
        QFETCH(QColor, text);
        QFETCH(bool, pickTextFirst);
        QFETCH(QColor, newBg);
        QFETCH(QColor, expected);
        ButtonData b = record();
        b.bgColor = bg;
        b.textColor = text;
        ButtonEditDialog d(b);
        ModalScript script([&](const Modal::Request& r) -> QVariant {
            if (r.kind == Modal::Kind::Color)
                return text; // the same colour, chosen by hand
            if (auto* dlg = qobject_cast<QColorDialog*>(r.dialog)) {
                dlg->setCurrentColor(newBg);
                return int(QDialog::Accepted);
            }
            return QVariant();
        });
        if (pickTextFirst)
            child<QPushButton>(d, "textColorBtn")->click();
        child<QPushButton>(d, "bgColorBtn")->click();
        QCOMPARE(d.result().bgColor, newBg);
        QCOMPARE(d.result().textColor, expected);
        // The colour button's own name reads on the colour it shows.
        const QString sheet = child<QPushButton>(d, "bgColorBtn")->styleSheet();
        const QRegularExpressionMatch ink = QRegularExpression(QStringLiteral("\\bcolor:(#[0-9a-f]{6})")).match(sheet);
        QVERIFY2(ink.hasMatch(), qPrintable(sheet));
        QVERIFY2(ThemeManager::contrast(QColor(ink.captured(1)), newBg) >= 4.5, qPrintable(sheet));
        // The preview's label reads on the new face: light on navy, dark on
        // pale yellow and on bright green.
        const QImage shown = child<QLabel>(d, "buttonPreview")->pixmap().toImage();
        const QColor face = newBg;
        double best = 1.0;
        for (int y = 30; y < 50; ++y)
            for (int x = 40; x < 120; ++x)
                best = std::max(best, ThemeManager::contrast(QColor(shown.pixel(x, y)), face));
        if (!expected.isValid())
            QVERIFY2(best >= 4.5, qPrintable(QString::number(best)));
    }

    void textColour()
    {
        ButtonEditDialog d(record());
        auto* btn = child<QPushButton>(d, "textColorBtn");
        QCOMPARE(btn->text(), colors().text.name());
        QColor answer("#f0f0a0");
        QColor initial;
        ModalScript script([&](const Modal::Request& r) -> QVariant {
            if (r.kind != Modal::Kind::Color || r.title != QStringLiteral("Text Color"))
                return QVariant();
            initial = r.color;
            return answer;
        });
        btn->click();
        QCOMPARE(initial, colors().text);
        QCOMPARE(d.result().textColor, QColor("#f0f0a0"));
        QCOMPARE(btn->text(), QStringLiteral("#f0f0a0"));
        QVERIFY(btn->styleSheet().contains(QStringLiteral("color:#000000;"))); // light colour, dark text
        answer = QColor();
        btn->click();
        QCOMPARE(d.result().textColor, QColor("#f0f0a0"));
    }

    void imageRoundTrip()
    {
        // Two megabytes that are no valid picture at all: stored byte for byte.
        QByteArray bytes(2 * 1024 * 1024, Qt::Uninitialized);
        QRandomGenerator rng(7);
        for (char& c : bytes)
            c = char(rng.bounded(256));
        const QString path = writeFile(QStringLiteral("photo.jpg"), bytes);
        QVERIFY(!path.isEmpty());

        ButtonEditDialog d(record());
        auto* btn = child<QPushButton>(d, "imageBtn");
        QString answer = path;
        Modal::Request asked;
        ModalScript script([&](const Modal::Request& r) -> QVariant {
            if (r.kind != Modal::Kind::OpenFile)
                return QVariant();
            asked = r;
            return answer;
        });
        btn->click();
        QCOMPARE(asked.title, QStringLiteral("Choose Image"));
        QCOMPARE(asked.label, QString());
        QCOMPARE(asked.text, QStringLiteral("Images (*.png *.jpg *.jpeg *.webp *.bmp *.gif)"));
        // Read off the GUI thread; meanwhile the form cannot be accepted.
        QVERIFY(d.isReadingImage());
        auto* ok = d.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok);
        QVERIFY(!ok->isEnabled());
        QTRY_VERIFY(!d.isReadingImage());
        QVERIFY(ok->isEnabled());
        const QString img = d.result().img;
        QCOMPARE(img.size(), (bytes.size() + 2) / 3 * 4);
        QVERIFY(!img.contains(QLatin1Char('\n')));
        QCOMPARE(QByteArray::fromBase64(img.toLatin1()), bytes);
        QCOMPARE(btn->text(), QStringLiteral("Change Image…"));

        // No file chosen, or one that cannot be read: nothing changes.
        answer.clear();
        btn->click();
        QVERIFY(!d.isReadingImage());
        answer = QDir(TestSupport::tempDir()).filePath(QStringLiteral("missing.png"));
        btn->click();
        QTRY_VERIFY(!d.isReadingImage());
        QCOMPARE(d.result().img, img);

        // An empty file clears the image.
        answer = writeFile(QStringLiteral("empty.png"), QByteArray());
        btn->click();
        QTRY_VERIFY(!d.isReadingImage());
        QCOMPARE(d.result().img, QString());
    }

    void hugeImageRefused()
    {
        const QString path = QDir(TestSupport::tempDir()).filePath(QStringLiteral("huge.png"));
        {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            QVERIFY(f.resize(ButtonEditDialog::kMaxImageBytes + 1)); // sparse: no real data written
        }
        ButtonData b = record();
        b.img = QStringLiteral("aGVsbG8=");
        ButtonEditDialog d(b);
        QStringList warnings;
        ModalScript script([&](const Modal::Request& r) -> QVariant {
            if (r.kind == Modal::Kind::OpenFile)
                return path;
            if (r.kind == Modal::Kind::MessageBox)
                warnings << r.text;
            return QVariant();
        });
        child<QPushButton>(d, "imageBtn")->click();
        QTRY_VERIFY(!d.isReadingImage());
        QCOMPARE(warnings.size(), 1);
        QVERIFY(warnings.first().contains(QStringLiteral("huge.png")));
        QCOMPARE(d.result().img, QStringLiteral("aGVsbG8="));
    }
};

QTEST_MAIN(TstButtonEdit)
#include "tst_buttonedit.moc"
