#include "conversion/MediaBackend.h"
#include "conversion/ModuleFolders.h"

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

// One loadable module: its table once loaded or registered, and why loading failed.
struct ModuleSlot {
    constexpr ModuleSlot(const char *file, const char *entryName, const char *description, int size)
        : fileName(file), entry(entryName), what(description), structSize(size)
    {
    }
    const char *fileName;
    const char *entry;
    const char *what; // for the message on stderr
    int structSize;
    std::atomic<const void *> table{nullptr};
    std::once_flag loadOnce;
    QString error;
};

// Constant-initialised: programs linked with a part register its table before main(), in
// whatever order the static initialisers run.
constinit ModuleSlot g_av{"libperchbox-av.so", "perchbox_av_backend", "audio and video conversion", int(sizeof(AvBackend))};
constinit ModuleSlot g_image{"libperchbox-image.so", "perchbox_image_backend", "image conversion", int(sizeof(ImageBackend))};

ModuleSlot &slot(MediaModule module)
{
    return module == MediaModule::av ? g_av : g_image;
}

// Both tables start with the ABI version and their own size.
struct TableHead {
    int abiVersion;
    int structSize;
};

const void *loadModule(MediaModule module)
{
    ModuleSlot &m = slot(module);
    QStringList tried;
    for (const QString &path : mediaModuleCandidates(module)) {
        if (!QFileInfo::exists(path))
            continue;
        tried << path;
        // The module stays loaded for the life of the process: converters it made may
        // still be alive anywhere.
        void *handle = ::dlopen(QFile::encodeName(path).constData(), RTLD_NOW | RTLD_LOCAL);
        if (!handle) {
            m.error = QString::fromLocal8Bit(::dlerror());
            continue;
        }
        using Entry = const void *(*)();
        auto entry = reinterpret_cast<Entry>(::dlsym(handle, m.entry));
        const void *table = entry ? entry() : nullptr;
        const auto *head = static_cast<const TableHead *>(table);
        if (!head || head->abiVersion != kMediaBackendAbi || head->structSize != m.structSize) {
            m.error = QStringLiteral("%1 was built for another version of Perchbox").arg(path);
            continue;
        }
        m.error.clear();
        return table;
    }
    if (tried.isEmpty())
        m.error = QStringLiteral("%1 not found (looked in %2)")
                      .arg(QLatin1String(m.fileName), mediaModuleCandidates(module).join(QStringLiteral(", ")));
    std::fprintf(stderr, "perchbox: %s is unavailable: %s\n", m.what, m.error.toLocal8Bit().constData());
    return nullptr;
}

const void *table(MediaModule module)
{
    ModuleSlot &m = slot(module);
    if (const void *t = m.table.load())
        return t;
    std::call_once(m.loadOnce, [&m, module] {
        if (const void *loaded = loadModule(module)) {
            const void *expected = nullptr;
            m.table.compare_exchange_strong(expected, loaded);
        }
    });
    return m.table.load();
}

// Stands in for a converter when its module is missing: every file fails with the reason.
class UnavailableConverter : public MediaConverter
{
public:
    explicit UnavailableConverter(MediaModule module) : m_module(module) {}
    ConversionResult convert(const ConversionRequest &) override
    {
        return ConversionResult::failure(QStringLiteral("Media support is unavailable: %1").arg(mediaModuleError(m_module)));
    }

private:
    MediaModule m_module;
};

} // namespace

MediaModule mediaModuleFor(MediaType type)
{
    return type == MediaType::image ? MediaModule::image : MediaModule::av;
}

QString mediaModuleFileName(MediaModule module)
{
    return QLatin1String(slot(module).fileName);
}

QStringList mediaModuleCandidates(MediaModule module)
{
    return ModuleFolders::candidates(mediaModuleFileName(module));
}

void registerAvBackend(const AvBackend *backend)
{
    g_av.table.store(backend);
}

void registerImageBackend(const ImageBackend *backend)
{
    g_image.table.store(backend);
}

const AvBackend *avBackend()
{
    return static_cast<const AvBackend *>(table(MediaModule::av));
}

const ImageBackend *imageBackend()
{
    return static_cast<const ImageBackend *>(table(MediaModule::image));
}

bool loadMediaModule(MediaModule module)
{
    return table(module) != nullptr;
}

bool mediaModuleReady(MediaModule module)
{
    return slot(module).table.load() != nullptr;
}

QString mediaModuleError(MediaModule module)
{
    table(module);
    return slot(module).error;
}

std::unique_ptr<MediaConverter> makeAudioConverter()
{
    if (const AvBackend *backend = avBackend())
        return backend->makeAudioConverter();
    return std::make_unique<UnavailableConverter>(MediaModule::av);
}

std::unique_ptr<MediaConverter> makeVideoConverter()
{
    if (const AvBackend *backend = avBackend())
        return backend->makeVideoConverter();
    return std::make_unique<UnavailableConverter>(MediaModule::av);
}

std::unique_ptr<MediaConverter> makeImageConverter()
{
    if (const ImageBackend *backend = imageBackend())
        return backend->makeImageConverter();
    return std::make_unique<UnavailableConverter>(MediaModule::image);
}

void whenMediaModuleReady(MediaModule module, QObject *context, std::function<void()> ready)
{
    if (mediaModuleReady(module)) {
        ready();
        return;
    }
    QPointer<QObject> guard(context);
    (void)QtConcurrent::run([module, guard, ready = std::move(ready)] {
        loadMediaModule(module);
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
        if (const ImageBackend *backend = imageBackend(); backend && backend->backgroundRemovalAvailable())
            backend->warmUpBackgroundRemoval();
        running = false;
    });
}

bool backgroundRemovalAvailable()
{
    const ImageBackend *backend = imageBackend();
    return backend && backend->backgroundRemovalAvailable();
}

QString backgroundRemovalUnavailableHint()
{
    if (const ImageBackend *backend = imageBackend())
        return backend->backgroundRemovalUnavailableHint();
    return QStringLiteral("Unavailable: image support is not installed.");
}

QList<ImageOutputFormat> writableImageFormats()
{
    if (const ImageBackend *backend = imageBackend())
        return backend->writableImageFormats();
    return {};
}

ImageOutputFormat defaultImageOutputFormat()
{
    const QList<ImageOutputFormat> writable = writableImageFormats();
    return writable.isEmpty() ? ImageOutputFormat::png : writable.first();
}

ImageOutputFormat writableImageFormat(ImageOutputFormat wanted)
{
    return writableImageFormats().contains(wanted) ? wanted : defaultImageOutputFormat();
}
