#include "app/FilePath.h"

#include <QDir>
#include <QFile>
#include <QStringDecoder>
#include <QUrl>

namespace pelbrisk {

namespace {

// Every byte the path of an address may hold as it is; the others are percent-encoded.
constexpr char kUnencodedInPath[] = "/!$&'()*+,;=:@~";

} // namespace

TFilePath TFilePath::FromText(const QString& path) {
    return TFilePath(QFile::encodeName(path));
}

TFilePath TFilePath::Child(const QByteArray& name) const {
    return TFilePath(WithoutTrailingSlash().bytes_ + '/' + name);
}

TFilePath TFilePath::WithoutTrailingSlash() const {
    return TFilePath(bytes_.endsWith('/') ? bytes_.chopped(1) : bytes_);
}

TFilePath TFilePath::Cleaned() const {
    // Latin-1 maps every byte to one character and back, and the separators are ASCII.
    return TFilePath(QDir::cleanPath(QString::fromLatin1(bytes_)).toLatin1());
}

QByteArray TFilePath::FileName() const {
    const QByteArray trimmed = WithoutTrailingSlash().bytes_;
    return trimmed.mid(trimmed.lastIndexOf('/') + 1);
}

TFilePath TFilePath::Folder() const {
    const QByteArray trimmed = WithoutTrailingSlash().bytes_;
    const qsizetype slash = trimmed.lastIndexOf('/');
    if (slash < 0) return {};
    return TFilePath(slash == 0 ? QByteArray("/") : trimmed.left(slash));
}

QString TFilePath::Display() const {
    QStringList parts;
    for (const QByteArray& part : bytes_.split('/'))
        parts.append(DisplayName(part));
    return parts.join('/');
}

QString DisplayName(QByteArrayView name) {
    QStringDecoder utf8(QStringDecoder::Utf8, QStringConverter::Flag::Stateless);
    QString text = utf8.decode(name);
    if (!utf8.hasError()) return text;
    return QString::fromLatin1(name);
}

QString FileUri(const TFilePath& path) {
    return QStringLiteral("file://") +
           QString::fromLatin1(path.Bytes().toPercentEncoding(kUnencodedInPath));
}

std::optional<TFilePath> LocalFileOfUri(const QString& uri) {
    const QUrl url(uri);
    if (!url.isValid() || url.scheme() != QLatin1String("file")) return std::nullopt;
    const QString host = url.host();
    if (!host.isEmpty() && host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) != 0)
        return std::nullopt;
    const QByteArray path =
        QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1());
    if (!path.startsWith('/')) return std::nullopt;
    return TFilePath(path);
}

} // namespace pelbrisk
