// SPDX-License-Identifier: MIT
// The message table: every text the program builds at run time, with its decimal
// identifier. The program's dictionary (i18n/dictionary.tsv) translates them by identifier,
// so an identifier, once given, keeps its text; a changed text gets a new identifier.
// Formats are filled with FmtRes() (printf style) or, where marked, QString::arg.
//
// Identifier ranges: 1000 platform, 2000 image model and formats, 3000 TIFF, 4000 PNG,
// 5000 thumbnails, 6000 information panel and grid, 7000 folder tree, 8000 dictionary,
// 9000 viewer, 10000 main window, 65000 and up the windowing framework's own texts
// (message-box buttons, key names).
#pragma once

#include "platform/res_string.h"

namespace pix {

}  // namespace pix
