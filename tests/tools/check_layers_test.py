#!/usr/bin/env python3
"""The layering check on a small tree of its own: an include that points down or stays in
its folder passes; one that points up, or out of the library folders, fails with its file
and line."""
import pathlib
import subprocess
import sys
import tempfile

script = pathlib.Path(sys.argv[1])


def run(files: dict[str, str]) -> subprocess.CompletedProcess:
    with tempfile.TemporaryDirectory() as tmp:
        root = pathlib.Path(tmp)
        for name, text in files.items():
            (root / name).parent.mkdir(parents=True, exist_ok=True)
            (root / name).write_text(text)
        return subprocess.run([sys.executable, str(script), str(root)],
                              capture_output=True, text=True)


good = {
    "platform/error.h": "#pragma once\n",
    "platform/gui/rtf_reader.h": '#include "platform/error.h"\n',
    "imaging/stream.h": '#include "platform/error.h"\n#include <vector>\n',
    "thumbs/thumb_info.h": '#include "imaging/stream.h"\n#include "thumbs/thumb_cache.h"\n',
    "cli/main.cpp": '#include "thumbs/thumb_info.h"\n#include "info/info_document.h"\n',
}
result = run(good)
assert result.returncode == 0, result.stderr

cases = [
    ("imaging/stream.h", '#include "platform/error.h"\n#include "thumbs/thumb_info.h"\n',
     "imaging/stream.h:2:"),
    ("platform/error.h", '#include "platform/gui/rtf_reader.h"\n', "platform/error.h:1:"),
    ("thumbs/thumb_info.h", '#include "tests/test_support.h"\n', "thumbs/thumb_info.h:1:"),
]
for name, text, where in cases:
    result = run({**good, name: text})
    assert result.returncode == 1, (name, result.returncode)
    assert result.stderr.startswith(where), (name, result.stderr)
print("check_layers: 4 trees, 1 passed and 3 refused as expected")
