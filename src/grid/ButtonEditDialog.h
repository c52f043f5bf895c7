#pragma once
#include <QDialog>
#include <QPointer>

#include "Types.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QCheckBox;
template <typename T>
class QFutureWatcher;

// The modal "Edit Button" form for the look of one sound button: label,
// shortcut key, font size, colours, background image and loop. It edits a
// working copy with a live preview; the caller takes result() after
// acceptance. It plays no sound.
class ButtonEditDialog : public QDialog
{
    Q_OBJECT
public:
    static constexpr QSize kPreviewSize{160, 80};
    // Largest image file taken in; bigger files would swell the session file
    // and every copy of the button with megabytes of text.
    static constexpr qint64 kMaxImageBytes = 32LL * 1024 * 1024;

    ButtonEditDialog(const ButtonData& btn, QWidget* parent = nullptr);

    ButtonData result() const { return m_btn; }

    // OK is refused, with the reason, while the key box holds a new key that
    // cannot play the button; the dialog stays open for another key. The
    // key the button came with is never refused.
    void done(int r) override;

    // A new key that one of these tabs' stop or volume keys takes is refused
    // too, naming the tab.
    void refuseTabKeysOf(const QList<TabData>& tabs);

    // The preview picture of a record at a size: rounded face, key in the top
    // left, label centred. Neither the image nor the loop flag is shown.
    static QPixmap renderPreview(const ButtonData& btn, QSize size);

    // True while a chosen image file is being read.
    bool isReadingImage() const { return !m_imageRead.isNull(); }

private:
    struct ImageFile
    {
        bool ok = false;
        bool tooLarge = false;
        qint64 size = 0;
        QByteArray base64;
    };
    static ImageFile readImage(const QString& path);

    void updateColorBtn(QPushButton* btn, const QColor& c, const QString& fallback);
    void updatePreview();
    void pickBgColor();
    void pickTextColor();
    void pickImage();
    void takeImage(const QString& path, const ImageFile& file);

    ButtonData m_btn;
    const QString m_originalKey;    // the key the button came with
    QList<TabData> m_tabKeys;       // the tabs whose keys are refused, without their buttons
    bool m_textChosen = false;      // a text colour was picked in this dialog
    QLabel* m_preview = nullptr;
    QPushButton* m_bgBtn = nullptr;
    QPushButton* m_textBtn = nullptr;
    QPushButton* m_imgBtn = nullptr;
    QLineEdit* m_nameEdit = nullptr;
    QLineEdit* m_keyEdit = nullptr;
    QSpinBox* m_fontSpin = nullptr;
    QCheckBox* m_loopCheck = nullptr;
    QPushButton* m_okBtn = nullptr;
    QPointer<QFutureWatcher<ImageFile>> m_imageRead;
};
