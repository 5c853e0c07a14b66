// SPDX-License-Identifier: MIT
#include "test_support.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <linux/capability.h>
#include <random>
#include <sstream>
#include <stdexcept>
#include <sys/syscall.h>
#include <unistd.h>

namespace pix::test {
namespace {

// Every test starts in the neutral locale, so that the program's dictionary leaves texts
// native whatever the machine's language; tests of translation set their own.
const bool kNeutralLocale = [] {
    setenv("LC_ALL", "C.UTF-8", 1);
    return true;
}();

}  // namespace

std::filesystem::path CorpusDir() {
    std::filesystem::path dir = PIXORAMA_TESTDATA;
    std::error_code ec;
    if (!std::filesystem::is_directory(dir, ec)) return {};
    return dir;
}

std::filesystem::path DataDir() { return PIXORAMA_TESTS_DATA; }

TTempDir::TTempDir() {
    std::random_device rd;
    const auto base = std::filesystem::temp_directory_path();
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::ostringstream name;
        name << "pixorama-test-" << std::hex << rd() << rd();
        FPath = base / name.str();
        std::error_code ec;
        if (std::filesystem::create_directory(FPath, ec)) return;
    }
    throw std::runtime_error("cannot create a temporary folder");
}

TTempDir::~TTempDir() {
    std::error_code ec;
    std::filesystem::remove_all(FPath, ec);
}

namespace {

bool GetCapabilities(__user_cap_data_struct (&data)[2]) {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    return syscall(SYS_capget, &header, data) == 0;
}

bool SetCapabilities(__user_cap_data_struct (&data)[2]) {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    return syscall(SYS_capset, &header, data) == 0;
}

}  // namespace

TPermissionsHold::TPermissionsHold() {
    if (geteuid() != 0) {
        FActive = true;
        return;
    }
    __user_cap_data_struct data[2] = {};
    if (!GetCapabilities(data)) return;
    FEffective[0] = data[0].effective;
    FEffective[1] = data[1].effective;
    // Capabilities are per thread in the kernel; threads started later inherit these.
    data[0].effective &=
        ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH) | (1u << CAP_FOWNER));
    if (!SetCapabilities(data)) return;
    FChanged = true;
    FActive = true;
}

TPermissionsHold::~TPermissionsHold() {
    if (!FChanged) return;
    __user_cap_data_struct data[2] = {};
    if (!GetCapabilities(data)) return;
    data[0].effective = FEffective[0];
    data[1].effective = FEffective[1];
    SetCapabilities(data);
}

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace pix::test
