// Builds one TAR+GZ archive of argv[3] into the folder argv[2] through the Zip tool's runner,
// with argv[1] standing in for /usr/bin/tar, and never ends on its own: the archive tests
// SIGKILL it mid-run and look at what its archiver left behind.
#include "tools/archive/ArchiveRunner.h"

#include <QCoreApplication>
#include <QFile>
#include <QUrl>

namespace {

class SilentHost : public ArchiveRunHost
{
public:
    void chooseSaveLocation(const QString &, const QString &, ArchiveFormat,
                            std::function<void(std::optional<QUrl>)> done) override
    {
        done(std::nullopt);
    }
    void chooseDestinationFolder(std::function<void(std::optional<QUrl>)> done) override { done(std::nullopt); }
    void reveal(const QList<QUrl> &) override {}
    void showAlert(const QString &, const QString &) override {}
};

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 4)
        return 2;
    SilentHost host;
    auto *runner = new ArchiveRunner(&host);
    ArchiveToolPaths tools;
    tools.tar = QFile::decodeName(argv[1]);
    runner->setToolPaths(tools);
    ArchiveJobOptions options;
    options.format = ArchiveFormat::tarGz;
    runner->runAllIntoOne({QUrl::fromLocalFile(QFile::decodeName(argv[3]))}, QStringLiteral("orphan"), options,
                          QUrl::fromLocalFile(QFile::decodeName(argv[2])));
    return app.exec();
}
