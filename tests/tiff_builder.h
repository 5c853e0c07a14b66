// SPDX-License-Identifier: MIT
// Builds TIFF files byte by byte for tests: any tags, types and byte order, one or more
// images, with the strips placed where the test wants them.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace pix::test {

class TTiffBuilder {
public:
    explicit TTiffBuilder(bool bigEndian = false) : FBig(bigEndian) {}

    // One directory entry; `data` holds the values in host order as `type` elements and is
    // converted to the file's byte order. Values of up to 4 bytes go inline.
    struct TEntry {
        std::uint16_t Tag;
        std::uint16_t Type;
        std::uint32_t Count;
        std::vector<std::uint8_t> Data;  // raw host-order element bytes
        bool RawValue = false;           // Data is the 4 value bytes exactly as written
    };

    struct TImage {
        std::vector<TEntry> Entries;
        std::vector<std::string> Strips;  // placed after the IFD; offsets filled in
        bool AutoStrips = true;           // fill StripOffsets/StripByteCounts (LONG)
    };

    static TEntry Short(std::uint16_t tag, std::vector<std::uint16_t> values) {
        return {tag, 3, static_cast<std::uint32_t>(values.size()), Bytes(values)};
    }
    static TEntry Long(std::uint16_t tag, std::vector<std::uint32_t> values) {
        return {tag, 4, static_cast<std::uint32_t>(values.size()), Bytes(values)};
    }
    static TEntry Ascii(std::uint16_t tag, const std::string& text) {
        std::vector<std::uint8_t> d(text.begin(), text.end());
        d.push_back(0);
        return {tag, 2, static_cast<std::uint32_t>(d.size()), d};
    }
    static TEntry Bytes(std::uint16_t tag, std::uint16_t type, const std::string& bytes) {
        return {tag, type, static_cast<std::uint32_t>(bytes.size()),
                std::vector<std::uint8_t>(bytes.begin(), bytes.end())};
    }
    static TEntry Rational(std::uint16_t tag, std::uint32_t num, std::uint32_t den) {
        return {tag, 5, 1, Bytes(std::vector<std::uint32_t>{num, den})};
    }

    // A plain uncompressed image: width, height, bits per sample (one value, or three for
    // RGB), photometric, rows per strip, and the pixel bytes of the file rows.
    static TImage Simple(int width, int height, std::vector<std::uint16_t> bits, int photometric,
                         const std::string& pixels, int rowsPerStrip = 0,
                         std::uint16_t compression = 1) {
        TImage image;
        image.Entries.push_back(Long(256, {static_cast<std::uint32_t>(width)}));
        image.Entries.push_back(Long(257, {static_cast<std::uint32_t>(height)}));
        image.Entries.push_back(Short(258, bits));
        image.Entries.push_back(Short(259, {compression}));
        image.Entries.push_back(Short(262, {static_cast<std::uint16_t>(photometric)}));
        if (bits.size() > 1)
            image.Entries.push_back(Short(277, {static_cast<std::uint16_t>(bits.size())}));
        const int rps = rowsPerStrip > 0 ? rowsPerStrip : height;
        image.Entries.push_back(Long(278, {static_cast<std::uint32_t>(rps)}));
        const std::size_t rowBytes =
            (static_cast<std::size_t>(width) * bits[0] * bits.size() + 7) / 8;
        for (int y = 0; y < height; y += rps) {
            const std::size_t rows = static_cast<std::size_t>(std::min(rps, height - y));
            image.Strips.push_back(
                pixels.substr(static_cast<std::size_t>(y) * rowBytes, rows * rowBytes));
        }
        return image;
    }

    void Add(TImage image) { FImages.push_back(std::move(image)); }

    std::string Build() const {
        std::string out = FBig ? "MM" : "II";
        Put16(out, 42);
        Put32(out, 8);
        for (std::size_t i = 0; i < FImages.size(); ++i) {
            TImage image = FImages[i];
            // Strip offsets are known only after the IFD and its data are laid out, so the
            // entries are written with placeholders first and patched afterwards.
            if (image.AutoStrips && !image.Strips.empty()) {
                std::vector<std::uint32_t> zeros(image.Strips.size(), 0), counts;
                for (const auto& s : image.Strips)
                    counts.push_back(static_cast<std::uint32_t>(s.size()));
                Replace(image.Entries, Long(273, zeros));
                Replace(image.Entries, Long(279, counts));
            }
            std::stable_sort(image.Entries.begin(), image.Entries.end(),
                             [](const TEntry& a, const TEntry& b) { return a.Tag < b.Tag; });
            const std::size_t ifd = out.size();
            const std::size_t n = image.Entries.size();
            std::size_t data = ifd + 2 + 12 * n + 4;
            std::vector<std::size_t> dataAt(n, 0);
            for (std::size_t k = 0; k < n; ++k) {
                if (image.Entries[k].Data.size() > 4 && !image.Entries[k].RawValue) {
                    dataAt[k] = data;
                    data += image.Entries[k].Data.size() + (image.Entries[k].Data.size() & 1);
                }
            }
            std::vector<std::uint32_t> stripAt;
            std::size_t strips = data;
            for (const auto& s : image.Strips) {
                stripAt.push_back(static_cast<std::uint32_t>(strips));
                strips += s.size();
            }
            if (image.AutoStrips && !image.Strips.empty()) {
                for (auto& e : image.Entries)
                    if (e.Tag == 273) e.Data = Bytes(stripAt);
            }
            const std::size_t next = i + 1 < FImages.size() ? strips + (strips & 1) : 0;
            Put16(out, static_cast<std::uint16_t>(n));
            for (std::size_t k = 0; k < n; ++k) {
                const TEntry& e = image.Entries[k];
                Put16(out, e.Tag);
                Put16(out, e.Type);
                Put32(out, e.Count);
                if (e.RawValue) {
                    std::string v(e.Data.begin(), e.Data.end());
                    v.resize(4, '\0');
                    out += v;
                } else if (e.Data.size() > 4) {
                    Put32(out, static_cast<std::uint32_t>(dataAt[k]));
                } else {
                    std::string v = Converted(e);
                    v.resize(4, '\0');
                    out += v;
                }
            }
            Put32(out, static_cast<std::uint32_t>(next));
            for (std::size_t k = 0; k < n; ++k) {
                if (dataAt[k] == 0) continue;
                out += Converted(image.Entries[k]);
                if (image.Entries[k].Data.size() & 1) out += '\0';
            }
            for (const auto& s : image.Strips) out += s;
            if (next != 0 && (out.size() & 1)) out += '\0';
        }
        return out;
    }

private:
    template <class T>
    static std::vector<std::uint8_t> Bytes(const std::vector<T>& values) {
        std::vector<std::uint8_t> d(values.size() * sizeof(T));
        if (!values.empty()) std::memcpy(d.data(), values.data(), d.size());
        return d;
    }
    static void Replace(std::vector<TEntry>& entries, TEntry entry) {
        for (auto& e : entries)
            if (e.Tag == entry.Tag) {
                e = std::move(entry);
                return;
            }
        entries.push_back(std::move(entry));
    }
    static int ElementSize(std::uint16_t type) {
        switch (type) {
            case 3:
            case 8:
                return 2;
            case 4:
            case 9:
            case 11:
            case 13:
                return 4;
            case 5:
            case 10:
                return 4;  // two 32-bit words per value
            case 12:
                return 8;
            default:
                return 1;
        }
    }
    std::string Converted(const TEntry& e) const {
        std::string s(e.Data.begin(), e.Data.end());
        const int size = ElementSize(e.Type);
        if (FBig && size > 1)
            for (std::size_t i = 0; i + static_cast<std::size_t>(size) <= s.size();
                 i += static_cast<std::size_t>(size))
                std::reverse(s.begin() + static_cast<std::ptrdiff_t>(i),
                             s.begin() + static_cast<std::ptrdiff_t>(i) + size);
        return s;
    }
    void Put16(std::string& out, std::uint16_t v) const {
        if (FBig) {
            out += static_cast<char>(v >> 8);
            out += static_cast<char>(v & 0xFF);
        } else {
            out += static_cast<char>(v & 0xFF);
            out += static_cast<char>(v >> 8);
        }
    }
    void Put32(std::string& out, std::uint32_t v) const {
        if (FBig) {
            Put16(out, static_cast<std::uint16_t>(v >> 16));
            Put16(out, static_cast<std::uint16_t>(v & 0xFFFF));
        } else {
            Put16(out, static_cast<std::uint16_t>(v & 0xFFFF));
            Put16(out, static_cast<std::uint16_t>(v >> 16));
        }
    }

    bool FBig;
    std::vector<TImage> FImages;
};

}  // namespace pix::test
