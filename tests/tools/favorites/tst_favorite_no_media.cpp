// A Convert favorite where the media code cannot be loaded: the run fails with the reason,
// in an alert and on the button, and nothing is written.
#include "model/ShelfManager.h"
#include "settings/SettingsStore.h"
#include "tools/favorites/FavoriteRules.h"
#include "tools/favorites/FavoriteRunner.h"
#include "tools/presets/PresetStore.h"
#include "tools/progress/ShelfProgressState.h"

#include <QImage>
#include <QTemporaryDir>
#include <QtTest>

namespace {
class RecordingHost : public FavoriteRunHost
{
public:
    void chooseFolder(const QString &, const QString &, std::function<void(std::optional<QUrl>)> done) override
    {
        done(QUrl::fromLocalFile(folder));
    }
    void showAlert(const QString &title, const QString &message, const QString &details) override
    {
        alerts << (title + " | " + message + " | " + details);
    }
    void copyText(const QString &) override {}
    void reveal(const QList<QUrl> &) override {}
    QString folder;
    QStringList alerts;
};
} // namespace

class FavoriteNoMediaTest : public QObject
{
    Q_OBJECT
private slots:
    void convertFailsWithTheReason()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        qputenv("XDG_DATA_HOME", QFile::encodeName(dir.filePath("data")));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir.filePath("config")));
        // The loader looks only here, and finds nothing.
        QDir().mkpath(dir.filePath("modules"));
        qputenv("PERCHBOX_MODULE_DIR", QFile::encodeName(dir.filePath("modules")));

        QDir().mkpath(dir.filePath("files"));
        QDir().mkpath(dir.filePath("out"));
        QImage image(8, 8, QImage::Format_RGB32);
        image.fill(Qt::red);
        QVERIFY(image.save(dir.filePath("files/red.png")));

        SettingsStore settings(dir.filePath("settings.json"));
        PresetStore presets(settings);
        ConversionPreset preset;
        preset.id = QUuid::createUuid();
        preset.name = QStringLiteral("JPEG");
        preset.imageFormat = QStringLiteral("public.jpeg");
        presets.saveConversion(preset);

        ShelfManager manager;
        const Shelf shelf = Shelf::make(QStringLiteral("Pics"), ShelfColorData::systemBlue(), QStringLiteral("photo"));
        manager.appendShelf(shelf);
        manager.addFiles({QUrl::fromLocalFile(dir.filePath("files/red.png"))}, shelf.id);
        QTRY_COMPARE(manager.shelf(shelf.id)->files.size(), 1);
        const ShelfFavoriteAction favorite = FavoriteRules::pinned(ShelfFavoriteToolKind::convert, preset.id, preset.name);
        manager.updateShelf(shelf.id, [&](Shelf &s) { s.favorites.append(favorite); });

        auto host = std::make_shared<RecordingHost>();
        host->folder = dir.filePath("out");
        ShelfProgressState progress;
        FavoriteRunner::Context context;
        context.manager = &manager;
        context.presets = &presets;
        context.host = host;
        context.progress = &progress;
        FavoriteRunner runner(shelf.id, context);
        QSignalSpy failed(&runner, &FavoriteRunner::runFailed);
        QVERIFY(runner.favoriteTapped(favorite.id, {}));
        QTRY_VERIFY_WITH_TIMEOUT(!runner.runningFavoriteID(), 30000);
        QCOMPARE(failed.size(), 1);
        QCOMPARE(runner.feedback(favorite.id), FavoriteRunFeedback::failure);
        QCOMPARE(host->alerts.size(), 1);
        QVERIFY2(host->alerts[0].startsWith("Convert Favorite Failed | Perchbox cannot convert these files. | "),
                 qPrintable(host->alerts[0]));
        QVERIFY2(host->alerts[0].contains("libperchbox-image.so"), qPrintable(host->alerts[0]));
        QVERIFY(QDir(dir.filePath("out")).isEmpty());
        QCOMPARE(progress.phase(), ShelfProgressState::Phase::error);
    }
};

QTEST_MAIN(FavoriteNoMediaTest)
#include "tst_favorite_no_media.moc"
