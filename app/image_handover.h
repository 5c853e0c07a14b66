// SPDX-License-Identifier: MIT
// Opening an image: its path goes to the imaging application, a running one or one started
// for it, and to our own viewer when none can be started.
#pragma once

#include <cstdint>
#include <string>

namespace pix {

// The imaging application's main window classes, tried in this order, and the message
// that hands it a path.
inline constexpr const char* kKelvoWindowClasses[] = {"TKelvoForm", "TKelvoForm.UnicodeClass"};
inline constexpr char kThumbOpenMessage[] = "WM_THUMB_OPEN";
inline constexpr char kKelvoExe[] = "kelvo32.exe";
inline constexpr char kTavixExe[] = "Tavix.exe";
// Our own viewer, beside our executable: the last resort.
inline constexpr char kViewerExe[] = "pixorama-view";

enum THandOverResult : std::uint8_t {
    hoSent,      // a running imaging application took the path (or hangs while taking it)
    hoLaunched,  // the imaging application was started with it
    hoViewer,    // our own viewer was started with it
    hoNothing,   // nothing could be started; the caller beeps
};

// Hands the full path of an image to the imaging application: a running one first, else
// "kelvo32.exe" beside our executable, else the one the registry names, else our viewer.
// A registry value of the wrong type raises ERegistryException.
THandOverResult HandOver(const std::string& fullPath);
// Sends the path to a running imaging application; false when none runs. One that does
// not answer within kWindowMessageTimeoutMs counts as having taken it.
bool SendToRunningApplication(const std::string& fullPath);
// The full path of the imaging application's executable, from the registry.
std::string FindImagingApplication();
// Starts the command line "EXE ARGUMENTS" (blanks trimmed; the executable unquoted) and
// waits as StartProcess does; false when it could not be started.
bool Launch(const std::string& exePath, const std::string& arguments, int wait);
// The "ProgramFilesDir" value, or defaultText.
std::string ProgramFilesFolder(const std::string& defaultText);
// The default value of the executable's App Paths key, or defaultPath.
std::string ApplicationPath(const std::string& exeName, const std::string& defaultPath);

}  // namespace pix
