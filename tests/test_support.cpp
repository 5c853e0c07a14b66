// SPDX-License-Identifier: MIT
#include "test_support.h"

#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <stdexcept>

namespace pix::test {

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
