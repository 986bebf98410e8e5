#include "conversion/MediaBackend.h"

#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QMetaObject>
#include <QPointer>
#include <QtConcurrent/QtConcurrentRun>

#include <atomic>
#include <cstdio>
#include <mutex>

#include <dlfcn.h>

namespace {

std::atomic<const MediaBackend *> g_backend{nullptr};
std::once_flag g_loadOnce;
QString g_error;

QString executableFolder()
{
    const QFileInfo exe(QStringLiteral("/proc/self/exe"));
    const QString target = exe.canonicalFilePath();
    return target.isEmpty() ? QString() : QFileInfo(target).absolutePath();
}

const MediaBackend *loadModule()
{
    QStringList tried;
    for (const QString &path : mediaModuleCandidates()) {
        if (!QFileInfo::exists(path))
            continue;
        tried << path;
        // The module stays loaded for the life of the process: converters it made may
        // still be alive anywhere.
        void *handle = ::dlopen(QFile::encodeName(path).constData(), RTLD_NOW | RTLD_LOCAL);
        if (!handle) {
            g_error = QString::fromLocal8Bit(::dlerror());
            continue;
        }
        using Entry = const MediaBackend *(*)();
        auto entry = reinterpret_cast<Entry>(::dlsym(handle, kMediaModuleEntry));
        const MediaBackend *backend = entry ? entry() : nullptr;
        if (!backend || backend->abiVersion != kMediaBackendAbi || backend->structSize != int(sizeof(MediaBackend))) {
            g_error = QStringLiteral("%1 was built for another version of Perchbox").arg(path);
            continue;
        }
        g_error.clear();
        return backend;
    }
    if (tried.isEmpty())
        g_error = QStringLiteral("%1 not found (looked in %2)")
                      .arg(QLatin1String(kMediaModuleFileName), mediaModuleCandidates().join(QStringLiteral(", ")));
    std::fprintf(stderr, "perchbox: media conversion is unavailable: %s\n", g_error.toLocal8Bit().constData());
    return nullptr;
}

// Stands in for a converter when the module is missing: every file fails with the reason.
class UnavailableConverter : public MediaConverter
{
public:
    ConversionResult convert(const ConversionRequest &) override
    {
        return ConversionResult::failure(QStringLiteral("Media support is unavailable: %1").arg(mediaBackendError()));
    }
};

std::unique_ptr<MediaConverter> makeConverter(std::unique_ptr<MediaConverter> (*MediaBackend::*factory)())
{
    if (const MediaBackend *backend = mediaBackend())
        return (backend->*factory)();
    return std::make_unique<UnavailableConverter>();
}

} // namespace

QStringList mediaModuleCandidates()
{
    QStringList out;
    // An explicit module (packagers, tests) is the only place looked at.
    const QByteArray env = qgetenv("PERCHBOX_MEDIA_MODULE");
    if (!env.isEmpty())
        return {QFile::decodeName(env)};
    const QString exeDir = executableFolder();
    if (!exeDir.isEmpty())
        out << exeDir + QLatin1Char('/') + QLatin1String(kMediaModuleFileName);
#ifdef PERCHBOX_MODULE_DIR
    out << QStringLiteral(PERCHBOX_MODULE_DIR "/") + QLatin1String(kMediaModuleFileName);
#endif
    out.removeDuplicates();
    return out;
}

void registerMediaBackend(const MediaBackend *backend)
{
    g_backend.store(backend);
}

bool mediaBackendReady()
{
    return g_backend.load() != nullptr;
}

const MediaBackend *mediaBackend()
{
    if (const MediaBackend *backend = g_backend.load())
        return backend;
    std::call_once(g_loadOnce, [] {
        if (const MediaBackend *loaded = loadModule()) {
            const MediaBackend *expected = nullptr;
            g_backend.compare_exchange_strong(expected, loaded);
        }
    });
    return g_backend.load();
}

QString mediaBackendError()
{
    mediaBackend();
    return g_error;
}

std::unique_ptr<MediaConverter> makeAudioConverter()
{
    return makeConverter(&MediaBackend::makeAudioConverter);
}

std::unique_ptr<MediaConverter> makeVideoConverter()
{
    return makeConverter(&MediaBackend::makeVideoConverter);
}

std::unique_ptr<MediaConverter> makeImageConverter()
{
    return makeConverter(&MediaBackend::makeImageConverter);
}

void whenMediaBackendReady(QObject *context, std::function<void()> ready)
{
    if (mediaBackendReady()) {
        ready();
        return;
    }
    QPointer<QObject> guard(context);
    (void)QtConcurrent::run([guard, ready = std::move(ready)] {
        mediaBackend();
        if (QObject *target = guard.data())
            QMetaObject::invokeMethod(target, [guard, ready] {
                if (guard)
                    ready();
            }, Qt::QueuedConnection);
    });
}

void warmUpBackgroundRemoval()
{
    static std::atomic<bool> running{false};
    if (running.exchange(true))
        return;
    (void)QtConcurrent::run([] {
        if (const MediaBackend *backend = mediaBackend(); backend && backend->backgroundRemovalAvailable())
            backend->warmUpBackgroundRemoval();
        running = false;
    });
}

bool backgroundRemovalAvailable()
{
    const MediaBackend *backend = mediaBackend();
    return backend && backend->backgroundRemovalAvailable();
}

QString backgroundRemovalUnavailableHint()
{
    if (const MediaBackend *backend = mediaBackend())
        return backend->backgroundRemovalUnavailableHint();
    return QStringLiteral("Unavailable: media support is not installed.");
}

QList<ImageOutputFormat> writableImageFormats()
{
    if (const MediaBackend *backend = mediaBackend())
        return backend->writableImageFormats();
    return {};
}

ImageOutputFormat defaultImageOutputFormat()
{
    const QList<ImageOutputFormat> writable = writableImageFormats();
    return writable.isEmpty() ? ImageOutputFormat::png : writable.first();
}
