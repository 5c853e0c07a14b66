// A plain main for the fuzz targets, so any compiler can build them: it runs the target over
// every file it is given and every file of the folders it is given, and fails on the first
// crash the way the sanitizers or the target report it.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) __attribute__((weak));

namespace {

int RunFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "cannot read %s\n", path.c_str());
        return 1;
    }
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)),
                                  std::istreambuf_iterator<char>());
    std::fprintf(stderr, "%s\n", path.c_str());
    // A copy of exactly the file's size, so a read past the end hits the sanitizer's
    // redzone as it does under libFuzzer.
    std::vector<std::uint8_t> data(bytes.begin(), bytes.end());
    LLVMFuzzerTestOneInput(data.empty() ? nullptr : data.data(), data.size());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (LLVMFuzzerInitialize) LLVMFuzzerInitialize(&argc, &argv);
    int failures = 0;
    int files = 0;
    for (int i = 1; i < argc; ++i) {
        const std::filesystem::path path(argv[i]);
        std::error_code error;
        if (std::filesystem::is_directory(path, error)) {
            for (const auto& item : std::filesystem::directory_iterator(path)) {
                if (!item.is_regular_file() || item.path().filename() == "README") continue;
                failures += RunFile(item.path());
                ++files;
            }
        } else if (std::filesystem::exists(path, error)) {
            failures += RunFile(path);
            ++files;
        }
    }
    std::fprintf(stderr, "%d inputs replayed\n", files);
    return failures == 0 ? 0 : 1;
}
