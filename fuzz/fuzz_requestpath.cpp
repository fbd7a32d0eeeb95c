// What decides where the service client sends a request, any text:
// - as a request path, it is sent only when it resolves below the service origin;
// - as a clip id, its save path is either refused or exactly one segment below "api/clips/"
//   that decodes back to the id;
// - as a service origin, it is taken only as https, or http on a loopback host, and then as
//   scheme, host and port alone.

#include "FuzzCheck.h"

#include "service/APIClient.h"

#include <QHostAddress>

#include <cstdint>

using namespace quillpost;

namespace {

const QUrl &origin()
{
    static const QUrl url = *makeServiceURL(QStringLiteral("https://clips.example.com:8443"));
    return url;
}

// The URL a request with this path goes to, or nothing when the client refuses the path.
std::optional<QUrl> destination(const QString &path)
{
    if (!APIClient::isServicePath(path))
        return std::nullopt;
    const QUrl url = origin().resolved(QUrl(path, QUrl::StrictMode));
    FUZZ_CHECK(url.isValid());
    FUZZ_CHECK(url.scheme() == origin().scheme() && url.host() == origin().host() && url.port() == origin().port());
    FUZZ_CHECK(url.userInfo().isEmpty());
    FUZZ_CHECK(url.path().isEmpty() || url.path().startsWith(u'/'));
    return url;
}

void checkClipId(const QString &id)
{
    const std::optional<QUrl> url = destination(APIClient::savePath(id));
    if (!url)
        return;
    const QString path = url->path(QUrl::FullyEncoded);
    const QString prefix = QStringLiteral("/api/clips/");
    FUZZ_CHECK(path.startsWith(prefix));
    const QString segment = path.mid(prefix.size());
    FUZZ_CHECK(!segment.contains(u'/'));
    FUZZ_CHECK(!url->hasQuery() && !url->hasFragment());
    FUZZ_CHECK(QUrl::fromPercentEncoding(segment.toLatin1()) == id);
}

void checkOrigin(const QString &text)
{
    const std::optional<QUrl> url = makeServiceURL(text);
    if (!url)
        return;
    FUZZ_CHECK(url->isValid() && !url->host().isEmpty());
    FUZZ_CHECK(url->path().isEmpty() && !url->hasQuery() && !url->hasFragment() && url->userInfo().isEmpty());
    const QHostAddress address(url->host());
    FUZZ_CHECK(url->scheme() == QLatin1String("https")
               || (url->scheme() == QLatin1String("http")
                   && (url->host().compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0
                       || address.isLoopback())));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    destination(text);
    checkClipId(text);
    checkOrigin(text);
    return 0;
}
