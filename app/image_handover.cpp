// SPDX-License-Identifier: MIT
#include "app/image_handover.h"

#include "platform/error.h"
#include "platform/file_system.h"
#include "platform/gui/window_message.h"
#include "platform/process.h"
#include "platform/registry.h"

#include <string_view>

namespace pix {
namespace {

constexpr const char* kHardwareKey = "Software\\Corvane\\VEXA 4.0\\Hardware";
constexpr const char* kRemTypeValue = "REMType";
constexpr const char* kCurrentVersionKey = "Software\\Microsoft\\Windows\\CurrentVersion";
constexpr const char* kProgramFilesValue = "ProgramFilesDir";
constexpr const char* kAppPathsKey = "%s\\App Paths\\%s";
constexpr const char* kDefaultAppPath = "%s\\corvane\\%s";
constexpr const char* SProgramFilesDefault = "C:\\Program files";
// Bit 9 of "REMType": the hardware that the second imaging application serves.
constexpr std::int32_t kRemTypeTavix = 512;

// Opens a key of HKEY_LOCAL_MACHINE for reading; false when it is missing or unreadable,
// which counts as holding no values.
bool OpenMachineKey(TRegistry& registry, const std::string& key) {
    registry.SetRootKey(HKEY_LOCAL_MACHINE);
    return registry.OpenKeyReadOnly(key);
}

// A string value of the key, or the default when the key or the value is missing.
std::string ReadMachineString(const std::string& key, const std::string& name,
                              const std::string& defaultText) {
    TRegistry registry(KEY_READ);
    if (!OpenMachineKey(registry, key) || !registry.ValueExists(name)) return defaultText;
    return registry.ReadString(name);
}

std::int32_t ReadRemType() {
    TRegistry registry(KEY_READ);
    if (!OpenMachineKey(registry, kHardwareKey) || !registry.ValueExists(kRemTypeValue)) return 0;
    return registry.ReadInteger(kRemTypeValue);
}

std::string DefaultPath(const char* exeName) {
    return Fmt(kDefaultAppPath, ProgramFilesFolder(SProgramFilesDefault).c_str(), exeName);
}

// Blanks and control characters off both ends.
std::string_view TrimBlanks(std::string_view text) {
    auto blank = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    return text;
}

}  // namespace

THandOverResult HandOver(const std::string& fullPath) {
    if (SendToRunningApplication(fullPath)) return hoSent;
    // The path in double quotes; a path that holds quotes or ends in backslashes gets the
    // escapes that bring it to the program unchanged.
    const std::string argument = QuoteArgument(fullPath);
    // Without our own folder nothing is looked for beside us: a name alone would be looked
    // for in the current folder.
    const std::string folder = ProgramFolder();
    if (!folder.empty() && Launch(JoinPath(folder, kKelvoExe), argument, kWaitNone))
        return hoLaunched;
    if (Launch(FindImagingApplication(), argument, kWaitNone)) return hoLaunched;
    if (!folder.empty() && StartProcess({JoinPath(folder, kViewerExe), fullPath}, kWaitNone))
        return hoViewer;
    return hoNothing;
}

bool SendToRunningApplication(const std::string& fullPath) {
    for (const char* windowClass : kKelvoWindowClasses) {
        if (SendWindowMessage(windowClass, kThumbOpenMessage, fullPath) != mrNoReceiver)
            return true;
    }
    return false;
}

std::string FindImagingApplication() {
    if ((ReadRemType() & kRemTypeTavix) != 0) {
        const std::string tavix = ApplicationPath(kTavixExe, DefaultPath(kTavixExe));
        if (FileExists(tavix)) return tavix;
    }
    return ApplicationPath(kKelvoExe, DefaultPath(kKelvoExe));
}

bool Launch(const std::string& exePath, const std::string& arguments, int wait) {
    return CreateProcess(TrimBlanks(Fmt("%s %s", exePath.c_str(), arguments.c_str())), wait);
}

std::string ProgramFilesFolder(const std::string& defaultText) {
    return ReadMachineString(kCurrentVersionKey, kProgramFilesValue, defaultText);
}

std::string ApplicationPath(const std::string& exeName, const std::string& defaultPath) {
    return ReadMachineString(Fmt(kAppPathsKey, kCurrentVersionKey, exeName.c_str()), "",
                             defaultPath);
}

}  // namespace pix
