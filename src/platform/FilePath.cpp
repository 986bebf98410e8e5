#include "platform/FilePath.h"

#include <QFile>
#include <QList>

#include <cerrno>
#include <cstdlib>

#include <sys/stat.h>
#include <unistd.h>

namespace FilePath {

QByteArray bytes(const QUrl &fileUrl)
{
    if (!fileUrl.isLocalFile())
        return {};
    return QByteArray::fromPercentEncoding(fileUrl.path(QUrl::FullyEncoded).toLatin1());
}

QUrl urlFromBytes(const QByteArray &path)
{
    // Keep the path's separators and the characters a URL path may hold unencoded.
    const QByteArray encoded = path.toPercentEncoding("/!$&'()*+,;=:@~-._");
    return QUrl::fromEncoded(QByteArrayLiteral("file://") + encoded, QUrl::StrictMode);
}

QUrl urlFromPath(const QString &path)
{
    return urlFromBytes(QFile::encodeName(path));
}

QString displayPath(const QUrl &fileUrl)
{
    return QFile::decodeName(bytes(fileUrl));
}

bool exists(const QUrl &fileUrl)
{
    const QByteArray path = bytes(fileUrl);
    struct stat st;
    return !path.isEmpty() && ::lstat(path.constData(), &st) == 0;
}

QByteArray standardized(const QByteArray &path)
{
    const bool absolute = path.startsWith('/');
    QList<QByteArray> parts;
    for (const QByteArray &part : path.split('/')) {
        if (part.isEmpty() || part == ".")
            continue;
        if (part == "..") {
            if (!parts.isEmpty() && parts.last() != "..")
                parts.removeLast();
            else if (!absolute)
                parts.append(part);
            continue;
        }
        parts.append(part);
    }
    QByteArray out = absolute ? QByteArray("/") : QByteArray();
    out += parts.join('/');
    return out.isEmpty() ? QByteArray(".") : out;
}

QByteArray workingDirectory()
{
    QByteArray buffer(4096, '\0');
    while (!::getcwd(buffer.data(), size_t(buffer.size()))) {
        if (errno != ERANGE)
            return "/";
        buffer.resize(buffer.size() * 2);
    }
    return QByteArray(buffer.constData());
}

QByteArray lastComponent(const QByteArray &path)
{
    QByteArray p = path;
    while (p.size() > 1 && p.endsWith('/'))
        p.chop(1);
    const qsizetype slash = p.lastIndexOf('/');
    return slash < 0 ? p : p.mid(slash + 1);
}

QByteArray parentPath(const QByteArray &path)
{
    QByteArray p = path;
    while (p.size() > 1 && p.endsWith('/'))
        p.chop(1);
    const qsizetype slash = p.lastIndexOf('/');
    if (slash < 0)
        return QByteArray(".");
    if (slash == 0)
        return QByteArray("/");
    return p.left(slash);
}

QByteArray resolvedIfLink(const QByteArray &path)
{
    struct stat st;
    if (::lstat(path.constData(), &st) != 0 || !S_ISLNK(st.st_mode))
        return path;
    char *resolved = ::realpath(path.constData(), nullptr);
    if (!resolved)
        return path;
    const QByteArray out(resolved);
    ::free(resolved);
    return out;
}

} // namespace FilePath
