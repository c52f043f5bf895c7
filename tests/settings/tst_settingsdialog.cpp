// The settings dialog: its frame, the Appearance page and the Audio page,
// driven through their widgets against hand-written settings files.
#include <QAbstractButton>
#include <QAudioDevice>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGraphicsDropShadowEffect>
#include <QFontInfo>
#include <QFormLayout>
#include <QLabel>
#include <QListWidget>
#include <QMediaDevices>
#include <QMessageBox>
#include <QPropertyAnimation>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSet>
#include <QSpinBox>
#include <QWheelEvent>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QTimer>
#include <QtTest>

#include "AppSettings.h"
#include "ChooserRows.h"
#include "DirectSoundEngine.h"
#include "DrumEngine.h"
#include "ManualOutput.h"
#include "OutputChoices.h"
#include "SessionManager.h"
#include "SettingsDialog.h"
#include "SettingsKeys.h"
#include "SettingsTestUtil.h"
#include "TestSupport.h"
#include "ThemeManager.h"
#include "WasapiEngine.h"

namespace {

QList<QPushButton*> cardsOf(SettingsDialog& d)
{
    return d.findChildren<QPushButton*>(QStringLiteral("presetCard"));
}

int checkedCard(SettingsDialog& d)
{
    const QList<QPushButton*> cards = cardsOf(d);
    for (int i = 0; i < cards.size(); ++i)
        if (cards[i]->isChecked())
            return i;
    return -1;
}

QComboBox* comboWithItem(SettingsDialog& d, const QString& text)
{
    for (QComboBox* c : d.findChildren<QComboBox*>())
        if (c->findText(text) >= 0)
            return c;
    return nullptr;
}

QComboBox* deviceCombo(SettingsDialog& d)
{
    return comboWithItem(d, QStringLiteral("Default Output"));
}

QComboBox* bufferCombo(SettingsDialog& d)
{
    for (QComboBox* c : d.findChildren<QComboBox*>())
        if (c->itemText(0).startsWith(QStringLiteral("64 samples")))
            return c;
    return nullptr;
}

QCheckBox* iconSwitch(SettingsDialog& d, const QString& key)
{
    for (QCheckBox* b : d.findChildren<QCheckBox*>(QStringLiteral("toggleSwitch")))
        if (b->property("settingsKey").toString() == key)
            return b;
    return nullptr;
}

QCheckBox* preloadSwitch(SettingsDialog& d)
{
    for (QCheckBox* b : d.findChildren<QCheckBox*>())
        if (b->text().startsWith(QStringLiteral("Pre-load")))
            return b;
    return nullptr;
}

// A widget's place for messages: its class, object name and text.
QString describe(const QWidget* x)
{
    QString text;
    if (auto* l = qobject_cast<const QLabel*>(x))
        text = l->text();
    else if (auto* b = qobject_cast<const QAbstractButton*>(x))
        text = b->text();
    return QStringLiteral("%1#%2 \"%3\"").arg(QString::fromLatin1(x->metaObject()->className()), x->objectName(),
                                             text.left(60));
}

bool shownIn(const QWidget* x, const QWidget* window)
{
    return x->isVisible() && x->isEnabled() && x->window() == window && x->width() > 2 && x->height() > 2;
}

// The plain text a label or button shows, empty for pictures and rich text.
QString plainTextOf(const QWidget* x)
{
    if (auto* l = qobject_cast<const QLabel*>(x))
        return l->textFormat() == Qt::RichText || (l->textFormat() == Qt::AutoText && Qt::mightBeRichText(l->text()))
            ? QString()
            : l->text();
    if (auto* b = qobject_cast<const QAbstractButton*>(x))
        return b->text();
    return QString();
}

// Texts whose ink (the colour the widget's palette draws it in) is below
// 4.5 : 1 on the ground drawn under it (3 : 1 for large text).
QStringList faintTexts(QWidget& d)
{
    QStringList faint;
    const QImage shot = d.grab().toImage();
    for (QWidget* x : d.findChildren<QWidget*>()) {
        if (!shownIn(x, &d) || plainTextOf(x).trimmed().isEmpty())
            continue;
        // Only what is on screen: a page's scroll area hides the rest.
        const QRect seen = x->visibleRegion().boundingRect();
        if (seen.height() < x->height() || seen.width() < x->width() / 2)
            continue;
        const QRect r = QRect(x->mapTo(&d, seen.topLeft()), seen.size()).intersected(shot.rect());
        const QRgb ground = TestSupport::drawnGround(shot, r);
        const QColor ink = x->palette().color(x->foregroundRole());
        const int px = x->font().pixelSize() > 0 ? x->font().pixelSize() : QFontInfo(x->font()).pixelSize();
        const bool large = px >= 24 || (x->font().bold() && px >= 19);
        const double ratio = TestSupport::contrast(ink.rgb(), ground);
        if (ratio < (large ? 3.0 : 4.5))
            faint << QStringLiteral("%1 %2 on %3: %4:1").arg(describe(x), ink.name(), QColor(ground).name())
                         .arg(ratio, 0, 'f', 2);
    }
    return faint;
}

// Controls the Tab key reaches that look the same with and without focus.
QStringList unmarkedFocus(QWidget& d)
{
    QStringList unmarked;
    for (QWidget* x : d.findChildren<QWidget*>()) {
        if (!shownIn(x, &d) || !(x->focusPolicy() & Qt::TabFocus) || x->focusProxy())
            continue;
        d.setFocus();
        QCoreApplication::processEvents();
        const QImage without = x->grab().toImage();
        x->setFocus(Qt::TabFocusReason);
        QCoreApplication::processEvents();
        if (!x->hasFocus()) {
            unmarked << describe(x) + QStringLiteral(" takes no focus");
            continue;
        }
        if (x->grab().toImage() == without)
            unmarked << describe(x);
    }
    return unmarked;
}

// Texts that do not show whole: a single line wider than its label or
// button, wrapped lines that need more room than the label has.
QStringList cutTexts(QWidget& d)
{
    QStringList cut;
    for (QWidget* x : d.findChildren<QWidget*>()) {
        const QString text = plainTextOf(x);
        if (!shownIn(x, &d) || text.trimmed().isEmpty())
            continue;
        const QFontMetrics fm = x->fontMetrics();
        if (auto* l = qobject_cast<QLabel*>(x)) {
            const QRect box = l->contentsRect();
            // One line needs its width; wrapped lines their height as well.
            const QRect need = l->wordWrap()
                ? fm.boundingRect(QRect(0, 0, box.width(), 100000), Qt::TextWordWrap, text)
                : QRect(0, 0, fm.horizontalAdvance(text), 0);
            if (need.width() > box.width() || need.height() > box.height())
                cut << QStringLiteral("%1 needs %2x%3 in %4x%5 at %6x%7")
                           .arg(describe(x)).arg(need.width()).arg(need.height()).arg(box.width())
                           .arg(box.height()).arg(d.width()).arg(d.height());
        } else if (auto* b = qobject_cast<QAbstractButton*>(x)) {
            if (b->width() < b->minimumSizeHint().width() && b->sizeHint().width() > b->width())
                cut << QStringLiteral("%1 %2 < %3 at %4x%5").arg(describe(x)).arg(b->width())
                           .arg(b->sizeHint().width()).arg(d.width()).arg(d.height());
        }
    }
    return cut;
}

QStringList storedKeys()
{
    AppSettings s;
    QStringList k = s.allKeys();
    k.sort();
    return k;
}

QStringList storedValues()
{
    AppSettings s;
    QStringList out;
    for (const QString& k : storedKeys())
        out << k + QLatin1Char('=') + s.value(k).toString();
    return out;
}

QList<QTimer*> restartTimers()
{
    return QCoreApplication::instance()->findChildren<QTimer*>(QString::fromLatin1(SettingsDialog::kRestartTimerName),
                                                              Qt::FindDirectChildrenOnly);
}

// Runs the restart chain's pending steps, one at a time, in the order they come.
void runRestartChain()
{
    for (int guard = 0; guard < 10; ++guard) {
        const QList<QTimer*> pending = restartTimers();
        QTimer* next = nullptr;
        for (QTimer* t : pending)
            if (t->isActive())
                next = t;
        if (!next)
            return;
        TestSupport::fireTimer(next);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}

bool expectNoOutputs()
{
    return qEnvironmentVariableIntValue("TR_EXPECT_NO_OUTPUTS") == 1;
}

bool havePactl()
{
    return !qEnvironmentVariable("PULSE_SERVER").isEmpty() && !expectNoOutputs()
        && !QStandardPaths::findExecutable(QStringLiteral("pactl")).isEmpty();
}

QString pactl(const QStringList& args)
{
    return QString::fromUtf8(TestSupport::pactl(args)).trimmed();
}

bool outputListed(const QByteArray& id, bool wanted)
{
    for (int i = 0; i < 200; ++i) {
        bool found = false;
        for (const QAudioDevice& d : QMediaDevices::audioOutputs())
            found = found || d.id() == id;
        if (found == wanted)
            return true;
        QTest::qWait(25);
    }
    return false;
}

} // namespace

class TestSettingsDialog : public QObject
{
    Q_OBJECT
    QStringList restartLog;
    QString warnings;
    bool answerYes = true;
    QString saveAsAnswer;
    Modal::Handler hook;   // a test's own answers, before the common ones

    // Answers every box of the dialog: the restart question with Yes or
    // Cancel, warnings with Ok (kept), the save-as chooser as set.
    TestSupport::ModalScript* script = nullptr;

private slots:
    void initTestCase()
    {
        TestSupport::isolateSettings();
        SettingsTest::writeStore(QByteArray());
        WasapiEngine::instance()->setOutputFactory(
            [this](AudioOutput::Backend, const AudioOutputConfig& cfg) -> std::unique_ptr<AudioOutput> {
                restartLog << QStringLiteral("wasapi.open ") + QString::fromUtf8(cfg.deviceId);
                return AudioOutput::openBackend(AudioOutput::Backend::Null, cfg);
            });
        DrumEngine::instance()->initialize();
        script = new TestSupport::ModalScript([this](const Modal::Request& r) -> QVariant {
            if (hook)
                return hook(r);
            if (r.kind == Modal::Kind::MessageBox && r.title == QStringLiteral("Restart Required"))
                return answerYes ? int(QMessageBox::Yes) : int(QMessageBox::Cancel);
            if (r.kind == Modal::Kind::MessageBox) {
                warnings += r.title + QStringLiteral(": ") + (r.box ? r.box->text() : r.text) + QLatin1Char('\n');
                return int(QMessageBox::Ok);
            }
            if (r.kind == Modal::Kind::SaveFile)
                return saveAsAnswer;
            return QVariant();
        });
        SettingsDialog::setRestartSeam({[this](const QString& program, const QStringList& args) {
                                            restartLog << (DrumEngine::instance()->isPlaying(QStringLiteral("pad"))
                                                               ? QStringLiteral("drum playing")
                                                               : QStringLiteral("drum stopped"));
                                            restartLog << QStringLiteral("start %1 %2").arg(program, args.join(' '));
                                            return !program.isEmpty() && !restartLog.contains("fail-start");
                                        },
                                        [this] { restartLog << QStringLiteral("quit"); }});
    }

    void cleanupTestCase()
    {
        delete script;
        SettingsDialog::setRestartSeam({});
    }

    void init()
    {
        SettingsTest::writeStore(QByteArray());
        restartLog.clear();
        warnings.clear();
        answerYes = true;
        saveAsAnswer.clear();
        ThemeManager::instance()->applyPreset(ThemeManager::Dark);
        SettingsTest::writeStore(QByteArray());
    }

    // ---- Frame -----------------------------------------------------------

    void navigationRowsPickPages_data()
    {
        QTest::addColumn<int>("row");
        for (int r : {4, 1, 3, 0, 2})
            QTest::newRow(qPrintable(QString::number(r))) << r;
    }

    void navigationRowsPickPages()
    {
        QFETCH(int, row);
        SettingsDialog d;
        auto* nav = d.findChild<QListWidget*>();
        auto* stack = d.findChild<QStackedWidget*>();
        QCOMPARE(nav->count(), 5);
        QCOMPARE(stack->count(), 5);
        QCOMPARE(nav->currentRow(), 0);
        QCOMPARE(stack->currentIndex(), 0);
        nav->setCurrentRow(row);
        QCOMPARE(stack->currentIndex(), row);
        d.showPage(SettingsDialog::Page((row + 1) % 5));
        QCOMPARE(nav->currentRow(), (row + 1) % 5);
        QCOMPARE(stack->currentIndex(), (row + 1) % 5);
        const QStringList labels{"Appearance", "Audio", "MIDI", "Shortcuts", "Advanced"};
        for (int i = 0; i < 5; ++i) {
            QCOMPARE(nav->item(i)->text(), labels[i]);
            QVERIFY(!nav->item(i)->icon().isNull());
        }
    }

    void themedBoxPlacement_data()
    {
        QTest::addColumn<bool>("withParent");
        QTest::newRow("no parent") << false;
        QTest::newRow("inner widget as parent") << true;
    }

    void themedBoxPlacement()
    {
        QFETCH(bool, withParent);
        QWidget top;
        top.setGeometry(100, 100, 800, 600);
        auto* inner = new QWidget(&top);
        inner->setGeometry(40, 30, 500, 400);
        QWidget* parent = withParent ? inner : nullptr;
        Qt::WindowModality modality = Qt::NonModal;
        QPoint placed;
        QSize hint;
        hook = [&](const Modal::Request& r) -> QVariant {
            modality = r.box->windowModality();
            placed = r.box->pos();
            hint = r.box->sizeHint();
            return int(QMessageBox::No);
        };
        auto unhook = qScopeGuard([this] { hook = nullptr; });
        const int answer = themedMessageBox(parent, QMessageBox::Question, QStringLiteral("T"), QStringLiteral("X"),
                                            QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes);
        QCOMPARE(answer, int(QMessageBox::No));
        QCOMPARE(modality, Qt::ApplicationModal);
        if (withParent) {
            const QPoint origin = inner->mapToGlobal(QPoint(0, 0));
            QCOMPARE(placed, origin + QPoint((500 - hint.width()) / 2, (400 - hint.height()) / 2));
        }
    }

    // ---- Appearance -----------------------------------------------------

    // Card checked and apply state for the stored preset id; the card
    // "Default" then applies Dark, stores "default" and drops the accent.
    void presetCards_data()
    {
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<int>("checked");
        QTest::newRow("absent") << QByteArray() << 0;
        QTest::newRow("default") << QByteArray("default") << 0;
        QTest::newRow("dark, the manager's own name") << QByteArray("dark") << -1;
        QTest::newRow("DARK") << QByteArray("DARK") << -1;
        QTest::newRow("neon") << QByteArray("neon") << -1;
        QTest::newRow("red") << QByteArray("red") << 4;
        QTest::newRow("a list") << QByteArray("red, green") << 0;
    }

    void presetCards()
    {
        QFETCH(QByteArray, stored);
        QFETCH(int, checked);
        QByteArray ini = "[appearance]\naccent=#123456\n";
        if (!stored.isNull())
            ini += "preset=" + stored + "\n";
        SettingsTest::writeStore(ini);
        // What start-up makes of the same store: every one of these is Dark
        // but the red one.
        ThemeManager started;
        QCOMPARE(started.preset(), checked == 4 ? ThemeManager::Red : ThemeManager::Dark);

        SettingsDialog d;
        QSignalSpy changed(&d, &SettingsDialog::settingsChanged);
        QCOMPARE(cardsOf(d).size(), 9);
        QCOMPARE(checkedCard(d), checked);
        auto* apply = d.findChild<QPushButton*>(QStringLiteral("applyThemeBtn"));
        QVERIFY(!apply->isEnabled());

        cardsOf(d)[0]->click();
        QCOMPARE(apply->isEnabled(), checked != 0);
        if (checked == 0)
            return;
        ThemeManager::instance()->applyPreset(ThemeManager::Red);
        apply->click();
        QCOMPARE(ThemeManager::instance()->preset(), ThemeManager::Dark);
        QCOMPARE(SettingsKeys::readString(SettingsKeys::AppearancePreset), QStringLiteral("default"));
        QCOMPARE(SettingsKeys::readString(SettingsKeys::AppearanceTheme), QStringLiteral("dark"));
        QVERIFY(!AppSettings().contains(SettingsKeys::AppearanceAccent));
        QCOMPARE(changed.size(), 1);
        QCOMPARE(d.result(), int(QDialog::Accepted));
        QVERIFY(!apply->isEnabled());
    }

    void pendingPulseFollowsTheCards()
    {
        SettingsTest::writeStore("[appearance]\npreset=green\n");
        SettingsDialog d;
        auto* apply = d.findChild<QPushButton*>(QStringLiteral("applyThemeBtn"));
        auto* pulse = d.findChild<QPropertyAnimation*>(QStringLiteral("applyThemePulse"));
        auto* glow = qobject_cast<QGraphicsDropShadowEffect*>(apply->graphicsEffect());
        cardsOf(d)[7]->click();
        QVERIFY(apply->isEnabled());
        QCOMPARE(pulse->state(), QAbstractAnimation::Running);
        QCOMPARE(d.property("pendingThemeId").toString(), QStringLiteral("slate"));
        cardsOf(d)[3]->click();
        QVERIFY(!apply->isEnabled());
        QCOMPARE(pulse->state(), QAbstractAnimation::Stopped);
        QCOMPARE(glow->blurRadius(), 0.0);
        QVERIFY(!AppSettings().contains(SettingsKeys::AppearanceTheme));
    }

    void accentSwatches_data()
    {
        QTest::addColumn<int>("swatch");
        QTest::addColumn<QString>("stored");
        QTest::newRow("the accent in force") << 0 << QString();
        QTest::newRow("blue") << 1 << QStringLiteral("#2196F3");
        QTest::newRow("indigo") << 8 << QStringLiteral("#6366F1");
    }

    void accentSwatches()
    {
        QFETCH(int, swatch);
        QFETCH(QString, stored);
        ThemeManager::instance()->setAccent(QColor(QStringLiteral("#A1B2C3")));
        const QString current = ThemeManager::instance()->colors().accent.name();
        SettingsDialog d;
        QSignalSpy changed(&d, &SettingsDialog::settingsChanged);
        const QList<QPushButton*> swatches = d.findChildren<QPushButton*>(QStringLiteral("accentSwatch"));
        QCOMPARE(swatches.size(), 9);
        swatches[swatch]->click();
        const QString expected = stored.isEmpty() ? current : stored;
        QCOMPARE(SettingsKeys::readString(SettingsKeys::AppearanceAccent), expected);
        QCOMPARE(ThemeManager::instance()->colors().accent.name(), expected.toLower());
        QCOMPARE(changed.size(), 1);
    }

    void fontAndLabelSize_data()
    {
        QTest::addColumn<QByteArray>("ini");
        QTest::addColumn<QString>("shownFont");
        QTest::addColumn<QString>("shownSize"); // the label size the buttons use
        const QString autoSize = QStringLiteral("Default (auto)");
        QTest::newRow("nothing stored") << QByteArray() << QStringLiteral("Segoe UI (Default)") << autoSize;
        QTest::newRow("Arial") << QByteArray("[appearance]\nfont=Arial\nbtnFontSize=14\n") << QStringLiteral("Arial")
                               << QStringLiteral("Large (14px)");
        QTest::newRow("not offered") << QByteArray("[appearance]\nfont=Comic\nbtnFontSize=10\n")
                                     << QStringLiteral("Segoe UI (Default)") << QStringLiteral("Small (10px)");
        QTest::newRow("wrong case") << QByteArray("[appearance]\nfont=arial\nbtnFontSize=13\n")
                                    << QStringLiteral("Segoe UI (Default)") << autoSize;
        QTest::newRow("a list") << QByteArray("[appearance]\nfont=Arial, Consolas\nbtnFontSize=abc\n")
                                << QStringLiteral("Segoe UI (Default)") << autoSize;
    }

    void fontAndLabelSize()
    {
        QFETCH(QByteArray, ini);
        QFETCH(QString, shownFont);
        QFETCH(QString, shownSize);
        SettingsTest::writeStore(ini);
        SettingsDialog d;
        QComboBox* font = comboWithItem(d, QStringLiteral("Consolas"));
        QComboBox* size = comboWithItem(d, QStringLiteral("Medium (12px)"));
        QCOMPARE(font->currentText(), shownFont);
        QCOMPARE(size->currentText(), shownSize);
        QSignalSpy changed(&d, &SettingsDialog::settingsChanged);
        font->setCurrentIndex(font->findText(QStringLiteral("Consolas")));
        QCOMPARE(SettingsKeys::readString(SettingsKeys::AppearanceFont), QStringLiteral("Consolas"));
        QCOMPARE(ThemeManager::instance()->fontFamily(), QStringLiteral("Consolas"));
        size->setCurrentIndex(size->findText(QStringLiteral("Medium (12px)")));
        QCOMPARE(SettingsKeys::readInt(SettingsKeys::AppearanceBtnFontSize), 12);
        QCOMPARE(changed.size(), 2);
    }

    void iconSwitches_data()
    {
        QTest::addColumn<QByteArray>("ini");
        QTest::addColumn<bool>("loopOn");
        QTest::addColumn<bool>("scissorOn");
        QTest::newRow("absent") << QByteArray() << true << true;
        QTest::newRow("off and 0") << QByteArray("[appearance]\nshowLoopIcon=false\nshowScissorIcon=0\n") << false << false;
        QTest::newRow("maybe and a list") << QByteArray("[appearance]\nshowLoopIcon=maybe\nshowScissorIcon=1, 0\n")
                                          << true << true;
    }

    void iconSwitches()
    {
        QFETCH(QByteArray, ini);
        QFETCH(bool, loopOn);
        QFETCH(bool, scissorOn);
        SettingsTest::writeStore(ini);
        SettingsDialog d;
        QCheckBox* loop = iconSwitch(d, SettingsKeys::AppearanceShowLoopIcon);
        QCheckBox* scissor = iconSwitch(d, SettingsKeys::AppearanceShowScissorIcon);
        QCOMPARE(loop->isChecked(), loopOn);
        QCOMPARE(scissor->isChecked(), scissorOn);
        QSignalSpy changed(&d, &SettingsDialog::settingsChanged);
        loop->toggle();
        QCOMPARE(SettingsKeys::readBool(SettingsKeys::AppearanceShowLoopIcon), !loopOn);
        loop->toggle();
        QCOMPARE(SettingsKeys::readBool(SettingsKeys::AppearanceShowLoopIcon), loopOn);
        QCOMPARE(changed.size(), 2);
    }

    // ---- Audio -------------------------------------------------------------

    // Building writes exactly three keys and emits nothing, whatever was
    // stored; the sampler shows unchecked only before it was ever stored.
    void buildingWritesThreeKeys_data()
    {
        QTest::addColumn<QByteArray>("ini");
        QTest::addColumn<bool>("samplerChecked");
        QTest::newRow("empty store") << QByteArray() << false;
        QTest::newRow("other values") << QByteArray("[audio]\nengine=asio\nplayback_mode=pro\nsampler=drum\n") << false;
        QTest::newRow("sampler stored") << QByteArray("[audio]\nsampler=directsound\n") << true;
    }

    void buildingWritesThreeKeys()
    {
        QFETCH(QByteArray, ini);
        QFETCH(bool, samplerChecked);
        SettingsTest::writeStore(ini);
        SettingsDialog d;
        QCOMPARE(storedKeys(), (QStringList{"audio/engine", "audio/playback_mode", "audio/sampler"}));
        QCOMPARE(SettingsKeys::readString(SettingsKeys::AudioEngine), QStringLiteral("wasapi_shared"));
        QCOMPARE(SettingsKeys::readString(SettingsKeys::AudioPlaybackMode), QStringLiteral("standard"));
        QCOMPARE(SettingsKeys::readString(SettingsKeys::AudioSampler), QStringLiteral("directsound"));
        QCOMPARE(d.findChild<QRadioButton*>()->isChecked(), samplerChecked);
        bool noteSelected = false;
        for (QLabel* l : d.findChildren<QLabel*>())
            noteSelected = noteSelected || l->text().endsWith(QStringLiteral("✅ Selected."));
        QVERIFY(noteSelected);
    }

    // A wheel turned over a closed list or a number field on any page scrolls
    // the page: no value changes, nothing is stored, no output restarts.
    void wheelOverListsScrollsThePage_data()
    {
        QTest::addColumn<int>("page");
        for (int p : {0, 1, 2, 4})
            QTest::newRow(qPrintable(QString::number(p))) << p;
    }

    void wheelOverListsScrollsThePage()
    {
        QFETCH(int, page);
        SettingsDialog d;
        d.resize(700, 420); // short enough for every page to scroll
        d.showPage(SettingsDialog::Page(page));
        d.show();
        QVERIFY(QTest::qWaitForWindowExposed(&d));
        QWidget* shown = d.findChild<QStackedWidget*>()->currentWidget();
        QList<QWidget*> controls;
        for (QComboBox* c : shown->findChildren<QComboBox*>())
            controls << c;
        for (QAbstractSpinBox* b : shown->findChildren<QAbstractSpinBox*>())
            controls << b;
        if (page != 2) // the MIDI page may have no list without a device
            QVERIFY(!controls.isEmpty());
        const QStringList before = storedValues();
        restartLog.clear();
        for (QWidget* c : std::as_const(controls)) {
            auto* combo = qobject_cast<QComboBox*>(c);
            auto* spin = qobject_cast<QAbstractSpinBox*>(c);
            const int index = combo ? combo->currentIndex() : -1;
            const QString text = spin ? spin->text() : QString();
            QAbstractScrollArea* area = nullptr;
            for (QWidget* p = c->parentWidget(); p && !area; p = p->parentWidget())
                area = qobject_cast<QAbstractScrollArea*>(p);
            QScrollBar* bar = area ? area->verticalScrollBar() : nullptr;
            if (bar)
                bar->setValue(bar->maximum() / 2);
            const int scrolled = bar ? bar->value() : 0;
            for (int notch = 0; notch < 10; ++notch) {
                const QPoint at = c->rect().center();
                QWheelEvent e(QPointF(at), QPointF(c->mapToGlobal(at)), QPoint(), QPoint(0, notch < 5 ? -120 : 120),
                              Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
                QApplication::sendEvent(c, &e);
                if (notch == 0 && bar && bar->maximum() > 0)
                    QVERIFY2(bar->value() > scrolled || bar->value() == bar->maximum(),
                             qPrintable(c->objectName())); // the page went down
            }
            if (combo)
                QCOMPARE(combo->currentIndex(), index);
            if (spin)
                QCOMPARE(spin->text(), text);
        }
        QCOMPARE(storedValues(), before);
        QVERIFY2(restartLog.isEmpty(), qPrintable(restartLog.join(", ")));
    }

    // Stored values the page cannot show: the rows fall back, nothing is
    // written. The latency line is the sampler's, whatever buffer is stored:
    // here the sampler does not run.
    void storedAudioValues_data()
    {
        QTest::addColumn<QByteArray>("lines");
        QTest::addColumn<QString>("bufferRow");
        QTest::addColumn<bool>("preload");
        QTest::newRow("nothing") << QByteArray() << QStringLiteral("128") << true;
        QTest::newRow("100 frames") << QByteArray("buffer=100\n") << QStringLiteral("128") << true;
        QTest::newRow("-64") << QByteArray("buffer=-64\n") << QStringLiteral("128") << true;
        QTest::newRow("0") << QByteArray("buffer=0\n") << QStringLiteral("128") << true;
        QTest::newRow("5000") << QByteArray("buffer=5000\n") << QStringLiteral("128") << true;
        QTest::newRow("int max, maybe") << QByteArray("buffer=2147483647\npreload=maybe\n") << QStringLiteral("128")
                                        << true;
        QTest::newRow("1024, off") << QByteArray("buffer=1024\npreload=false\n") << QStringLiteral("1024") << false;
        QTest::newRow("lists") << QByteArray("buffer=256, 512\npreload=0, 1\n") << QStringLiteral("128") << true;
    }

    void storedAudioValues()
    {
        QFETCH(QByteArray, lines);
        QFETCH(QString, bufferRow);
        QFETCH(bool, preload);
        // A device no output has: "Default Output" shows and the rate is 44100.
        SettingsTest::writeStore("[audio]\ndevice=gone-since-yesterday\n" + lines);
        const QStringList watched{SettingsKeys::AudioBuffer, SettingsKeys::AudioDevice, SettingsKeys::AudioPreload};
        auto rawValues = [&] {
            QSettings raw(SettingsTest::storePath(), QSettings::IniFormat);
            QVariantList v;
            for (const QString& k : watched)
                v << raw.value(k);
            return v;
        };
        const QVariantList before = rawValues();
        SettingsDialog d;
        QSignalSpy changed(&d, &SettingsDialog::settingsChanged);
        QCOMPARE(deviceCombo(d)->currentIndex(), 0);
        QVERIFY(bufferCombo(d)->currentText().startsWith(bufferRow + QStringLiteral(" samples")));
        QCOMPARE(d.findChild<QLabel*>(QStringLiteral("latencyLabel"))->text(),
                 QStringLiteral("Latency: sampler not running — buttons play through the media players"));
        QCOMPARE(preloadSwitch(d)->isChecked(), preload);
        QCOMPARE(rawValues(), before);
        QCOMPARE(changed.size(), 0);
    }

    void latencyLabels_data()
    {
        QTest::addColumn<int>("rate");
        QTest::addColumn<QStringList>("figures");
        QTest::newRow("44100") << 44100 << QStringList{"1.5", "2.9", "5.8", "11.6", "23.2", "46.4", "92.9"};
        QTest::newRow("48000") << 48000 << QStringList{"1.3", "2.7", "5.3", "10.7", "21.3", "42.7", "85.3"};
    }

    void latencyLabels()
    {
        QFETCH(int, rate);
        QFETCH(QStringList, figures);
        const int samples[] = {64, 128, 256, 512, 1024, 2048, 4096};
        for (int i = 0; i < 7; ++i)
            QCOMPARE(SettingsDialog::latencyText(QStringLiteral("x %.1f y %.1f"), samples[i], rate),
                     QStringLiteral("x %1 y %1").arg(figures[i]));
        if (rate == 44100) {
            // A stored device no output has: the rate is 44100 whatever the
            // sound server's first output runs at.
            QVERIFY(SettingsTest::writeStore("[audio]\ndevice=no-such-output\n"));
            SettingsDialog d;
            QComboBox* buffers = bufferCombo(d);
            for (int i = 0; i < 7; ++i)
                QVERIFY2(buffers->itemText(i).contains(figures[i] + QStringLiteral(" ms")),
                         qPrintable(buffers->itemText(i)));
            // The rows' figures are the float engine's stream's: the note
            // under the buffer says so, and that the buttons and the music
            // do not change with it; the buttons' own latency line comes
            // after it.
            auto* form = qobject_cast<QFormLayout*>(buffers->parentWidget()->layout());
            QVERIFY(form);
            int comboRow = -1, noteRow = -1, latencyRow = -1;
            QFormLayout::ItemRole role;
            form->getWidgetPosition(buffers, &comboRow, &role);
            form->getWidgetPosition(d.findChild<QLabel*>(QStringLiteral("bufferNote")), &noteRow, &role);
            form->getWidgetPosition(d.findChild<QLabel*>(QStringLiteral("latencyLabel")), &latencyRow, &role);
            QCOMPARE(noteRow, comboRow + 1);
            QCOMPARE(latencyRow, noteRow + 1);
            const QString note = d.findChild<QLabel*>(QStringLiteral("bufferNote"))->text();
            QVERIFY2(note.startsWith(QStringLiteral("⚡ Float engine stream: Lower = less latency but may crackle.  "
                                                    "Higher = more stable.  Applied immediately.")),
                     qPrintable(note));
            QVERIFY2(note.contains(QStringLiteral("Buttons and music")) && note.contains(QStringLiteral("not change")),
                     qPrintable(note));
            // The buttons are the window's pads: neither text says the
            // buffer is theirs.
            for (const QString& text : {note, buffers->toolTip()})
                QVERIFY2(!text.contains(QStringLiteral("pad"), Qt::CaseInsensitive), qPrintable(text));
            QVERIFY(buffers->toolTip().contains(QStringLiteral("float engine's output stream")));
            QVERIFY(d.findChild<QLabel*>(QStringLiteral("latencyLabel"))->text().contains(QStringLiteral("buttons")));
        }
    }

    // The Primary Output rows after "Default Output" for a list of outputs:
    // long descriptions cut, outputs that share one numbered by their ids.
    void deviceNames_data()
    {
        QTest::addColumn<QStringList>("descriptions");
        QTest::addColumn<QStringList>("ids");
        QTest::addColumn<QStringList>("shown");
        const QString d35(35, QLatin1Char('d'));
        QTest::newRow("35 whole") << QStringList{d35} << QStringList{"a"} << QStringList{d35};
        QTest::newRow("36 cut") << QStringList{d35 + "d"} << QStringList{"a"}
                                << QStringList{QString(32, QLatin1Char('d')) + "..."};
        QTest::newRow("short") << QStringList{"ddd"} << QStringList{"a"} << QStringList{"ddd"};
        QTest::newRow("two share a description")
            << QStringList{"Null Output", "Null Output", "Speakers"} << QStringList{"tr_rec", "tr_null", "spk"}
            << QStringList{"Null Output (2)", "Null Output (1)", "Speakers"};
        QTest::newRow("shared and cut: the number stays")
            << QStringList{d35 + "d", d35 + "d"} << QStringList{"b", "a"}
            << QStringList{QString(28, QLatin1Char('d')) + "... (2)", QString(28, QLatin1Char('d')) + "... (1)"};
        QTest::newRow("twelve alike, all listed")
            << QStringList(12, "USB Audio") << QStringList{"u01", "u02", "u03", "u04", "u05", "u06",
                                                           "u07", "u08", "u09", "u10", "u11", "u12"}
            << QStringList{"USB Audio (1)", "USB Audio (2)", "USB Audio (3)",  "USB Audio (4)",
                           "USB Audio (5)", "USB Audio (6)", "USB Audio (7)",  "USB Audio (8)",
                           "USB Audio (9)", "USB Audio (10)", "USB Audio (11)", "USB Audio (12)"};
        // Cut at the end, both would read "Family 17h/19h HD Audio Controll...".
        QTest::newRow("alike up to the cut: cut in the middle")
            << QStringList{"Family 17h/19h HD Audio Controller Analog Stereo",
                           "Family 17h/19h HD Audio Controller Digital Stereo"}
            << QStringList{"pci.analog", "pci.digital"}
            << QStringList{"Family 17h/19h HD...Analog Stereo", "Family 17h/19h HD...Digital Stereo"};
        QTest::newRow("alike up to the cut, the difference far from the end: numbered")
            << QStringList{"Studio Desk USB Audio Interface, B output of the left rack speakers",
                           "Studio Desk USB Audio Interface, A output of the left rack speakers"}
            << QStringList{"u2", "u1"}
            << QStringList{"Studio Desk USB Audio Interf... (2)", "Studio Desk USB Audio Interf... (1)"};
        QTest::newRow("a number would read as another's own name")
            << QStringList{"Twin", "Twin (1)", "Twin"} << QStringList{"tw-b", "tw-c", "tw-a"}
            << QStringList{"Twin (3)", "Twin (1)", "Twin (2)"};
        QTest::newRow("named as the default row")
            << QStringList{"Default Output", "Speakers"} << QStringList{"odd", "spk"}
            << QStringList{"Default Output (1)", "Speakers"};
        QTest::newRow("alike but for their ends")
            << QStringList{"USB Audio Interface Outputs 1+2", "USB Audio Interface Outputs 3+4",
                           "Studio Headphone Amplifier A", "Studio Headphone Amplifier B"}
            << QStringList{"u12", "u34", "a", "b"}
            << QStringList{"USB Audio Interface Outputs 1+2", "USB Audio Interface Outputs 3+4",
                           "Studio Headphone Amplifier A", "Studio Headphone Amplifier B"};
        QTest::newRow("an emoji with a skin tone at the cut")
            << QStringList{"Stage Monitor 👍🏽👍🏽👍🏽👍🏽👍🏽👍🏽👍🏽 wedge"} << QStringList{"w"}
            << QStringList{"Stage Monitor 👍🏽👍🏽👍🏽👍🏽..."};
    }

    void deviceNames()
    {
        QFETCH(QStringList, descriptions);
        QFETCH(QStringList, ids);
        QFETCH(QStringList, shown);
        QList<OutputChoices::Output> outputs;
        for (int i = 0; i < descriptions.size(); ++i)
            outputs.append({descriptions[i], ids[i].toUtf8()});
        OutputChoices::setLister([outputs] { return outputs; });
        auto restore = qScopeGuard([] { OutputChoices::setLister(nullptr); });
        if (descriptions.size() == 1)
            QCOMPARE(SettingsDialog::shortDeviceName(descriptions[0]), shown[0]);

        SettingsDialog d;
        QComboBox* devices = deviceCombo(d);
        QCOMPARE(devices->count(), shown.size() + 1);
        QStringList rows;
        for (int i = 1; i < devices->count(); ++i) {
            rows << devices->itemText(i);
            QCOMPARE(devices->itemData(i).toString(), ids[i - 1]);
            // The whole description and the device's own id in its tip.
            QCOMPARE(devices->itemData(i, Qt::ToolTipRole).toString(), descriptions[i - 1] + " — " + ids[i - 1]);
        }
        QCOMPARE(rows, shown);
        // No two rows read alike, the default row among them.
        rows << devices->itemText(0);
        QCOMPARE(QSet<QString>(rows.begin(), rows.end()).size(), rows.size());
        for (const QString& row : rows)
            QVERIFY2(row.size() <= 35, qPrintable(row));
        // Every row shows when the list opens.
        QVERIFY(devices->maxVisibleItems() >= devices->count());
        // Closed and open, each row reads as no other.
        d.show();
        QVERIFY(QTest::qWaitForWindowExposed(&d));
        const QStringList faults = TestSupport::chooserFaults(qobject_cast<OutputChooser*>(devices));
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join('\n')));
    }

    void noOutputAtAll()
    {
        if (!expectNoOutputs())
            QSKIP("run without a sound server only");
        QVERIFY(QMediaDevices::audioOutputs().isEmpty());
        SettingsDialog d;
        QCOMPARE(deviceCombo(d)->count(), 1);
        QCOMPARE(deviceCombo(d)->itemText(0), QStringLiteral("Default Output"));
        QVERIFY(bufferCombo(d)->itemText(1).contains(QStringLiteral(" 2.9 ms ")));
    }

    // Two extra outputs with long names; one goes while the page is open
    // and is then chosen; the page keeps its rows and the drum engine takes
    // the default output. The other runs at 48000 Hz for the latency rate.
    void outputsComeAndGo()
    {
        if (!havePactl())
            QSKIP("needs the test sound server");
        const QString d35 = QString(35, QLatin1Char('A'));
        const QString d36 = QString(36, QLatin1Char('B'));
        const QString m1 = pactl({"load-module", "module-null-sink", "sink_name=tr_settings_35", "rate=48000",
                                  "sink_properties=device.description=" + d35});
        const QString m2 = pactl({"load-module", "module-null-sink", "sink_name=tr_settings_36",
                                  "sink_properties=device.description=" + d36});
        auto unload = qScopeGuard([&] {
            pactl({"unload-module", m1});
            pactl({"unload-module", m2});
        });
        QVERIFY(outputListed("tr_settings_35", true));
        QVERIFY(outputListed("tr_settings_36", true));

        SettingsTest::writeStore("[audio]\ndevice=tr_settings_35\n");
        SettingsDialog d;
        QComboBox* devices = deviceCombo(d);
        QCOMPARE(devices->currentText(), d35);
        const int row36 = devices->findData(QStringLiteral("tr_settings_36"));
        QVERIFY(row36 > 0);
        QCOMPARE(devices->itemText(row36), d36.left(32) + QStringLiteral("..."));
        QVERIFY(bufferCombo(d)->itemText(1).contains(QStringLiteral(" 2.7 ms ")));

        pactl({"unload-module", m2});
        QVERIFY(outputListed("tr_settings_36", false));
        QSignalSpy changed(&d, &SettingsDialog::settingsChanged);
        devices->setCurrentIndex(row36);
        QCOMPARE(changed.size(), 1);
        QCOMPARE(SettingsKeys::readString(SettingsKeys::AudioDevice), QStringLiteral("tr_settings_36"));
        QCOMPARE(DrumEngine::instance()->device().id(), QMediaDevices::defaultAudioOutput().id());

        devices->setCurrentIndex(0);
        QCOMPARE(SettingsKeys::readString(SettingsKeys::AudioDevice), QString());
        QCOMPARE(DrumEngine::instance()->device().id(), QMediaDevices::defaultAudioOutput().id());
    }

    // A buffer row restarts the low-latency stream on the stored device with
    // the new size stored; the status line follows. The latency line is what
    // a press over a playing sound waits for on the sampler (here on a sound
    // server's stream): the queue it opened with and the queue now, which the
    // buffer size does not change but a dropout does.
    void bufferChoiceRestartsTheStream()
    {
        SettingsTest::writeStore("[audio]\ndevice=usb-out\nbuffer=512\npreload=true\n");
        DirectSoundEngine* ds = DirectSoundEngine::instance();
        ds->setOutputFactory([] {
            auto out = std::make_unique<ManualOutput>(BufferMixer::outputConfig());
            out->setFeedsSoundServer(true);
            return std::unique_ptr<AudioOutput>(std::move(out));
        });
        auto stopSampler = qScopeGuard([ds] {
            ds->shutdown();
            ds->setOutputFactory(nullptr);
        });
        QVERIFY(ds->init(nullptr));
        const QString kept = QStringLiteral("Latency: ~23.2 ms for buttons while other sounds play (queued now %1 ms) @ 44100 Hz");
        SettingsDialog d;
        auto* latency = d.findChild<QLabel*>(QStringLiteral("latencyLabel"));
        QCOMPARE(latency->text(), kept.arg(QStringLiteral("23.2")));
        auto* status = d.findChild<QLabel*>(QStringLiteral("audioStatusLabel"));
        QCOMPARE(status->text(), QStringLiteral("Current: wasapi_shared  |  Buffer: 512  |  Preload: ON"));
        restartLog.clear();
        QSignalSpy changed(&d, &SettingsDialog::settingsChanged);
        QComboBox* buffers = bufferCombo(d);
        buffers->setCurrentIndex(buffers->findData(2048));
        QCOMPARE(SettingsKeys::readInt(SettingsKeys::AudioBuffer), 2048);
        QCOMPARE(restartLog.value(0), QStringLiteral("wasapi.open usb-out"));
        QCOMPARE(latency->text(), kept.arg(QStringLiteral("23.2")));
        QCOMPARE(status->text(), QStringLiteral("Current: wasapi_shared  |  Buffer: 2048  |  Preload: ON"));
        // A dropout the output counts grows the queue; the line shows it at
        // its next refresh.
        ManualOutput* out = ManualOutput::lastOpened();
        QVERIFY(out);
        out->injectUnderrun();
        out->signalPeriod();
        QTRY_VERIFY(ds->queueFrames() > 1024);
        auto* refresh = latency->findChild<QTimer*>(QStringLiteral("latencyRefresh"));
        QVERIFY(refresh && refresh->isActive());
        TestSupport::fireTimer(refresh);
        QCOMPARE(latency->text(), kept.arg(QString::number(ds->queueFrames() * 1000.0 / 44100, 'f', 1)));
        QVERIFY(!latency->text().contains(QLatin1String("(now 23.2 ms)")));
        preloadSwitch(d)->toggle();
        QCOMPARE(SettingsKeys::readBool(SettingsKeys::AudioPreload), false);
        QCOMPARE(changed.size(), 2);
        QCOMPARE(status->text(), QStringLiteral("Current: wasapi_shared  |  Buffer: 2048  |  Preload: OFF"));
    }

    // ---- Apply && Restart App --------------------------------------------

    void restartCancelKeepsKeysAndDialog()
    {
        SettingsTest::writeStore("[audio]\nbuffer=256\n");
        answerYes = false;
        SettingsDialog d;
        d.findChild<QPushButton*>(QStringLiteral("restartBtn"))->click();
        QCOMPARE(SettingsKeys::readInt(SettingsKeys::AudioBuffer), 256);
        QCOMPARE(SettingsKeys::readBool(SettingsKeys::AudioPreload), true);
        QVERIFY(AppSettings().contains(SettingsKeys::AudioDevice));
        QCOMPARE(d.result(), 0);
        QVERIFY(restartTimers().isEmpty());
    }

    // The chain: the engines stop, then the new process starts with the same
    // arguments, then the program quits; each failure stops it with a warning.
    // ---- Looks -------------------------------------------------------------

    // In every preset, on every page: each text reads on the ground drawn
    // under it (4.5 : 1, large text 3 : 1); each control the Tab key reaches
    // looks different with the focus than without it; and at the dialog's
    // first size and at its smallest every text is whole (one line that
    // fits, or wrapped lines that fit).
    void everyPageReadable_data()
    {
        QTest::addColumn<int>("preset");
        const QMetaEnum presets = QMetaEnum::fromType<ThemeManager::Preset>();
        for (int i = 0; i < presets.keyCount(); ++i)
            QTest::newRow(presets.key(i)) << presets.value(i);
    }
    void everyPageReadable()
    {
        QFETCH(int, preset);
        ThemeManager::instance()->applyPreset(ThemeManager::Preset(preset));
        QCoreApplication::processEvents();
        SettingsDialog d;
        d.show();
        QVERIFY(QTest::qWaitForWindowExposed(&d));
        d.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&d));
        QStringList faint, unmarked, cut;
        for (int page = 0; page < 5; ++page) {
            d.showPage(SettingsDialog::Page(page));
            QCoreApplication::processEvents();
            // The page from top to bottom, a screenful at a time.
            auto* area = qobject_cast<QScrollArea*>(d.findChild<QStackedWidget*>()->currentWidget());
            QScrollBar* bar = area ? area->verticalScrollBar() : nullptr;
            for (int at = 0;; at += bar->pageStep()) {
                if (bar)
                    bar->setValue(at);
                QCoreApplication::processEvents();
                faint << faintTexts(d);
                if (!bar || at >= bar->maximum())
                    break;
            }
            if (bar)
                bar->setValue(0);
            unmarked << unmarkedFocus(d);
        }
        for (const QSize size : {QSize(700, 540), d.minimumSize()}) {
            d.resize(size);
            QTRY_COMPARE(d.size(), size);
            for (int page = 0; page < 5; ++page) {
                d.showPage(SettingsDialog::Page(page));
                QCoreApplication::processEvents();
                cut << cutTexts(d);
            }
        }
        for (QStringList* list : {&faint, &unmarked, &cut})
            list->removeDuplicates();
        QVERIFY2(faint.isEmpty(), qPrintable("faint:\n" + faint.join('\n')));
        QVERIFY2(unmarked.isEmpty(), qPrintable("no focus mark:\n" + unmarked.join('\n')));
        QVERIFY2(cut.isEmpty(), qPrintable("cut:\n" + cut.join('\n')));
    }

    void restartChain_data()
    {
        QTest::addColumn<int>("how");   // 0 fine, 1 save fails, 2 save-as cancelled, 3 start fails, 4 store unwritable
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<QString>("warning");
        const QString program = QCoreApplication::applicationFilePath();
        const QString start = QStringLiteral("start %1 %2").arg(program, QCoreApplication::arguments().mid(1).join(' '));
        QTest::newRow("restarts") << 0 << QStringList{"drum stopped", start, "quit"} << QString();
        QTest::newRow("session save fails") << 1 << QStringList{} << QStringLiteral("session was not saved");
        QTest::newRow("save-as cancelled") << 2 << QStringList{} << QStringLiteral("session was not saved");
        QTest::newRow("start fails") << 3 << QStringList{"fail-start", "drum stopped", start}
                                     << QStringLiteral("could not be started again");
        QTest::newRow("store cannot be written") << 4 << QStringList{} << QStringLiteral("settings file cannot be written");
    }

    void restartChain()
    {
        QFETCH(int, how);
        QFETCH(QStringList, expected);
        QFETCH(QString, warning);
        const QString dir = TestSupport::tempDir();
        Session& session = SessionManager::instance()->session();
        session.filePath = how == 1 ? dir + QStringLiteral("/missing/folder/s.vx")
                         : how == 2 ? QString()
                                    : dir + QStringLiteral("/s.vx");
        if (how == 3)
            restartLog << QStringLiteral("fail-start");

        // A pad that sounds until the engines are stopped.
        DrumEngine* drum = DrumEngine::instance();
        drum->preload(QStringLiteral("pad"), QByteArray(44100 * 4 * 20, '\x10'), 1.0f);
        drum->triggerDirect(QStringLiteral("pad"));
        QVERIFY(drum->isPlaying(QStringLiteral("pad")));

        auto dialog = std::make_unique<SettingsDialog>();
        if (how == 4)
            QVERIFY(SettingsTest::blockStore());
        dialog->findChild<QPushButton*>(QStringLiteral("restartBtn"))->click();
        if (how == 4)
            SettingsTest::unblockStore();
        const bool accepted = dialog->result() == QDialog::Accepted;
        dialog.reset();   // the chain outlives the dialog
        const QList<QTimer*> first = restartTimers();
        if (!first.isEmpty())
            QCOMPARE(first[0]->interval(), SettingsDialog::kRestartStopMs);
        runRestartChain();
        drum->stopAll();
        QCOMPARE(restartLog.filter(QRegularExpression("^(?!wasapi)")), expected);
        QCOMPARE(accepted, how == 0 || how == 3);
        if (warning.isEmpty())
            QVERIFY2(warnings.isEmpty(), qPrintable(warnings));
        else
            QVERIFY2(warnings.contains(warning), qPrintable(warnings));
        QVERIFY(restartTimers().isEmpty());
        session.filePath.clear();
    }

    // A device missing just now stays stored through the restart unless the
    // user chose another row.
    void restartKeepsAMissingDevice_data()
    {
        QTest::addColumn<bool>("chooseDefault");
        QTest::addColumn<QString>("stored");
        QTest::newRow("left alone") << false << QStringLiteral("unplugged-usb");
        QTest::newRow("Default Output chosen") << true << QString();
    }

    void restartKeepsAMissingDevice()
    {
        QFETCH(bool, chooseDefault);
        QFETCH(QString, stored);
        SettingsTest::writeStore("[audio]\ndevice=unplugged-usb\n");
        answerYes = false;
        SettingsDialog d;
        QComboBox* devices = deviceCombo(d);
        QCOMPARE(devices->currentIndex(), 0);
        if (chooseDefault && devices->count() < 2)
            QSKIP("needs an output to choose");
        if (chooseDefault) {
            devices->setCurrentIndex(devices->count() - 1);
            devices->setCurrentIndex(0);
        }
        d.findChild<QPushButton*>(QStringLiteral("restartBtn"))->click();
        QCOMPARE(SettingsKeys::readString(SettingsKeys::AudioDevice), stored);
    }
};

QTEST_MAIN(TestSettingsDialog)
#include "tst_settingsdialog.moc"
