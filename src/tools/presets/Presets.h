#pragma once

#include "tools/presets/RenamePreset.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QUuid>

#include <optional>

// The saved option sets of the four file tools. Enumerated options are kept as their raw
// strings, as stored, so that a preset written by a newer version (with cases this one does
// not know) survives a round trip; the tool windows map them when they apply a preset.
// (Rename keeps its two enumerations typed: an unknown case mode applies as "unchanged".)

struct ArchivePreset {
    QUuid id;
    QString name;
    QString format = QStringLiteral("zip");              // ArchiveFormat raw value
    QString compressionLevel = QStringLiteral("normal"); // CompressionLevel raw value
    bool usePassword = false;
    QString password;
    bool zipIndividually = false;
    bool removeOriginals = false;
    bool operator==(const ArchivePreset &) const = default;
};

struct FlattenPreset {
    QUuid id;
    QString name;
    QString duplicateMode = QStringLiteral("keepForReview"); // FlattenDuplicateMode raw value
    QString operation = QStringLiteral("copy");              // FlattenOperation raw value
    bool operator==(const FlattenPreset &) const = default;
};

struct ConversionPreset {
    QUuid id;
    QString name;
    QString audioFormat = QStringLiteral("wav");
    QString sampleRate = QStringLiteral("original");
    QString bitDepth = QStringLiteral("original");
    QString channels = QStringLiteral("original");
    int mp3Bitrate = 320;
    int aacBitrate = 256;
    QString videoFormat = QStringLiteral("h264");
    QString proResProfile = QStringLiteral("2");
    QString videoCRF = QStringLiteral("21");
    QString frameRate = QStringLiteral("original");
    QString resolution = QStringLiteral("original");
    QString videoChannels = QStringLiteral("original");
    bool preserveDuration = false;
    bool burnSubtitles = false;
    bool videoAsAudioOnly = false;
    QString imageFormat = QStringLiteral("public.png");
    int imageQuality = 90;
    QString imageDimensions = QStringLiteral("original");
    bool preserveImageMetadata = true;
    bool removeImageBackground = false;
    QString outputMode = QStringLiteral("flatFolder");
    bool operator==(const ConversionPreset &) const = default;
};

// JSON coding. Decoding is strict (a missing or mistyped key fails) except where a record
// documents a default; writing always emits every key.
namespace PresetJson {

QJsonObject encode(const ArchivePreset &p);
QJsonObject encode(const RenamePreset &p);
QJsonObject encode(const FlattenPreset &p);
QJsonObject encode(const ConversionPreset &p);

std::optional<ArchivePreset> decodeArchive(const QJsonObject &o);
std::optional<RenamePreset> decodeRename(const QJsonObject &o);
std::optional<FlattenPreset> decodeFlatten(const QJsonObject &o);   // missing id: a new one
std::optional<ConversionPreset> decodeConversion(const QJsonObject &o);

// A whole list as UTF-8 JSON text (a JSON array), and back. A list with one bad record
// does not decode at all.
template <typename P>
QByteArray encodeList(const QList<P> &list);
template <typename P>
std::optional<QList<P>> decodeList(const QByteArray &data);

} // namespace PresetJson
