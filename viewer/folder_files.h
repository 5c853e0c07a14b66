// SPDX-License-Identifier: MIT
// The image files of the shown file's folder, in the order of the browser's grid.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace pix {

class TFolderFiles {
public:
    // The names of the folder's image files (the format table's patterns) in the order of
    // the thumbnail engine's file list; listed again when the folder changed since.
    const std::vector<std::string>& Names(const std::string& dir);
    // The path of the image file `step` places after `path` in its folder (before it for
    // a negative step), or "" when the folder ends first. `path` need not be an image file
    // of the folder, nor exist any more: the count starts where its name would stand.
    std::string Neighbour(const std::string& path, int step);
    // The first (or, with `last`, the last) image file of a folder, or "".
    std::string EndFile(const std::string& dir, bool last);
    // The next call lists the folder again.
    void Invalidate() { FDir.clear(); }

private:
    std::string FDir;
    std::int64_t FStamp = 0;
    std::vector<std::string> FNames;
};

}  // namespace pix
