// Shared pieces of the fuzz targets: reading every pixel a decoder produced, loading every
// image of a picture file from memory, and a scratch file for entry points that take a path.
#pragma once

#include "imaging/dib_picture.h"
#include "imaging/img_data16.h"
#include "imaging/stream.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>
#include <unistd.h>

namespace pix::fuzz {

// Long runs (fuzz/run.sh) lower the picture memory limit through
// PIXORAMA_FUZZ_PICTURE_LIMIT_MB: a few bytes of RLE or JPEG can legally declare a picture of
// hundreds of megabytes, and filling those leaves the fuzzer a few inputs a second instead of
// thousands. The limit's own logic is the same at any size; replays keep the real limit.
inline const bool GPictureLimitSet = [] {
    if (const char* mb = std::getenv("PIXORAMA_FUZZ_PICTURE_LIMIT_MB"))
        SetPictureMemoryLimit(std::strtoull(mb, nullptr, 10) << 20);
    return true;
}();

// Written by every target so the compiler cannot drop the pixel sums.
inline volatile std::uint64_t GSink = 0;

// The loop that reads the pixels carries no coverage probes: they would only count bytes,
// and with them a legal picture of a few hundred megabytes takes longer than the fuzzer's
// time limit. The address sanitizer still checks every read.
#if defined(__clang__)
__attribute__((no_sanitize("coverage")))
#endif
inline std::uint64_t
SumBytes(const std::uint8_t* bytes, std::uint64_t size) {
    std::uint64_t sum = 0;
    for (std::uint64_t i = 0; i < size; ++i) sum += bytes[i];
    return sum;
}

// Adds up every byte of the section and of the 16-bit samples: a row the decoder left
// unwritten is then read, which the memory sanitizers report.
inline void SumPixels(const TDibPicture& picture) {
    std::uint64_t sum = 0;
    if (const std::uint8_t* bits = picture.Bits(); bits != nullptr)
        sum += SumBytes(bits, picture.ImageSize());
    if (const TImgData16* samples = picture.ImgData16(); samples != nullptr) {
        sum += SumBytes(static_cast<const std::uint8_t*>(samples->Memory()),
                        static_cast<std::uint64_t>(samples->Size()));
    }
    GSink = GSink + sum;
}

// A file of one image can hold a chain of further images; a fuzzer's input can chain
// thousands of tiny ones, which says nothing new after the first few.
inline constexpr int kMaxImages = 16;

// Loads the images of a file held in `data` the way a file on disk is loaded: file header,
// then one image after the other while the loader reports a further one. `configure` may
// set options (a decode box) on each picture before it loads.
template <class TPicture, class TConfigure>
void LoadEveryImage(std::span<const std::uint8_t> data, TConfigure configure) {
    TSpanStream stream(data);
    TPicture picture;
    configure(picture);
    picture.ReadFileHeader(stream);
    bool more = true;
    for (int i = 0; more && i < kMaxImages; ++i) {
        more = picture.LoadFromStream(stream);
        SumPixels(picture);
    }
}

// The bytes written to a file of their own, removed again on destruction. It lives in
// /dev/shm where that exists, so a long run does not wear a disk.
class TScratchFile {
public:
    TScratchFile(std::span<const std::uint8_t> data, const char* suffix) {
        const char* dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        FPath = std::string(dir) + "/pix_fuzz_" + std::to_string(getpid()) + suffix;
        if (std::FILE* file = std::fopen(FPath.c_str(), "wb")) {
            if (!data.empty()) std::fwrite(data.data(), 1, data.size(), file);
            std::fclose(file);
        } else {
            std::abort();  // no scratch space: the run cannot test anything
        }
    }
    ~TScratchFile() { std::remove(FPath.c_str()); }
    TScratchFile(const TScratchFile&) = delete;
    TScratchFile& operator=(const TScratchFile&) = delete;

    const std::string& Path() const { return FPath; }

private:
    std::string FPath;
};

}  // namespace pix::fuzz
