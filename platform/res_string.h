// SPDX-License-Identifier: MIT
// Resource strings: every message the program shows has a decimal identifier and its native
// (English) text in the message table (platform/res_strings.h). Texts are loaded through
// LoadResString, which a dictionary can redirect while it is open, so that messages built
// at run time come out in the user's language.
#pragma once

#include <string>
#include <string_view>

namespace pix {

struct TResString {
    int Id;            // 1..65535, unique in the message table
    const char* Text;  // the native text (UTF-8)
};

// The text of a resource string: its translation while a translation hook is set, else the
// native text. The hook is not re-entered: strings loaded on a thread while that thread is
// inside the hook come back native. An exception inside the hook gives an empty text.
// Any thread.
std::string LoadResString(const TResString& string);

// Formats a resource string with printf-style arguments. A translation whose conversions
// ("%d", "%s", ...) differ from the native text's in number, order or kind is not used: the
// native text is formatted instead, so a wrong translation can never read arguments it was
// not given.
std::string FmtRes(const TResString& string, ...);

// Whether two printf formats take the same arguments in the same order.
bool SameConversions(std::string_view format, std::string_view other);

// The translation hook: given the identifier and the native text, writes the text to use
// into `text` (which holds the native text on entry). Set while a dictionary is open; null
// restores plain loading. The hook must be safe to call from any thread.
using TResStringHook = void (*)(void* context, int id, std::string& text);
void SetResStringHook(TResStringHook hook, void* context);

}  // namespace pix
