#include "ButtonEditDialog.h"

#include <QCheckBox>
#include <QColorDialog>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileInfo>
#include <QFormLayout>
#include <QFutureWatcher>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QSpinBox>
#include <QThreadPool>
#include <QVBoxLayout>
#include <QtConcurrent/QtConcurrentRun>

#include "ButtonKey.h"
#include "FileCheck.h"
#include "Modal.h"
#include "OpLog.h"
#include "SoundButton.h"
#include "TabKeys.h"
#include "ThemeManager.h"

namespace {

const QString kChoose = QStringLiteral("Choose…");
const QString kAddImage = QStringLiteral("Add Image…");
const QString kChangeImage = QStringLiteral("Change Image…");

} // namespace

ButtonEditDialog::ButtonEditDialog(const ButtonData& btn, QWidget* parent)
    : QDialog(parent)
    , m_btn(btn)
    , m_originalKey(btn.key)
{
    const ThemeColors& tc = ThemeManager::instance()->colors();
    // Muted texts stand on the dialog's ground, the group's surface and the
    // raised surface of the group's title.
    const QColor muted = ThemeManager::readableOn(tc.textMuted, {tc.bg, tc.surface, tc.surfaceAlt});

    setWindowTitle(QStringLiteral("Edit Button"));
    setMinimumWidth(420);
    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(16, 16, 16, 16);

    m_preview = new QLabel(this);
    m_preview->setObjectName(QStringLiteral("buttonPreview"));
    m_preview->setFixedSize(kPreviewSize);
    m_preview->setAlignment(Qt::AlignCenter);
    m_preview->setStyleSheet(QStringLiteral("border:1px solid %1; border-radius:10px; background:%2;")
                                 .arg(tc.border.name(), tc.surfaceAlt.name()));
    auto* previewRow = new QHBoxLayout;
    previewRow->addStretch();
    previewRow->addWidget(m_preview);
    previewRow->addStretch();
    root->addLayout(previewRow);

    auto* group = new QGroupBox(QStringLiteral("Button Properties"), this);
    group->setStyleSheet(
        QStringLiteral("QGroupBox { background:%1; border:1px solid %2; border-radius:8px;  margin-top:10px; "
                       "padding:12px; color:%3; font-size:11px; font-weight:700; }"
                       "QGroupBox::title { subcontrol-origin:margin; left:10px; padding:0 4px; }")
            .arg(tc.surface.name(), tc.border.name(), muted.name()));
    auto* form = new QFormLayout(group);
    form->setSpacing(8);

    m_nameEdit = new QLineEdit(m_btn.name, group);
    m_nameEdit->setObjectName(QStringLiteral("nameEdit"));
    m_nameEdit->setPlaceholderText(QStringLiteral("Button label"));
    connect(m_nameEdit, &QLineEdit::textChanged, this, [this](const QString& t) {
        m_btn.name = t;
        updatePreview();
    });
    form->addRow(QStringLiteral("Label:"), m_nameEdit);

    m_keyEdit = new QLineEdit(m_btn.key, group);
    m_keyEdit->setObjectName(QStringLiteral("keyEdit"));
    m_keyEdit->setMaxLength(4);
    m_keyEdit->setPlaceholderText(QStringLiteral("e.g. Q  or  F1"));
    connect(m_keyEdit, &QLineEdit::textChanged, this, [this](const QString& t) {
        m_btn.key = ButtonKey::stored(t);
        updatePreview();
    });
    form->addRow(QStringLiteral("Shortcut Key:"), m_keyEdit);

    m_fontSpin = new QSpinBox(group);
    m_fontSpin->setObjectName(QStringLiteral("fontSizeSpin"));
    m_fontSpin->setRange(0, 72);
    m_fontSpin->setSpecialValueText(QStringLiteral("Auto"));
    m_fontSpin->setValue(m_btn.fontSize);
    connect(m_fontSpin, &QSpinBox::valueChanged, this, [this](int v) {
        m_btn.fontSize = v;
        updatePreview();
    });
    form->addRow(QStringLiteral("Font Size (px):"), m_fontSpin);

    m_bgBtn = new QPushButton(kChoose, group);
    m_bgBtn->setObjectName(QStringLiteral("bgColorBtn"));
    m_bgBtn->setFixedHeight(26);
    updateColorBtn(m_bgBtn, m_btn.bgColor, tc.surfaceHover.name());
    connect(m_bgBtn, &QPushButton::clicked, this, &ButtonEditDialog::pickBgColor);
    form->addRow(QStringLiteral("Button Color:"), m_bgBtn);

    m_textBtn = new QPushButton(kChoose, group);
    m_textBtn->setObjectName(QStringLiteral("textColorBtn"));
    m_textBtn->setFixedHeight(26);
    updateColorBtn(m_textBtn, m_btn.textColor, tc.text.name());
    connect(m_textBtn, &QPushButton::clicked, this, &ButtonEditDialog::pickTextColor);
    form->addRow(QStringLiteral("Text Color:"), m_textBtn);

    m_imgBtn = new QPushButton(m_btn.img.isEmpty() ? kAddImage : kChangeImage, group);
    m_imgBtn->setObjectName(QStringLiteral("imageBtn"));
    m_imgBtn->setFixedHeight(26);
    connect(m_imgBtn, &QPushButton::clicked, this, &ButtonEditDialog::pickImage);
    form->addRow(QStringLiteral("Background Image:"), m_imgBtn);
    root->addWidget(group);

    m_loopCheck = new QCheckBox(QStringLiteral("🔁 Loop playback"), this);
    m_loopCheck->setObjectName(QStringLiteral("loopCheck"));
    m_loopCheck->setChecked(m_btn.loop);
    m_loopCheck->setStyleSheet(QStringLiteral("color:%1; font-size:12px;").arg(tc.text.name()));
    connect(m_loopCheck, &QCheckBox::toggled, this, [this](bool on) { m_btn.loop = on; });
    root->addWidget(m_loopCheck);

    if (!m_btn.audioPath.isEmpty()) {
        auto* file = new QLabel(QStringLiteral("🎵 ") + QFileInfo(m_btn.audioPath).fileName(), this);
        file->setObjectName(QStringLiteral("audioFileLabel"));
        file->setTextFormat(Qt::PlainText);
        file->setWordWrap(true);
        file->setStyleSheet(QStringLiteral("color:%1; font-size:10px;").arg(muted.name()));
        root->addWidget(file);
    }

    auto* box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    // Some platform themes put stock icons on dialog buttons; these have none.
    for (QAbstractButton* b : box->buttons())
        b->setIcon(QIcon());
    m_okBtn = box->button(QDialogButtonBox::Ok);
    m_okBtn->setStyleSheet(QStringLiteral("background:%1;color:%2;border:none;border-radius:9px;"
                                          "padding:6px 18px;font-weight:600;")
                               .arg(tc.accent.name(), ThemeManager::readableOn(Qt::white, {tc.accent}).name()));
    connect(box, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(box, &QDialogButtonBox::rejected, this, &QDialog::reject);
    root->addWidget(box);

    updatePreview();
}

void ButtonEditDialog::done(int r)
{
    // Only a new key is judged: a key the button has (also one a file gave
    // it that no key box would take now) never stands in the way of an edit.
    if (r == QDialog::Accepted && m_btn.key != m_originalKey) {
        if (const QString why = TabKeys::refusalOfButtonText(m_tabKeys, m_keyEdit->text()); !why.isEmpty()) {
            Modal::warning(this, QStringLiteral("Shortcut Key"), why);
            m_keyEdit->setFocus();
            m_keyEdit->selectAll();
            return;
        }
    }
    QDialog::done(r);
}

void ButtonEditDialog::refuseTabKeysOf(const QList<TabData>& tabs)
{
    m_tabKeys = tabs;
    for (TabData& t : m_tabKeys)
        t.buttons.clear();
}

void ButtonEditDialog::updateColorBtn(QPushButton* btn, const QColor& c, const QString& fallback)
{
    const ThemeColors& tc = ThemeManager::instance()->colors();
    const QColor shown = c.isValid() ? c : QColor(fallback);
    const QString name = shown.name(QColor::HexRgb);
    btn->setText(name);
    btn->setStyleSheet(QStringLiteral("QPushButton { background:%1; color:%2; border:1px solid %3; "
                                      "border-radius:9px;  padding:0 10px; font-size:11px; }"
                                      "QPushButton:hover { border-color:%4; }")
                           .arg(name, ThemeManager::readableOn(shown.lightness() < 128 ? Qt::white : Qt::black,
                                                               {shown}).name(),
                                tc.border.name(), tc.borderStrong.name()));
}

void ButtonEditDialog::pickBgColor()
{
    const ThemeColors& tc = ThemeManager::instance()->colors();
    QColorDialog dlg(this);
    dlg.setWindowTitle(QStringLiteral("Button Color"));
    // The alpha option first: a colour set before it loses its alpha.
    dlg.setOption(QColorDialog::ShowAlphaChannel, true);
    dlg.setCurrentColor(m_btn.bgColor.isValid() ? m_btn.bgColor : tc.surfaceHover);
    if (Modal::exec(&dlg) != QDialog::Accepted)
        return;
    const QColor c = dlg.selectedColor().isValid() ? dlg.selectedColor() : dlg.currentColor();
    if (!c.isValid())
        return;
    // A text colour the user never chose follows the new background: the
    // record keeps none and the pad draws its contrast colour.
    if (m_textChosen) {
        m_btn.bgColor = c;
    } else {
        SoundButton::recolor(m_btn, c);
        updateColorBtn(m_textBtn, m_btn.textColor, tc.text.name());
    }
    updateColorBtn(m_bgBtn, m_btn.bgColor, tc.surfaceHover.name());
    updatePreview();
}

void ButtonEditDialog::pickTextColor()
{
    const ThemeColors& tc = ThemeManager::instance()->colors();
    const QColor c =
        Modal::getColor(m_btn.textColor.isValid() ? m_btn.textColor : tc.text, this, QStringLiteral("Text Color"));
    if (!c.isValid())
        return;
    m_btn.textColor = c;
    m_textChosen = true;
    updateColorBtn(m_textBtn, m_btn.textColor, tc.text.name());
    updatePreview();
}

ButtonEditDialog::ImageFile ButtonEditDialog::readImage(const QString& path)
{
    ImageFile out;
    if (!FileCheck::isRegularFile(path))
        return out;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return out;
    out.size = f.size();
    if (out.size > kMaxImageBytes) {
        out.tooLarge = true;
        return out;
    }
    const QByteArray bytes = f.read(kMaxImageBytes + 1);
    if (f.error() != QFileDevice::NoError || bytes.size() > kMaxImageBytes) {
        out.tooLarge = bytes.size() > kMaxImageBytes;
        return out;
    }
    out.ok = true;
    out.base64 = bytes.toBase64();
    return out;
}

void ButtonEditDialog::pickImage()
{
    if (m_imageRead)
        return;
    const QString path = Modal::getOpenFileName(this, QStringLiteral("Choose Image"), QString(),
                                                QStringLiteral("Images (*.png *.jpg *.jpeg *.webp *.bmp *.gif)"));
    if (path.isEmpty())
        return;
    // A pipe would hold the reading thread, and with it the dialog, forever.
    QString why;
    if (!FileCheck::isRegularFile(path, &why)) {
        VX_LOG(QStringLiteral("[ButtonEdit] cannot read image %1: %2").arg(path, why));
        return;
    }
    // The file is read on the pool; until it is in, the record cannot be taken.
    m_imgBtn->setEnabled(false);
    m_okBtn->setEnabled(false);
    auto* watcher = new QFutureWatcher<ImageFile>(this);
    m_imageRead = watcher;
    connect(watcher, &QFutureWatcher<ImageFile>::finished, this, [this, watcher, path] {
        watcher->deleteLater();
        m_imageRead = nullptr;
        m_imgBtn->setEnabled(true);
        m_okBtn->setEnabled(true);
        takeImage(path, watcher->result());
    });
    watcher->setFuture(QtConcurrent::run(QThreadPool::globalInstance(), &ButtonEditDialog::readImage, path));
}

void ButtonEditDialog::takeImage(const QString& path, const ImageFile& file)
{
    if (file.tooLarge) {
        VX_LOG(QStringLiteral("[ButtonEdit] image too large: %1 (%2 bytes)").arg(path).arg(file.size));
        Modal::warning(this, QStringLiteral("Choose Image"),
                       QStringLiteral("\"%1\" is too large for a button image (%2 MB). Choose a file of at most "
                                      "%3 MB.")
                           .arg(QFileInfo(path).fileName())
                           .arg(double(file.size) / (1024.0 * 1024.0), 0, 'f', 1)
                           .arg(kMaxImageBytes / (1024 * 1024)));
        return;
    }
    if (!file.ok)
        return;
    m_btn.img = QString::fromLatin1(file.base64);
    m_imgBtn->setText(kChangeImage);
    updatePreview();
}

QPixmap ButtonEditDialog::renderPreview(const ButtonData& btn, QSize size)
{
    const ThemeColors& tc = ThemeManager::instance()->colors();
    QPixmap pm(size);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setRenderHint(QPainter::TextAntialiasing, true);

    const QRectF face = QRectF(pm.rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    const QColor fill = btn.bgColor.isValid() ? btn.bgColor : tc.surfaceHover;
    p.setPen(QPen(tc.border, 1.0));
    p.setBrush(fill);
    p.drawRoundedRect(face, 6, 6);

    if (!btn.key.isEmpty()) {
        QFont f;
        f.setPixelSize(8);
        f.setWeight(QFont::Bold);
        p.setFont(f);
        // The accent, moved as far as it must be to read on the face as the
        // label shows it: a translucent colour over the preview's own ground.
        p.setPen(ThemeManager::readableOn(tc.accent, {ThemeManager::blended(fill, tc.surfaceAlt)}));
        p.drawText(QRect(QPoint(4, 3), pm.rect().bottomRight()), Qt::AlignLeft | Qt::AlignTop, btn.key);
    }

    QFont f;
    f.setPixelSize(btn.fontSize < 1 ? 10 : btn.fontSize);
    f.setWeight(QFont::DemiBold);
    p.setFont(f);
    // As the pad draws it: without a text colour, the contrast colour of its background.
    if (btn.textColor.isValid())
        p.setPen(btn.textColor);
    else
        p.setPen(btn.bgColor.isValid() ? SoundButton::contrastColor(btn.bgColor, 240, 210) : tc.text);
    p.drawText(QRect(4, 12, size.width() - 8, size.height() - 16), Qt::AlignCenter | Qt::TextWordWrap,
               btn.name.isEmpty() ? QStringLiteral("(empty)") : btn.name);
    return pm;
}

void ButtonEditDialog::updatePreview()
{
    m_preview->setPixmap(renderPreview(m_btn, m_preview->size()));
}
