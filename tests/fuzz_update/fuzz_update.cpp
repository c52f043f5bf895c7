// Feeds arbitrary bytes to the update check as the service's reply. Whatever
// the input, the reader must not crash; a download address it hands on is
// either refused by the fetch rule or a web address; a version reads as newer
// than the running one exactly when it is; and the offer's rich text carries
// the reply's texts escaped.
#include <QByteArray>
#include <QList>
#include <QString>
#include <QUrl>
#include <cstdio>
#include <cstdlib>

#include "UpdateCheck.h"
#include "WebAddress.h"

namespace {

[[noreturn]] void fail(const char* what)
{
    fprintf(stderr, "update reply: %s\n", what);
    abort();
}

// The leading dotted numbers of a version text, each as its digits without
// leading zeros, trailing zero numbers dropped. Empty when the text does not
// start with an ASCII digit. fits: every number fits in an int.
QList<QString> versionParts(const QString& text, bool* fits)
{
    QList<QString> parts;
    *fits = true;
    qsizetype i = 0;
    while (i < text.size() && text.at(i) >= QLatin1Char('0') && text.at(i) <= QLatin1Char('9')) {
        QString digits;
        while (i < text.size() && text.at(i) >= QLatin1Char('0') && text.at(i) <= QLatin1Char('9'))
            digits += text.at(i++);
        while (digits.size() > 1 && digits.front() == QLatin1Char('0'))
            digits.remove(0, 1);
        if (digits.size() > 10 || (digits.size() == 10 && digits > QLatin1String("2147483647")))
            *fits = false;
        parts << digits;
        // A dot goes on only when a number follows it.
        if (i + 1 < text.size() && text.at(i) == QLatin1Char('.') && text.at(i + 1) >= QLatin1Char('0')
            && text.at(i + 1) <= QLatin1Char('9'))
            ++i;
        else
            break;
    }
    while (!parts.isEmpty() && parts.last() == QLatin1String("0"))
        parts.removeLast();
    return parts;
}

int compareNumbers(const QString& a, const QString& b)
{
    if (a.size() != b.size())
        return a.size() < b.size() ? -1 : 1;
    return a.compare(b);
}

// Whether latest is newer than running, by the numbers alone.
bool reallyNewer(const QString& latest, const QString& running, bool* fits)
{
    bool runningFits = true;
    const QList<QString> l = versionParts(latest, fits);
    const QList<QString> r = versionParts(running, &runningFits);
    if (l.isEmpty())
        return false;
    for (qsizetype k = 0; k < qMin(l.size(), r.size()); ++k)
        if (const int c = compareNumbers(l.at(k), r.at(k)))
            return c > 0;
    return l.size() > r.size();
}

void checkVersion(const QString& latest)
{
    static const QString running[] = {QStringLiteral("2.0.84"), QStringLiteral("0"), QStringLiteral("10.2.0.1")};
    for (const QString& r : running) {
        bool fits = true;
        const bool newer = UpdateCheck::isNewer(latest, r);
        const bool truth = reallyNewer(latest, r, &fits);
        if (newer && !truth)
            fail("a version read as newer that is not");
        if (!newer && truth && fits)
            fail("a newer version not seen as newer");
    }
    if (UpdateCheck::isNewer(latest, latest))
        fail("a version newer than itself");
}

void checkOffer(const UpdateCheck::Config& c)
{
    for (bool force : {false, true}) {
        QString text = UpdateCheck::offerText(c.latestVersion, c.notes, force);
        text.remove(QStringLiteral("<b>")).remove(QStringLiteral("</b>"));
        if (text.contains(QLatin1Char('<')))
            fail("markup of the reply reached the offer");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray body = QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    UpdateCheck::Config c;
    QString error;
    if (!UpdateCheck::parse(body, &c, &error)) {
        if (error.isEmpty())
            fail("a refused reply without a reason");
        return 0;
    }
    if (c.latestVersion != c.latestVersion.trimmed() || c.downloadUrl != c.downloadUrl.trimmed())
        fail("an untrimmed text");
    const QUrl address(c.downloadUrl);
    if (WebAddress::isFetchable(address)) {
        const QString scheme = address.scheme().toLower();
        if ((scheme != QLatin1String("http") && scheme != QLatin1String("https")) || address.host().isEmpty()
            || address.isLocalFile())
            fail("a non-web download address accepted");
    }
    checkVersion(c.latestVersion);
    checkOffer(c);
    return 0;
}
