#pragma once
#include <QUrl>

// What the program fetches from the network: web addresses only. A file:,
// data: or ftp: address named by a service's reply is never followed.
namespace WebAddress {

// An http or https address with a host.
inline bool isFetchable(const QUrl& url)
{
    const QString scheme = url.scheme().toLower();
    return url.isValid() && !url.host().isEmpty()
        && (scheme == QLatin1String("http") || scheme == QLatin1String("https"));
}

// A host under the reserved .invalid domain (the stand-in service address):
// it never resolves, so it is not even looked up.
inline bool isReserved(const QUrl& url)
{
    return url.host().endsWith(QLatin1String(".invalid"));
}

} // namespace WebAddress
