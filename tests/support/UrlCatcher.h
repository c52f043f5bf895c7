#pragma once
// Catches what QDesktopServices::openUrl is asked to open for one scheme
// while it lives, instead of handing it to the desktop.
#include <QDesktopServices>
#include <QList>
#include <QObject>
#include <QUrl>

namespace TestSupport {

class UrlCatcher : public QObject
{
    Q_OBJECT
public:
    explicit UrlCatcher(const QString& scheme) : m_scheme(scheme)
    {
        QDesktopServices::setUrlHandler(m_scheme, this, "open");
    }
    ~UrlCatcher() override { QDesktopServices::unsetUrlHandler(m_scheme); }

    QList<QUrl> urls;

public slots:
    void open(const QUrl& url) { urls << url; }

private:
    QString m_scheme;
};

} // namespace TestSupport
