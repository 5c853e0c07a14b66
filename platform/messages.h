// SPDX-License-Identifier: MIT
// Message texts raised by the platform layer. "%d" is the system's error number.
#pragma once

namespace pix {

inline constexpr const char* SErrCreateMapping = "Error creating file mapping (%d)";
inline constexpr const char* SErrMapView = "Error mapping view of file (%d)";
inline constexpr const char* SErrCreateFile = "Error creating file \"%s\" (%d)";
inline constexpr const char* SErrInvalidMapping = "Invalid file mapping handle";
inline constexpr const char* SErrFileTooLarge =
    "File \"%s\" is too large: files of 2 GiB or more are not supported";
inline constexpr const char* SReadError = "Stream read error";
inline constexpr const char* SWriteError = "Stream write error";
inline constexpr const char* SSeekError = "Stream seek error";
inline constexpr const char* SLoadCancelled = "Loading was cancelled";
inline constexpr const char* SErrWriteFile = "Error writing file \"%s\" (%d)";
inline constexpr const char* SErrCreatePipe = "Error creating pipe (%d)";
inline constexpr const char* SRegGetDataFailed = "Could not get data for '%s'";
inline constexpr const char* SRegSetDataFailed = "Could not set data for '%s'";
inline constexpr const char* SInvalidRegType = "Invalid data type for '%s'";
inline constexpr const char* SIniFileWriteError = "Unable to write to %s";

}  // namespace pix
