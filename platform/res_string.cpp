// SPDX-License-Identifier: MIT
#include "platform/res_string.h"

#include "platform/error.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <shared_mutex>

namespace pix {
namespace {

// Setting the hook takes the lock exclusively, so a dictionary that closes never has a
// lookup still running in its table.
std::shared_mutex& HookLock() {
    static std::shared_mutex lock;
    return lock;
}
TResStringHook FHook = nullptr;
void* FHookContext = nullptr;
std::atomic<bool> FHookSet{false};
thread_local bool FInHook = false;

// The conversions of a printf format as a string of their length modifiers and letters:
// "%-5d of %s" gives "d|s|". Flags, widths and precisions are left out; a "*" width or
// precision counts as an int argument.
std::string Conversions(std::string_view format) {
    std::string result;
    for (std::size_t i = 0; i < format.size(); ++i) {
        if (format[i] != '%') continue;
        ++i;
        if (i < format.size() && format[i] == '%') continue;
        for (; i < format.size(); ++i) {
            const char c = format[i];
            if (c == '*') {
                result += "*|";
            } else if (std::string_view("-+ #0123456789.'").find(c) != std::string_view::npos) {
                continue;
            } else if (std::string_view("hlLqjzt").find(c) != std::string_view::npos) {
                result += c;
            } else {
                result += c;
                result += '|';
                break;
            }
        }
    }
    return result;
}

}  // namespace

void SetResStringHook(TResStringHook hook, void* context) {
    std::unique_lock lock(HookLock());
    FHook = hook;
    FHookContext = context;
    FHookSet.store(hook != nullptr, std::memory_order_release);
}

std::string LoadResString(const TResString& string) {
    std::string text = string.Text ? string.Text : "";
    if (text.empty() || FInHook || !FHookSet.load(std::memory_order_acquire)) return text;
    std::shared_lock lock(HookLock());
    if (!FHook) return text;
    FInHook = true;
    try {
        FHook(FHookContext, string.Id, text);
    } catch (...) {
        text.clear();
    }
    FInHook = false;
    return text;
}

bool SameConversions(std::string_view format, std::string_view other) {
    return Conversions(format) == Conversions(other);
}

std::string FmtRes(const TResString& string, ...) {
    std::string format = LoadResString(string);
    const char* native = string.Text ? string.Text : "";
    if (!SameConversions(format, native)) format = native;
    va_list args;
    va_start(args, string);
    std::string result = VFmt(format.c_str(), args);
    va_end(args);
    return result;
}

}  // namespace pix
