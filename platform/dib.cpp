// SPDX-License-Identifier: MIT
#include "platform/dib.h"

#include "platform/memory.h"
#include "platform/mul_div.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <new>
#include <optional>
#include <type_traits>

namespace pix {

const PALETTEENTRY kStaticColors[20] = {
    {0x00, 0x00, 0x00, 0}, {0x80, 0x00, 0x00, 0}, {0x00, 0x80, 0x00, 0}, {0x80, 0x80, 0x00, 0},
    {0x00, 0x00, 0x80, 0}, {0x80, 0x00, 0x80, 0}, {0x00, 0x80, 0x80, 0}, {0xC0, 0xC0, 0xC0, 0},
    {0xC0, 0xDC, 0xC0, 0}, {0xA6, 0xCA, 0xF0, 0}, {0xFF, 0xFB, 0xF0, 0}, {0xA0, 0xA0, 0xA4, 0},
    {0x80, 0x80, 0x80, 0}, {0xFF, 0x00, 0x00, 0}, {0x00, 0xFF, 0x00, 0}, {0xFF, 0xFF, 0x00, 0},
    {0x00, 0x00, 0xFF, 0}, {0xFF, 0x00, 0xFF, 0}, {0x00, 0xFF, 0xFF, 0}, {0xFF, 0xFF, 0xFF, 0},
};

namespace {

// The bitmap header stores the image size in 32 bits.
constexpr std::uint64_t kMaxDibImageSize = 0x7FFFFFFF;

bool IsIndexed(int bitCount) { return bitCount == 1 || bitCount == 4 || bitCount == 8; }

std::int64_t AbsHeight(std::int32_t height) {
    return height < 0 ? -static_cast<std::int64_t>(height) : height;
}

// The checks that sections and drawing sources share. 32-bit pixels are accepted only as a
// source. The size test divides instead of multiplying, so that no header can overflow it.
bool HeaderUsable(const BITMAPINFOHEADER& h, bool allow32) {
    if (h.biSize < 40 || h.biPlanes != 1 || h.biCompression != BI_RGB) return false;
    const int bits = h.biBitCount;
    if (!IsIndexed(bits) && bits != 24 && !(allow32 && bits == 32)) return false;
    if (h.biWidth <= 0 || h.biHeight == 0 || h.biHeight == std::numeric_limits<int>::min())
        return false;
    const std::uint64_t bytesPerLine = DibBytesPerLine(h.biWidth, bits);
    const auto rows = static_cast<std::uint64_t>(AbsHeight(h.biHeight));
    return bytesPerLine <= kMaxDibImageSize && rows <= kMaxDibImageSize / bytesPerLine;
}

// The colour table of a header: it follows the 40 header bytes in the records this program
// builds and reads, whatever biSize says.
const std::uint8_t* ColorTableOf(const BITMAPINFO* info) {
    return reinterpret_cast<const std::uint8_t*>(info) + sizeof(BITMAPINFOHEADER);
}

// Colours are handled packed as 0x00RRGGBB.
constexpr std::uint32_t Pack(std::uint32_t r, std::uint32_t g, std::uint32_t b) {
    return (r << 16) | (g << 8) | b;
}
constexpr std::uint32_t PackQuad(const RGBQUAD& q) { return Pack(q.rgbRed, q.rgbGreen, q.rgbBlue); }

// A picture to draw from, whichever kind of memory holds it.
struct TSource {
    const std::uint8_t* Bits = nullptr;
    std::size_t BytesPerLine = 0;
    std::int64_t Width = 0;
    std::int64_t Height = 0;
    int BitCount = 0;
    bool TopDown = false;
    // The rows, counted from the top, that Bits holds.
    std::int64_t BandTop = 0;
    std::int64_t BandRows = 0;
    // The colour table padded with black to 256 entries, so that any index is a colour.
    std::array<RGBQUAD, 256> Table{};
    std::array<std::uint32_t, 256> Packed{};

    bool HasRow(std::int64_t y) const { return y >= BandTop && y < BandTop + BandRows; }
    // Row y counted from the top of the picture; y must lie in the band.
    const std::uint8_t* Row(std::int64_t y) const {
        const std::int64_t index = TopDown ? y - BandTop : BandTop + BandRows - 1 - y;
        return Bits + static_cast<std::size_t>(index) * BytesPerLine;
    }
    void SetTable(const std::uint8_t* colors, unsigned count) {
        Table.fill(RGBQUAD{0, 0, 0, 0});
        if (count > 0) std::memcpy(Table.data(), colors, std::min(count, 256u) * sizeof(RGBQUAD));
        for (std::size_t i = 0; i < Table.size(); ++i) Packed[i] = PackQuad(Table[i]);
    }
};

std::optional<TSource> SourceOfInfo(const BITMAPINFO* info, const void* bits) {
    if (info == nullptr || bits == nullptr || !HeaderUsable(info->bmiHeader, true))
        return std::nullopt;
    const BITMAPINFOHEADER& h = info->bmiHeader;
    TSource s;
    s.Bits = static_cast<const std::uint8_t*>(bits);
    s.BytesPerLine = static_cast<std::size_t>(DibBytesPerLine(h.biWidth, h.biBitCount));
    s.Width = h.biWidth;
    s.Height = AbsHeight(h.biHeight);
    s.BitCount = h.biBitCount;
    s.TopDown = h.biHeight < 0;
    s.BandTop = 0;
    s.BandRows = s.Height;
    s.SetTable(ColorTableOf(info), DibColorCount(h));
    return s;
}

TSource SourceOfSection(const TDibSection& section, const std::uint8_t* bits) {
    TSource s;
    s.Bits = bits;
    s.BytesPerLine = section.BytesPerLine();
    s.Width = section.Width();
    s.Height = section.Height();
    s.BitCount = section.BitCount();
    s.TopDown = section.TopDown();
    s.BandTop = 0;
    s.BandRows = s.Height;
    s.SetTable(reinterpret_cast<const std::uint8_t*>(section.Colors()), section.ColorCount());
    return s;
}

// ---- pixel access ----

template <int Bits>
unsigned GetIndex(const std::uint8_t* row, std::int64_t x) {
    if constexpr (Bits == 8) {
        return row[x];
    } else if constexpr (Bits == 4) {
        // The high nibble holds the left pixel.
        return (x & 1) ? row[x >> 1] & 0x0Fu : static_cast<unsigned>(row[x >> 1] >> 4);
    } else {
        static_assert(Bits == 1);
        return (row[x >> 3] >> (7 - (x & 7))) & 1u;
    }
}

template <int Bits>
void PutIndex(std::uint8_t* row, std::int64_t x, unsigned value) {
    if constexpr (Bits == 8) {
        row[x] = static_cast<std::uint8_t>(value);
    } else if constexpr (Bits == 4) {
        std::uint8_t& b = row[x >> 1];
        b = (x & 1) ? static_cast<std::uint8_t>((b & 0xF0) | (value & 0x0F))
                    : static_cast<std::uint8_t>((b & 0x0F) | ((value & 0x0F) << 4));
    } else {
        static_assert(Bits == 1);
        std::uint8_t& b = row[x >> 3];
        const auto mask = static_cast<std::uint8_t>(0x80u >> (x & 7));
        b = (value & 1) ? static_cast<std::uint8_t>(b | mask)
                        : static_cast<std::uint8_t>(b & ~mask);
    }
}

// The colour of source pixel x as 0x00RRGGBB.
template <int Bits>
std::uint32_t GetColor(const TSource& src, const std::uint8_t* row, std::int64_t x) {
    if constexpr (Bits == 24 || Bits == 32) {
        const std::uint8_t* p = row + x * (Bits / 8);
        return Pack(p[2], p[1], p[0]);
    } else {
        return src.Packed[GetIndex<Bits>(row, x)];
    }
}

template <int N>
using TBits = std::integral_constant<int, N>;

// Calls f with the bit count as a compile-time constant; counts other than 1, 4 and 8 go
// to `Wide` (32 for sources, which may be BGRX; 24 for targets).
template <int Wide, class F>
void DispatchBits(int bits, F&& f) {
    switch (bits) {
        case 1:
            f(TBits<1>{});
            break;
        case 4:
            f(TBits<4>{});
            break;
        case 8:
            f(TBits<8>{});
            break;
        case 24:
            f(TBits<24>{});
            break;
        default:
            f(TBits<Wide>{});
            break;
    }
}

template <class F>
void DispatchSource(int bits, F&& f) {
    DispatchBits<32>(bits, std::forward<F>(f));
}

template <class F>
void DispatchTarget(int bits, F&& f) {
    DispatchBits<24>(bits, std::forward<F>(f));
}

// ---- nearest palette entry ----

// Finds the entry of a colour table nearest to a colour (least squared RGB distance, the
// first of equals). The entries are kept sorted by green, and the search walks outwards
// from the colour's green until the green difference alone exceeds the best distance.
// Answers are remembered in a direct-mapped cache keyed by the whole colour, so a cached
// answer is exactly what the search would give.
class TNearestColor {
public:
    TNearestColor(const RGBQUAD* table, unsigned count)
        : FKeys(kCacheSize, kEmpty), FValues(kCacheSize, 0) {
        for (unsigned i = 0; i < count; ++i)
            FSorted.push_back({table[i].rgbRed, table[i].rgbGreen, table[i].rgbBlue, i});
        // Stable, so that equal greens stay in index order.
        std::stable_sort(FSorted.begin(), FSorted.end(),
                         [](const TEntry& a, const TEntry& b) { return a.G < b.G; });
    }

    unsigned Find(std::uint32_t rgb) {
        const std::size_t slot = (rgb * 2654435761u) >> (32 - kCacheBits);
        if (FKeys[slot] != rgb) {
            FKeys[slot] = rgb;
            FValues[slot] = static_cast<std::uint8_t>(Search(rgb));
        }
        return FValues[slot];
    }

    unsigned Search(std::uint32_t rgb) const {
        const int r = static_cast<int>(rgb >> 16), g = static_cast<int>((rgb >> 8) & 0xFF),
                  b = static_cast<int>(rgb & 0xFF);
        unsigned bestIndex = 0;
        int best = std::numeric_limits<int>::max();
        const auto consider = [&](const TEntry& e) {
            const int dr = e.R - r, dg = e.G - g, db = e.B - b;
            const int d = dr * dr + dg * dg + db * db;
            if (d < best || (d == best && e.Index < bestIndex)) {
                best = d;
                bestIndex = e.Index;
            }
        };
        const auto start = static_cast<std::size_t>(
            std::lower_bound(FSorted.begin(), FSorted.end(), g,
                             [](const TEntry& e, int green) { return e.G < green; }) -
            FSorted.begin());
        // An entry whose green alone is farther than the best cannot win, nor can any entry
        // beyond it; one exactly as far might still tie with a lower index.
        for (std::size_t i = start; i < FSorted.size(); ++i) {
            const int dg = FSorted[i].G - g;
            if (dg * dg > best) break;
            consider(FSorted[i]);
        }
        for (std::size_t i = start; i-- > 0;) {
            const int dg = FSorted[i].G - g;
            if (dg * dg > best) break;
            consider(FSorted[i]);
        }
        return bestIndex;
    }

private:
    struct TEntry {
        int R, G, B;
        unsigned Index;
    };
    static constexpr unsigned kCacheBits = 12;
    static constexpr std::size_t kCacheSize = std::size_t{1} << kCacheBits;
    // No packed colour has bits above 23 set, so this key never matches.
    static constexpr std::uint32_t kEmpty = 0xFFFFFFFFu;

    std::vector<TEntry> FSorted;
    std::vector<std::uint32_t> FKeys;
    std::vector<std::uint8_t> FValues;
};

// How source pixels become target pixels in one drawing call.
struct TConversion {
    int TargetBits = 24;
    // Indexed sources: the target value of each index (a packed colour for 24-bit
    // targets, an entry of the target's table otherwise).
    std::array<std::uint32_t, 256> Map{};
    // The target takes the source's indices unchanged.
    bool Identity = false;
    std::optional<TNearestColor> Nearest;

    TConversion(const TSource& src, TDibSection& target) : TargetBits(target.BitCount()) {
        if (TargetBits == 24) {
            Map = src.Packed;
            return;
        }
        const unsigned count = target.ColorCount();
        Nearest.emplace(target.Colors(), count);
        if (!IsIndexed(src.BitCount)) return;
        if (src.BitCount == TargetBits) {
            Identity = true;
            for (unsigned i = 0; i < count; ++i)
                Identity = Identity && src.Packed[i] == PackQuad(target.Colors()[i]);
        }
        const unsigned used = 1u << src.BitCount;
        for (unsigned i = 0; i < used; ++i) Map[i] = Identity ? i : Nearest->Search(src.Packed[i]);
    }

    // Target value of a colour.
    std::uint32_t OfColor(std::uint32_t rgb) { return TargetBits == 24 ? rgb : Nearest->Find(rgb); }
};

template <int Bits>
void PutValue(std::uint8_t* row, std::int64_t x, std::uint32_t value) {
    if constexpr (Bits == 24) {
        std::uint8_t* p = row + x * 3;
        p[0] = static_cast<std::uint8_t>(value);
        p[1] = static_cast<std::uint8_t>(value >> 8);
        p[2] = static_cast<std::uint8_t>(value >> 16);
    } else {
        PutIndex<Bits>(row, x, value);
    }
}

// ---- geometry ----

// The visible part of a target range: [First, Last) clipped to [0, limit).
struct TRange {
    std::int64_t First = 0;
    std::int64_t Last = 0;
    bool Empty() const { return First >= Last; }
    std::int64_t Size() const { return Last - First; }
};

TRange Clip(std::int64_t pos, std::int64_t length, std::int64_t limit) {
    return {std::max<std::int64_t>(pos, 0), std::min<std::int64_t>(pos + length, limit)};
}

// The target columns and rows a drawing at (x, y) of width × height may change: inside the
// bitmap and the context's clip.
struct TTargetArea {
    TRange Cols, Rows;
    bool Empty() const { return Cols.Empty() || Rows.Empty(); }
};
TTargetArea TargetArea(const TDeviceContext& dc, const TDibSection& dst, std::int64_t x,
                       std::int64_t y, std::int64_t width, std::int64_t height) {
    TTargetArea area{Clip(x, width, dst.Width()), Clip(y, height, dst.Height())};
    if (dc.Clipped()) {
        const TRect& c = dc.ClipRect();
        area.Cols = {std::max<std::int64_t>(area.Cols.First, c.Left),
                     std::min<std::int64_t>(area.Cols.Last, c.Right)};
        area.Rows = {std::max<std::int64_t>(area.Rows.First, c.Top),
                     std::min<std::int64_t>(area.Rows.Last, c.Bottom)};
    }
    return area;
}

// Source index under the centre of target pixel `rel` (0-based in the target rectangle)
// when `targetLength` pixels show `sourceLength` source pixels starting at `sourcePos`.
std::int64_t CentreSource(std::int64_t rel, std::int64_t targetLength, std::int64_t sourcePos,
                          std::int64_t sourceLength) {
    // (2 rel + 1) < 2^32 and sourceLength < 2^31, so the product stays below 2^63.
    const std::uint64_t num =
        static_cast<std::uint64_t>(2 * rel + 1) * static_cast<std::uint64_t>(sourceLength);
    return sourcePos +
           static_cast<std::int64_t>(num / static_cast<std::uint64_t>(2 * targetLength));
}

// ---- drawing without averaging ----

// Draws target rows `rows` and columns `cols` of the target; srcCols[i] is the source column of
// target column cols.First + i and srcY(y) the source row of target row y, -1 when the
// target pixel is not drawn. Returns the number of target rows drawn.
template <class RowOf>
int DrawMapped(const TSource& src, TDibSection& dst, TRange cols, TRange rows,
               const std::vector<std::int64_t>& srcCols, RowOf&& srcY, bool unscaled) {
    TConversion conv(src, dst);
    int drawn = 0;
    // Without scaling, a row whose pixels need no conversion is one block copy from the first
    // drawn column on, when both ends start on a byte boundary.
    const bool sameFormat = src.BitCount == dst.BitCount() && (src.BitCount == 24 || conv.Identity);
    DispatchSource(src.BitCount, [&](auto sb) {
        DispatchTarget(dst.BitCount(), [&](auto db) {
            constexpr int SB = decltype(sb)::value;
            constexpr int DB = decltype(db)::value;
            for (std::int64_t y = rows.First; y < rows.Last; ++y) {
                const std::int64_t sy = srcY(y);
                if (sy < 0) continue;
                const std::uint8_t* in = src.Row(sy);
                std::uint8_t* out = dst.Row(static_cast<int>(y));
                const std::int64_t* srcX = srcCols.data();
                std::int64_t i = 0;
                const std::int64_t n = cols.Size();
                if (sameFormat && unscaled) {
                    // Skip the columns whose source lies left of the picture.
                    while (i < n && srcX[i] < 0) ++i;
                    std::int64_t m = i;
                    while (m < n && srcX[m] >= 0) ++m;
                    const std::int64_t sx0 = i < n ? srcX[i] : 0;
                    const std::int64_t dx0 = cols.First + i;
                    if (i < m && (sx0 * SB) % 8 == 0 && (dx0 * SB) % 8 == 0) {
                        const std::int64_t bytes = (m - i) * SB / 8;
                        std::memcpy(out + dx0 * SB / 8, in + sx0 * SB / 8,
                                    static_cast<std::size_t>(bytes));
                        i += bytes * 8 / SB;
                    }
                }
                for (; i < n; ++i) {
                    const std::int64_t sx = srcX[i];
                    if (sx < 0) continue;
                    std::uint32_t value;
                    if constexpr (SB == 24 || SB == 32) {
                        value = conv.OfColor(GetColor<SB>(src, in, sx));
                    } else {
                        value = conv.Map[GetIndex<SB>(in, sx)];
                    }
                    PutValue<DB>(out, cols.First + i, value);
                }
                ++drawn;
            }
        });
    });
    return drawn;
}

// ---- drawing with averaging ----

// For each visible target index, the source indices it covers and their overlap weights.
// Distances are counted in units of 1/targetLength source pixel (= 1/sourceLength target
// pixel), in which every overlap is a whole number: target pixel t covers
// [t * sourceLength, (t + 1) * sourceLength) and source pixel s [s * targetLength,
// (s + 1) * targetLength). Both lengths are first divided by their greatest common divisor.
struct TSpans {
    struct TSpan {
        std::int64_t First = 0;  // first source index (in the picture)
        std::size_t Count = 0;
        std::size_t WeightAt = 0;
        std::uint64_t Total = 0;  // sum of the weights
        // Every weight but the first and the last is Unit (a source pixel wholly inside
        // the target pixel), so those pixels can be summed plainly and scaled once.
        bool InteriorWhole = false;
    };
    std::vector<TSpan> Spans;
    std::vector<std::uint32_t> Weights;
    std::uint32_t Unit = 0;  // the weight of a whole source pixel

    TSpans(TRange visible, std::int64_t targetPos, std::int64_t targetLength,
           std::int64_t sourcePos, std::int64_t sourceLength, std::int64_t sourceLimit,
           std::int64_t divisor) {
        const std::int64_t tl = targetLength / divisor, sl = sourceLength / divisor;
        Unit = static_cast<std::uint32_t>(tl);
        Spans.resize(static_cast<std::size_t>(visible.Size()));
        for (std::int64_t t = visible.First; t < visible.Last; ++t) {
            const std::int64_t rel = t - targetPos;
            const std::int64_t lo = rel * sl, hi = (rel + 1) * sl;
            // Source pixels (relative to sourcePos) that meet [lo, hi), clipped to the picture.
            std::int64_t first = lo / tl;
            std::int64_t last = (hi + tl - 1) / tl;  // exclusive
            first = std::max(first, -sourcePos);
            last = std::min(last, sourceLimit - sourcePos);
            TSpan& span = Spans[static_cast<std::size_t>(t - visible.First)];
            span.First = sourcePos + first;
            span.WeightAt = Weights.size();
            for (std::int64_t s = first; s < last; ++s) {
                const std::int64_t w = std::min(hi, (s + 1) * tl) - std::max(lo, s * tl);
                Weights.push_back(static_cast<std::uint32_t>(w));
                span.Total += static_cast<std::uint64_t>(w);
            }
            span.Count = Weights.size() - span.WeightAt;
            span.InteriorWhole =
                span.Count >= 2 &&
                std::all_of(Weights.begin() + static_cast<std::ptrdiff_t>(span.WeightAt + 1),
                            Weights.end() - 1, [this](std::uint32_t w) { return w == Unit; });
        }
    }
};

std::int64_t Gcd(std::int64_t a, std::int64_t b) {
    while (b != 0) {
        const std::int64_t t = a % b;
        a = b;
        b = t;
    }
    return a;
}

// Colour-table entries with red, green and blue in 21-bit fields of one 64-bit word, so
// that a single addition sums all three: a field holds the sum of 8224 samples of 255.
constexpr int kFieldBits = 21;
constexpr std::uint64_t kFieldMask = (std::uint64_t{1} << kFieldBits) - 1;
constexpr std::size_t kMaxPackedRun = kFieldMask / 255;

std::array<std::uint64_t, 256> WideTable(const TSource& src) {
    std::array<std::uint64_t, 256> wide{};
    for (std::size_t i = 0; i < wide.size(); ++i) {
        const RGBQUAD& q = src.Table[i];
        wide[i] = std::uint64_t{q.rgbRed} << (2 * kFieldBits) |
                  std::uint64_t{q.rgbGreen} << kFieldBits | q.rgbBlue;
    }
    return wide;
}

// The packed colours of `count` 8-bit indices added up. Two sums halve the chain of
// dependent additions; the loop is kept scalar, since a vectorised form would have to
// gather the table entries one by one and runs slower.
#if defined(__GNUC__) && !defined(__clang__)
__attribute__((optimize("no-tree-vectorize")))
#endif
std::uint64_t
SumPacked8(const std::uint8_t* p, std::size_t count, const std::uint64_t* wide) {
    std::uint64_t a = 0, b = 0;
    std::size_t k = 0;
    for (; k + 2 <= count; k += 2) {
        a += wide[p[k]];
        b += wide[p[k + 1]];
    }
    if (k < count) a += wide[p[k]];
    return a + b;
}

// The packed colours of an 8-bit indexed row `in` under one span, weighted; each field holds
// at most 255 × the span's Total.
std::uint64_t PackedSpan8(const std::uint8_t* in, const TSpans& across, const TSpans::TSpan& span,
                          const std::array<std::uint64_t, 256>& wide) {
    const std::uint32_t* w = across.Weights.data() + span.WeightAt;
    const std::uint8_t* p = in + span.First;
    std::uint64_t sum = 0;
    if (span.InteriorWhole) {
        const std::size_t last = span.Count - 1;
        sum = w[0] * wide[p[0]] + w[last] * wide[p[last]];
        if (last > 1) sum += std::uint64_t{across.Unit} * SumPacked8(p + 1, last - 1, wide.data());
    } else {
        for (std::size_t k = 0; k < span.Count; ++k) sum += w[k] * wide[p[k]];
    }
    return sum;
}

// The weighted sums of one source row under each visible target column, into `sums`
// (three per column: red, green, blue). TAcc is the accumulator: 32 bits where the caller
// has shown that the largest sum fits, which keeps the loops narrow. A span whose inner
// pixels all have the whole weight sums them plainly and multiplies once; for an indexed
// source the packed table sums the three colours with one addition per pixel.
template <int SB, class TAcc, class TSum>
void SumAcross(const TSource& src, const std::uint8_t* in, const TSpans& across,
               const std::array<std::uint64_t, 256>& wide, TSum* sums) {
    constexpr bool kDirect = SB == 24 || SB == 32;
    const std::size_t n = across.Spans.size();
    const TAcc unit = across.Unit;
    for (std::size_t c = 0; c < n; ++c) {
        const TSpans::TSpan& span = across.Spans[c];
        const std::uint32_t* w = across.Weights.data() + span.WeightAt;
        if constexpr (SB == 8) {
            // Each packed field holds at most 255 × Total: all three colours of the span
            // are summed with one multiply-add per pixel.
            if (span.Total <= kMaxPackedRun && span.Count > 0) {
                const std::uint64_t packed = PackedSpan8(in, across, span, wide);
                sums[3 * c] = static_cast<TSum>(packed >> (2 * kFieldBits));
                sums[3 * c + 1] = static_cast<TSum>((packed >> kFieldBits) & kFieldMask);
                sums[3 * c + 2] = static_cast<TSum>(packed & kFieldMask);
                continue;
            }
        }
        TAcc r = 0, g = 0, b = 0;
        const auto add = [&](std::size_t k, TAcc weight) {
            const std::int64_t x = span.First + static_cast<std::int64_t>(k);
            if constexpr (kDirect) {
                const std::uint8_t* p = in + x * (SB / 8);
                b += weight * p[0];
                g += weight * p[1];
                r += weight * p[2];
            } else {
                const RGBQUAD& q = src.Table[GetIndex<SB>(in, x)];
                b += weight * q.rgbBlue;
                g += weight * q.rgbGreen;
                r += weight * q.rgbRed;
            }
        };
        const std::size_t inner = span.Count >= 2 ? span.Count - 2 : 0;
        if (span.InteriorWhole && (kDirect || inner <= kMaxPackedRun)) {
            add(0, w[0]);
            add(span.Count - 1, w[span.Count - 1]);
            TAcc ir = 0, ig = 0, ib = 0;
            if constexpr (kDirect) {
                const std::uint8_t* p = in + (span.First + 1) * (SB / 8);
                for (std::size_t k = 0; k < inner; ++k, p += SB / 8) {
                    ib += p[0];
                    ig += p[1];
                    ir += p[2];
                }
            } else {
                std::uint64_t packed;
                if constexpr (SB == 8) {
                    packed = SumPacked8(in + span.First + 1, inner, wide.data());
                } else {
                    packed = 0;
                    for (std::size_t k = 0; k < inner; ++k)
                        packed +=
                            wide[GetIndex<SB>(in, span.First + 1 + static_cast<std::int64_t>(k))];
                }
                ir = static_cast<TAcc>(packed >> (2 * kFieldBits));
                ig = static_cast<TAcc>((packed >> kFieldBits) & kFieldMask);
                ib = static_cast<TAcc>(packed & kFieldMask);
            }
            r += unit * ir;
            g += unit * ig;
            b += unit * ib;
        } else {
            for (std::size_t k = 0; k < span.Count; ++k) add(k, w[k]);
        }
        sums[3 * c] = r;
        sums[3 * c + 1] = g;
        sums[3 * c + 2] = b;
    }
}

// The packed colours of one 8-bit indexed source row under each visible target column,
// weighted as SumAcross weighs them, into `packed` (one word per column).
void SumAcrossPacked8(const std::uint8_t* in, const TSpans& across,
                      const std::array<std::uint64_t, 256>& wide, std::uint64_t* packed) {
    for (std::size_t c = 0, n = across.Spans.size(); c < n; ++c)
        packed[c] = PackedSpan8(in, across, across.Spans[c], wide);
}

// total / Area rounded half up, for totals of at most 255 × Area, by a multiplication and a
// shift instead of a division, which the averaging would otherwise do three times for each
// target pixel. With D = 2 × Area below 2^L, the dividend 2 × total + Area is below
// 2^(8 + L); M = 2^k / D rounded up with k = 8 + 2L errs by less than D, which stays below
// one unit of the quotient for such dividends, and the product fits 64 bits while L ≤ 23.
// Larger areas divide.
struct TRoundedMean {
    explicit TRoundedMean(std::uint64_t area) : Area(area), Divisor(2 * area) {
        if (area == 0) return;
        int bits = 0;
        while (bits < 64 && (Divisor >> bits) != 0) ++bits;
        if (bits > kMaxBits) return;
        Shift = 8 + 2 * bits;
        Magic = ((std::uint64_t{1} << Shift) + Divisor - 1) / Divisor;
    }
    std::uint32_t operator()(std::uint64_t total) const {
        const std::uint64_t n = 2 * total + Area;
        if (Magic == 0) return static_cast<std::uint32_t>(n / Divisor);
        return static_cast<std::uint32_t>((n * Magic) >> Shift);
    }
    static constexpr int kMaxBits = 23;
    std::uint64_t Area, Divisor;
    std::uint64_t Magic = 0;
    int Shift = 0;
};

// Writes the visible columns of one target row from their totals: channel(c, k) is colour
// k (red, green, blue) of column c, and each mean is rounded half up over the area the
// column's and the row's weights span. Every column but those clipped at the picture's
// edges has the full width, so one reciprocal serves the row.
template <int DB, class TChannel>
void PutMeans(std::uint8_t* out, TRange cols, const TSpans& across, std::uint64_t unitsX,
              std::uint64_t rowTotal, TConversion& conv, TChannel channel) {
    const TRoundedMean common(unitsX * rowTotal);
    for (std::size_t c = 0, n = across.Spans.size(); c < n; ++c) {
        const std::uint64_t area = across.Spans[c].Total * rowTotal;
        if (area == 0) continue;
        const TRoundedMean other(area == common.Area ? 0 : area);
        const TRoundedMean& divide = area == common.Area ? common : other;
        const std::uint32_t rgb =
            Pack(divide(channel(c, 0)), divide(channel(c, 1)), divide(channel(c, 2)));
        PutValue<DB>(out, cols.First + static_cast<std::int64_t>(c), conv.OfColor(rgb));
    }
}

// Area-weighted box average of the source rectangle into the visible target rectangle. Each
// source row is weighted across once into per-column sums; those are weighted down into
// per-column totals of the target row. A source row shared by two target rows is summed
// across only once.
int DrawHalftone(const TSource& src, TDibSection& dst, TRange cols, TRange rows, std::int64_t xDest,
                 std::int64_t yDest, std::int64_t destWidth, std::int64_t destHeight,
                 std::int64_t xSrc, std::int64_t ySrc, std::int64_t srcWidth,
                 std::int64_t srcHeight) {
    const std::int64_t gx = Gcd(destWidth, srcWidth), gy = Gcd(destHeight, srcHeight);
    // The largest sum is 255 × (srcWidth / gx) × (srcHeight / gy); refuse rectangles so far
    // beyond the picture that it would not fit 64 bits.
    const auto unitsX = static_cast<std::uint64_t>(srcWidth / gx);
    const auto unitsY = static_cast<std::uint64_t>(srcHeight / gy);
    if (unitsX > (std::uint64_t{1} << 28) && unitsY > (std::uint64_t{1} << 28)) return 0;
    if (unitsX * unitsY > (std::uint64_t{1} << 54)) return 0;

    const TSpans across(cols, xDest, destWidth, xSrc, srcWidth, src.Width, gx);
    // Rows outside the band count as outside the picture.
    const std::int64_t bandFirst = src.BandTop;
    const TSpans down(rows, yDest, destHeight, ySrc - bandFirst, srcHeight, src.BandRows, gy);

    // A row's sum under one target column is at most 255 times the column's units; the
    // total of a target pixel 255 times unitsX × unitsY. When that fits 32 bits (for any
    // picture of up to 16 million pixels) the sums are kept in 32 bits, which halves the
    // memory they pass through and lets the weighting down vectorise.
    const bool narrow = unitsX < (std::uint64_t{1} << 32) / 255;
    const bool narrowTotals = unitsX * unitsY < (std::uint64_t{1} << 32) / 255;
    const auto n = static_cast<std::size_t>(cols.Size());
    const std::array<std::uint64_t, 256> wide = WideTable(src);
    TConversion conv(src, dst);
    int drawn = 0;

    // An indexed 8-bit source whose target pixels each cover few source pixels (as at every
    // zoom step's ratio: 1/2, 2/3, 1/3, 1/4...) keeps the three colours packed in one word
    // from the row sums to the totals: no field exceeds 255 × unitsX × unitsY.
    const bool packedTotals = src.BitCount == 8 && unitsX * unitsY <= kMaxPackedRun;
    const auto drawPacked = [&] {
        std::vector<std::uint64_t> rowPacked(n), totalPacked(n);
        std::int64_t summedRow = -1;
        DispatchTarget(dst.BitCount(), [&](auto db) {
            constexpr int DB = decltype(db)::value;
            for (std::int64_t y = rows.First; y < rows.Last; ++y) {
                const TSpans::TSpan& rowSpan = down.Spans[static_cast<std::size_t>(y - rows.First)];
                if (rowSpan.Total == 0) continue;
                std::fill(totalPacked.begin(), totalPacked.end(), 0);
                for (std::size_t k = 0; k < rowSpan.Count; ++k) {
                    const std::int64_t sy =
                        bandFirst + rowSpan.First + static_cast<std::int64_t>(k);
                    if (sy != summedRow) {
                        SumAcrossPacked8(src.Row(sy), across, wide, rowPacked.data());
                        summedRow = sy;
                    }
                    const std::uint64_t wy = down.Weights[rowSpan.WeightAt + k];
                    for (std::size_t c = 0; c < n; ++c) totalPacked[c] += wy * rowPacked[c];
                }
                PutMeans<DB>(dst.Row(static_cast<int>(y)), cols, across, unitsX, rowSpan.Total,
                             conv, [&](std::size_t c, int k) -> std::uint64_t {
                                 return (totalPacked[c] >> ((2 - k) * kFieldBits)) & kFieldMask;
                             });
                ++drawn;
            }
        });
    };

    const auto draw = [&](auto sumType) {
        using TSum = typename decltype(sumType)::type;
        std::vector<TSum> rowSums(n * 3), totals(n * 3);
        std::int64_t summedRow = -1;
        DispatchSource(src.BitCount, [&](auto sb) {
            constexpr int SB = decltype(sb)::value;
            if constexpr (SB == 8) {
                if (packedTotals) {
                    drawPacked();
                    return;
                }
            }
            const auto sumAcross = [&](std::int64_t sy) {
                const std::uint8_t* in = src.Row(sy);
                if (narrow)
                    SumAcross<SB, std::uint32_t>(src, in, across, wide, rowSums.data());
                else
                    SumAcross<SB, std::uint64_t>(src, in, across, wide, rowSums.data());
            };

            DispatchTarget(dst.BitCount(), [&](auto db) {
                constexpr int DB = decltype(db)::value;
                for (std::int64_t y = rows.First; y < rows.Last; ++y) {
                    const TSpans::TSpan& rowSpan =
                        down.Spans[static_cast<std::size_t>(y - rows.First)];
                    if (rowSpan.Total == 0) continue;
                    std::fill(totals.begin(), totals.end(), 0);
                    for (std::size_t k = 0; k < rowSpan.Count; ++k) {
                        const std::int64_t sy =
                            bandFirst + rowSpan.First + static_cast<std::int64_t>(k);
                        if (sy != summedRow) {
                            sumAcross(sy);
                            summedRow = sy;
                        }
                        const auto wy = static_cast<TSum>(down.Weights[rowSpan.WeightAt + k]);
                        // A whole-weight row (every row when the reduction is by a whole
                        // factor) adds without multiplying.
                        if (wy == 1) {
                            for (std::size_t i = 0; i < 3 * n; ++i) totals[i] += rowSums[i];
                        } else {
                            for (std::size_t i = 0; i < 3 * n; ++i) totals[i] += wy * rowSums[i];
                        }
                    }
                    PutMeans<DB>(dst.Row(static_cast<int>(y)), cols, across, unitsX, rowSpan.Total,
                                 conv, [&](std::size_t c, int k) -> std::uint64_t {
                                     return totals[3 * c + static_cast<std::size_t>(k)];
                                 });
                    ++drawn;
                }
            });
        });
    };
    if (narrowTotals)
        draw(std::type_identity<std::uint32_t>{});
    else
        draw(std::type_identity<std::uint64_t>{});
    return drawn;
}

// Unscaled drawing of the source rectangle with its top-left at (xDest, yDest).
int DrawUnscaled(const TSource& src, const TDeviceContext& dc, TDibSection& dst, std::int64_t xDest,
                 std::int64_t yDest, std::int64_t width, std::int64_t height, std::int64_t xSrc,
                 std::int64_t ySrc) {
    if (width <= 0 || height <= 0) return 0;
    const TTargetArea area = TargetArea(dc, dst, xDest, yDest, width, height);
    if (area.Empty()) return 0;
    const TRange cols = area.Cols, rows = area.Rows;
    std::vector<std::int64_t> srcX(static_cast<std::size_t>(cols.Size()));
    for (std::int64_t x = cols.First; x < cols.Last; ++x) {
        const std::int64_t sx = xSrc + (x - xDest);
        srcX[static_cast<std::size_t>(x - cols.First)] = sx >= 0 && sx < src.Width ? sx : -1;
    }
    const auto srcY = [&](std::int64_t y) {
        const std::int64_t sy = ySrc + (y - yDest);
        return sy >= 0 && sy < src.Height && src.HasRow(sy) ? sy : std::int64_t{-1};
    };
    return DrawMapped(src, dst, cols, rows, srcX, srcY, true);
}

}  // namespace

// ---- palettes and screen ----

unsigned DibColorCount(const BITMAPINFOHEADER& header) {
    if (!IsIndexed(header.biBitCount)) return 0;
    const unsigned full = 1u << header.biBitCount;
    return header.biClrUsed != 0 ? std::min<std::uint32_t>(header.biClrUsed, full) : full;
}

std::unique_ptr<TPalette> CreatePalette(const PALETTEENTRY* entries, unsigned count) {
    if (entries == nullptr || count == 0 || count > 256) return nullptr;
    return std::make_unique<TPalette>(std::vector<PALETTEENTRY>(entries, entries + count));
}

std::unique_ptr<TPalette> CreateHalftonePalette() {
    std::vector<PALETTEENTRY> entries;
    entries.reserve(256);
    entries.insert(entries.end(), kStaticColors, kStaticColors + 10);
    for (int r = 0; r < 6; ++r)
        for (int g = 0; g < 6; ++g)
            for (int b = 0; b < 6; ++b)
                entries.push_back({static_cast<std::uint8_t>(51 * r),
                                   static_cast<std::uint8_t>(51 * g),
                                   static_cast<std::uint8_t>(51 * b), 0});
    // Greys that fall between the cube's six.
    for (int k = 1; k <= 20; ++k) {
        const auto v = static_cast<std::uint8_t>(MulDiv(k, 255, 21));
        entries.push_back({v, v, v, 0});
    }
    entries.insert(entries.end(), kStaticColors + 10, kStaticColors + 20);
    return std::make_unique<TPalette>(std::move(entries), true);
}

unsigned GetPaletteEntries(const TPalette* palette, unsigned start, unsigned count,
                           PALETTEENTRY* out) {
    if (palette == nullptr) return 0;
    const auto size = static_cast<unsigned>(palette->Entries().size());
    if (out == nullptr) return size;
    if (start >= size) return 0;
    const unsigned n = std::min(count, size - start);
    std::copy_n(palette->Entries().begin() + start, n, out);
    return n;
}

int ScreenBitsPerPixel() { return 32; }

// ---- sections ----

std::unique_ptr<TDibSection> TDibSection::Create(const BITMAPINFO* info, bool useAnonymousMapping) {
    if (info == nullptr || !HeaderUsable(info->bmiHeader, false)) return nullptr;
    auto section = std::make_unique<TDibSection>(TKey{});
    section->FHeader = info->bmiHeader;
    section->FHeader.biSize = sizeof(BITMAPINFOHEADER);
    const int bits = section->FHeader.biBitCount;
    section->FBytesPerLine =
        static_cast<std::size_t>(DibBytesPerLine(section->FHeader.biWidth, bits));
    section->FImageSize =
        section->FBytesPerLine * static_cast<std::size_t>(AbsHeight(section->FHeader.biHeight));
    section->FHeader.biSizeImage = static_cast<std::uint32_t>(section->FImageSize);
    if (IsIndexed(bits)) {
        section->FColors.assign(std::size_t{1} << bits, RGBQUAD{0, 0, 0, 0});
        std::memcpy(section->FColors.data(), ColorTableOf(info),
                    DibColorCount(info->bmiHeader) * sizeof(RGBQUAD));
    }
    if (useAnonymousMapping) {
        // The mapping comes zero-filled.
        section->FBits = static_cast<std::uint8_t*>(MapAnonymousMemory(section->FImageSize));
        section->FMapped = true;
    } else {
        try {
            section->FHeapBits = std::make_unique<std::uint8_t[]>(section->FImageSize);
        } catch (const std::bad_alloc&) {
            return nullptr;
        }
        section->FBits = section->FHeapBits.get();
    }
    return section;
}

TDibSection::~TDibSection() {
    if (FMapped) UnmapAnonymousMemory(FBits, FImageSize);
}

// ---- device context ----

TDibSection* TDeviceContext::SelectBitmap(TDibSection* bitmap) {
    return std::exchange(FBitmap, bitmap);
}

const TPalette* TDeviceContext::SelectPalette(const TPalette* palette, bool /*forceBackground*/) {
    return std::exchange(FPalette, palette);
}

unsigned TDeviceContext::RealizePalette() { return 0; }

int TDeviceContext::GetDeviceCaps(int index) const {
    switch (index) {
        case BITSPIXEL:
            return ScreenBitsPerPixel();
        case PLANES:
            return 1;
        default:
            return 0;
    }
}

int TDeviceContext::SetStretchBltMode(int mode) {
    if (mode != COLORONCOLOR && mode != HALFTONE) return 0;
    return std::exchange(FStretchMode, mode);
}

POINT TDeviceContext::SetBrushOrg(POINT origin) { return std::exchange(FBrushOrg, origin); }

void TDeviceContext::IntersectClipRect(const TRect& rect) {
    if (!FClipped) {
        FClip = rect;
        FClipped = true;
        return;
    }
    FClip = TRect{std::max(FClip.Left, rect.Left), std::max(FClip.Top, rect.Top),
                  std::min(FClip.Right, rect.Right), std::min(FClip.Bottom, rect.Bottom)};
}

// ---- drawing ----

int SetDIBitsToDevice(TDeviceContext& dc, int xDest, int yDest, unsigned width, unsigned height,
                      int xSrc, int ySrc, unsigned startScan, unsigned cLines, const void* bits,
                      const BITMAPINFO* info, unsigned colorUse) {
    if (dc.Bitmap() == nullptr || colorUse != DIB_RGB_COLORS) return 0;
    std::optional<TSource> src = SourceOfInfo(info, bits);
    if (!src || startScan >= src->Height || cLines == 0) return 0;
    // The band of rows the caller hands over, counted from the top of the picture.
    src->BandRows = std::min<std::int64_t>(cLines, src->Height - startScan);
    src->BandTop = src->Height - startScan - src->BandRows;
    return DrawUnscaled(*src, dc, *dc.Bitmap(), xDest, yDest, width, height, xSrc, ySrc);
}

int StretchDIBits(TDeviceContext& dc, int xDest, int yDest, int destWidth, int destHeight, int xSrc,
                  int ySrc, int srcWidth, int srcHeight, const void* bits, const BITMAPINFO* info,
                  unsigned colorUse, std::uint32_t rop) {
    if (dc.Bitmap() == nullptr || colorUse != DIB_RGB_COLORS || rop != SRCCOPY) return 0;
    if (destWidth <= 0 || destHeight <= 0 || srcWidth <= 0 || srcHeight <= 0) return 0;
    const std::optional<TSource> src = SourceOfInfo(info, bits);
    if (!src) return 0;
    TDibSection& dst = *dc.Bitmap();
    const TTargetArea area = TargetArea(dc, dst, xDest, yDest, destWidth, destHeight);
    if (area.Empty()) return 0;
    const TRange cols = area.Cols, rows = area.Rows;
    if (dc.GetStretchBltMode() == HALFTONE)
        return DrawHalftone(*src, dst, cols, rows, xDest, yDest, destWidth, destHeight, xSrc, ySrc,
                            srcWidth, srcHeight);
    std::vector<std::int64_t> srcX(static_cast<std::size_t>(cols.Size()));
    for (std::int64_t x = cols.First; x < cols.Last; ++x) {
        const std::int64_t sx = CentreSource(x - xDest, destWidth, xSrc, srcWidth);
        srcX[static_cast<std::size_t>(x - cols.First)] = sx >= 0 && sx < src->Width ? sx : -1;
    }
    const auto srcY = [&](std::int64_t y) {
        const std::int64_t sy = CentreSource(y - yDest, destHeight, ySrc, srcHeight);
        return sy >= 0 && sy < src->Height ? sy : std::int64_t{-1};
    };
    return DrawMapped(*src, dst, cols, rows, srcX, srcY, srcWidth == destWidth);
}

bool BitBlt(TDeviceContext& dst, int xDest, int yDest, int width, int height,
            const TDeviceContext& src, int xSrc, int ySrc, std::uint32_t rop) {
    if (dst.Bitmap() == nullptr || src.Bitmap() == nullptr || rop != SRCCOPY) return false;
    const TDibSection& from = *src.Bitmap();
    // Copying within one bitmap reads from a snapshot, so that overlapping rectangles do not
    // read pixels already overwritten.
    std::vector<std::uint8_t> snapshot;
    const std::uint8_t* bits = from.Bits();
    if (&from == dst.Bitmap()) {
        snapshot.assign(from.Bits(), from.Bits() + from.ImageSize());
        bits = snapshot.data();
    }
    DrawUnscaled(SourceOfSection(from, bits), dst, *dst.Bitmap(), xDest, yDest, width, height, xSrc,
                 ySrc);
    return true;
}

unsigned SetDIBColorTable(TDeviceContext& dc, unsigned start, unsigned count,
                          const RGBQUAD* colors) {
    TDibSection* bitmap = dc.Bitmap();
    if (bitmap == nullptr || colors == nullptr || start >= bitmap->ColorCount()) return 0;
    const unsigned n = std::min(count, bitmap->ColorCount() - start);
    std::copy_n(colors, n, bitmap->Colors() + start);
    return n;
}

}  // namespace pix
