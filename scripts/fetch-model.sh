#!/usr/bin/env bash
# Fetches the salient-object model used by "Remove background" (ISNet, from the npm
# package @imgly/background-removal-data, AGPL-3.0), joins its chunks, converts the fp16
# graph to fp32 with its nodes in topological order (OpenCV's DNN module reads neither
# fp16 nor unsorted graphs) and installs it where Perchbox looks for it:
#   $PERCHBOX_MODEL_DIR (if set), else ${XDG_DATA_HOME:-~/.local/share}/Perchbox/models
# as isnet-fp32.onnx. Idempotent: nothing is done when the file is already there.
# Needs npm and /usr/bin/python3 with Debian's python3-onnx (and python3-numpy).
set -euo pipefail

VERSION=1.4.5
MODEL_NAME=isnet-fp32.onnx
DEST_DIR="${PERCHBOX_MODEL_DIR:-${XDG_DATA_HOME:-$HOME/.local/share}/Perchbox/models}"
DEST="$DEST_DIR/$MODEL_NAME"

if [ -s "$DEST" ]; then
  echo "fetch-model: $DEST already present"
  exit 0
fi
command -v npm >/dev/null || { echo "fetch-model: npm is missing (apt-get install npm)" >&2; exit 1; }
PY=/usr/bin/python3
"$PY" -c "import onnx, numpy" 2>/dev/null || { echo "fetch-model: $PY lacks onnx/numpy (apt-get install python3-onnx)" >&2; exit 1; }

WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT
cd "$WORK"
echo "fetch-model: fetching @imgly/background-removal-data@$VERSION"
npm pack --silent "@imgly/background-removal-data@$VERSION" >/dev/null
tar xzf imgly-background-removal-data-*.tgz

mkdir -p "$DEST_DIR"
"$PY" - package/dist "$DEST.part" <<'PYEOF'
import json, os, sys
import numpy as np
import onnx
from onnx import TensorProto, numpy_helper

dist, out = sys.argv[1], sys.argv[2]
res = json.load(open(os.path.join(dist, "resources.json")))
entry = res["/models/medium"]
blob = bytearray()
for chunk in entry["chunks"]:
    start, end = chunk["offsets"]
    data = open(os.path.join(dist, chunk["hash"]), "rb").read()
    if len(blob) != start or len(data) != end - start:
        sys.exit("fetch-model: chunk offsets do not line up")
    blob += data
if "size" in entry and entry["size"] != len(blob):
    sys.exit("fetch-model: joined model has the wrong size")
model = onnx.load_from_string(bytes(blob))
g = model.graph

def to_fp32(t):
    if t.data_type == TensorProto.FLOAT16:
        arr = numpy_helper.to_array(t).astype(np.float32)
        t.CopyFrom(numpy_helper.from_array(arr, t.name))

for init in g.initializer:
    to_fp32(init)
for node in g.node:
    for attr in node.attribute:
        if node.op_type == "Cast" and attr.name == "to" and attr.i == TensorProto.FLOAT16:
            attr.i = TensorProto.FLOAT
        if attr.type == onnx.AttributeProto.TENSOR:
            to_fp32(attr.t)
for vi in list(g.input) + list(g.output) + list(g.value_info):
    tt = vi.type.tensor_type
    if tt.elem_type == TensorProto.FLOAT16:
        tt.elem_type = TensorProto.FLOAT

# Topological order: a node comes after every node that produces one of its inputs.
known = {i.name for i in g.input} | {i.name for i in g.initializer} | {""}
pending = list(g.node)
ordered = []
while pending:
    rest = []
    for n in pending:
        if all(i in known for i in n.input):
            ordered.append(n)
            known.update(n.output)
        else:
            rest.append(n)
    if len(rest) == len(pending):
        sys.exit("fetch-model: graph has a cycle or a missing input")
    pending = rest
del g.node[:]
g.node.extend(ordered)
onnx.save(model, out)
print("fetch-model: wrote %d nodes, %d MB" % (len(ordered), os.path.getsize(out) // (1 << 20)))
PYEOF
mv "$DEST.part" "$DEST"
echo "fetch-model: installed $DEST"
