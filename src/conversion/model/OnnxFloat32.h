#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

// Rewrites an ONNX model that computes in half precision into the form OpenCV's DNN module
// reads: every float16 weight and constant becomes float32, Cast nodes that target float16
// target float32 instead, declared float16 values are declared float32, and the main graph's
// nodes are put in dependency order (a node after every node whose output it reads; among
// nodes that are ready, the original order is kept). Everything else is copied byte for byte.
//
// The model is read as protobuf wire data; no ONNX or protobuf library is needed.
namespace OnnxFloat32 {

// False, with the reason in `error`, when `model` is not well-formed protobuf, keeps its
// weights in external files, or has a node whose input nothing produces (or a cycle).
bool convert(QByteArrayView model, QByteArray *out, QString *error = nullptr);

} // namespace OnnxFloat32
