// SPDX-License-Identifier: MIT
// Texts of the viewer. Status-bar texts take their numbers through QString::arg.
#pragma once

namespace pix {

inline constexpr char kViewerTitle[] = "Pixorama Viewer";
// The viewer's own single-instance lock and socket, apart from the browser's.
inline constexpr char kViewerInstanceName[] = "Mutex_PIXORAMA_VIEW_10";

inline constexpr const char* SViewerFileGone = "The file no longer exists";
inline constexpr const char* SViewerFileMissing = "The file does not exist";
inline constexpr const char* SViewerNoImage = "No image";
inline constexpr const char* SViewerNoImageFile = "The folder holds no image file";
inline constexpr const char* SViewerImageNotInFile = "The file holds no image %d";
inline constexpr const char* SViewerUnknownError = "Unknown error";

inline constexpr const char* SViewerImageOf = "Image %1 of %2";
inline constexpr const char* SViewerZoom = "%1 %";
inline constexpr const char* SViewerZoomFit = "%1 % (fit)";
inline constexpr const char* SViewerWindow = "Window %1 - %2";
inline constexpr const char* SViewerSample = "x %1  y %2: %3";
inline constexpr const char* SViewerIndexColor = "x %1  y %2: index %3 (%4, %5, %6)";
inline constexpr const char* SViewerRgbColor = "x %1  y %2: (%3, %4, %5)";
inline constexpr const char* SViewerSampleIndex = "x %1  y %2: %3 (index %4)";

inline constexpr const char* SViewerWindowCaption = "Display window";
inline constexpr const char* SViewerWindowLow = "&Black at:";
inline constexpr const char* SViewerWindowHigh = "&White at:";
inline constexpr const char* SViewerWindowReset = "&Reset";

}  // namespace pix
