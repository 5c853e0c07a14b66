// SPDX-License-Identifier: MIT
// The information panel's rich-text document for one thumbnail entry.
#pragma once

#include "thumbs/thumb_info.h"

#include <cstddef>
#include <functional>
#include <span>
#include <string>
#include <string_view>

namespace pix {

// The parameters shown when an image file names none of its own, in the format
// SInfoDefaultParamFormat of the message table.
inline constexpr const char* kInfoDefaultParamNames = "MAG,WD,HV";

// Passes over each label after it was loaded from the message table (in the user's language
// while a dictionary is open) and turned into Windows-1252 bytes, as the document holds; an
// empty function leaves labels as they are.
using TTranslate = std::function<std::string(const std::string&)>;

// A valid local calendar time, milliseconds included.
struct TLocalDateTime {
    int Year, Month, Day, Hour, Minute, Second, Millisecond;
};

// How the panel writes numbers and dates. Texts are Windows-1252 bytes, as the document is.
struct TInfoLocale {
    char DecimalSeparator = '.';
    // The date in the user's short date format; empty: "YYYY-MM-DD".
    std::function<std::string(const TLocalDateTime&)> ShortDate;
    // The time in the user's long time format; empty: "hh:mm:ss" on a 24-hour clock.
    std::function<std::string(const TLocalDateTime&)> LongTime;
};

// The user's locale from the environment: decimal separator, short date and long time.
TInfoLocale SystemInfoLocale();

// The date followed by a blank and the time; the time is left out at exactly midnight.
std::string DateTimeText(const TLocalDateTime& time, const TInfoLocale& locale);

// A record time in coordinated universal time converted to local time with the system's
// time-zone rules for that date; false for an invalid record or one outside years 1..9999.
bool UtcToLocal(const SYSTEMTIME& utc, TLocalDateTime& local);

// How much of each text (comment, author, copyright, the formatted parameters) the
// document holds; 0 means no limit. A text past either limit is cut there and followed by
// a line saying how much was left out.
struct TTextLimit {
    std::size_t MaxLines = 0;
    std::size_t MaxBytes = 0;
};

// What the panel shows. The rich-text box lays out every line on the main thread, and a
// comment of a million lines would stop the window for minutes.
inline constexpr TTextLimit kPanelTextLimit{1000, 64 * 1024};

// The panel's document for an entry, as bytes (8-bit texts as stored).
std::string BuildInfoDocument(const TThumbInfo& entry, const TTranslate& translate = {},
                              const TInfoLocale& locale = SystemInfoLocale(),
                              const TTextLimit& limit = {});

// Fills `format` with `values`. Only the floating conversions %f %F %e %g %E %G (flags
// "-+ #0", width and precision as digits) and "%%" are accepted; anything else, or more
// conversions than values, is an error and gives false, as is a result past 1 MiB.
// Values left over are ignored.
// Exact halves round away from zero; the decimal point is `decimalSeparator`.
bool FormatParams(std::string_view format, std::span<const double> values, char decimalSeparator,
                  std::string& out);

}  // namespace pix
