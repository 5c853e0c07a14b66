// SPDX-License-Identifier: MIT
// A reader for the small rich-text (RTF) documents the program writes itself.
#pragma once

#include <string_view>

class QTextDocument;

namespace pix {

// Replaces the content of `document` with what `rtf` says: text (8-bit bytes and \'hh as
// Windows-1252, \uN as Unicode), \par paragraphs, \line and \tab, and the character
// formats \b \i \ul \fs \cf \cb \highlight \plain with the colour table. Font tables,
// \* destinations and the usual non-text destinations are skipped; other control words are
// ignored. Any bytes at all are accepted: unbalanced braces are tolerated, group nesting
// past a fixed depth keeps the outer state, and the time taken is linear in the input.
void LoadRtf(std::string_view rtf, QTextDocument& document);

}  // namespace pix
