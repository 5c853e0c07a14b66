// SPDX-License-Identifier: MIT
// pixorama-dictgen SOURCE OUTPUT: builds the program's dictionary from its source text.
// Writes OUTPUT only when the source is sound; a fault names its line and fails the build.
#include "i18n/dict_writer.h"

#include <cstdio>
#include <exception>
#include <fstream>
#include <iterator>
#include <sstream>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: pixorama-dictgen SOURCE OUTPUT\n");
        return 2;
    }
    try {
        std::ifstream in(argv[1], std::ios::binary);
        if (!in) throw std::runtime_error("cannot read the source");
        const std::string text((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
        const auto bytes =
            pix::WriteProgramDictionary(pix::ParseDictionarySource(text), "Pixorama");
        const std::string temporary = std::string(argv[2]) + ".tmp";
        {
            std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
            out.write(reinterpret_cast<const char*>(bytes.data()),
                      static_cast<std::streamsize>(bytes.size()));
            if (!out.flush()) throw std::runtime_error("cannot write the output");
        }
        if (std::rename(temporary.c_str(), argv[2]) != 0)
            throw std::runtime_error("cannot write the output");
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s: %s\n", argv[1], e.what());
        return 1;
    }
    return 0;
}
