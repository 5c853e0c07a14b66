// The panel's parameter formatting: a format text and values as a file's header gives them.
// Input: a count byte (values 0..7), that many 8-byte doubles, the decimal separator byte,
// then the format.
#include "fuzz/fuzz_support.h"

#include "info/info_document.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const std::size_t count = data[0] % 8;
    if (size < 2 + count * 8) return 0;
    std::vector<double> values(count);
    if (count > 0) std::memcpy(values.data(), data + 1, count * 8);
    const char separator = static_cast<char>(data[1 + count * 8]);
    const std::string_view format(reinterpret_cast<const char*>(data + 2 + count * 8),
                                  size - 2 - count * 8);
    std::string out;
    const bool ok = pix::FormatParams(format, values, separator, out);
    pix::fuzz::GSink = pix::fuzz::GSink + ok + out.size();
    return 0;
}
