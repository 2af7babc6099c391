#include "tools/slow5_reader.h"

#include <slow5/slow5.h>

#include <immintrin.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace {

// Each 32-bit lane's zigzag value decoded, kept to its low 16 bits (sign-extended, so that a
// saturating pack keeps them exactly): samples are int16, and sums of deltas taken modulo 2^16
// come out the same.
__m128i zigzag_low16(const std::uint32_t* in)
{
    const auto values = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
    const auto sign = _mm_sub_epi32(_mm_setzero_si128(), _mm_and_si128(values, _mm_set1_epi32(1)));
    const auto delta = _mm_xor_si128(_mm_srli_epi32(values, 1), sign);
    return _mm_srai_epi32(_mm_slli_epi32(delta, 16), 16);
}

// Stream VByte, as svb-zd signal stores it: a 2-bit code (bytes - 1) per value, four codes to a
// key byte from its lowest bits up, every key first, then each value's little-endian bytes.
struct SvbTables {
    std::uint8_t shuffle[256][16];  // moves the bytes of a key's four values into 32-bit lanes
    std::uint8_t length[256];       // bytes of a key's four values
};

SvbTables make_svb_tables()
{
    SvbTables tables{};
    for (unsigned key = 0; key < 256; ++key) {
        unsigned offset = 0;
        for (unsigned value = 0; value < 4; ++value) {
            const unsigned bytes = ((key >> (2 * value)) & 3u) + 1;
            for (unsigned byte = 0; byte < 4; ++byte) {
                tables.shuffle[key][4 * value + byte] =
                        static_cast<std::uint8_t>(byte < bytes ? offset + byte : 0x80);
            }
            offset += bytes;
        }
        tables.length[key] = static_cast<std::uint8_t>(offset);
    }
    return tables;
}

const SvbTables& svb_tables()
{
    static const SvbTables tables = make_svb_tables();
    return tables;
}

// Four values per key with one byte shuffle; returns where the data of the next key starts.
__attribute__((target("ssse3"))) const std::uint8_t* decode_svb_groups(const std::uint8_t* keys,
                                                                       const std::uint8_t* data,
                                                                       std::uint32_t* out,
                                                                       std::uint32_t groups)
{
    const auto& tables = svb_tables();
    for (std::uint32_t group = 0; group < groups; ++group) {
        const auto key = keys[group];
        const auto bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data));
        const auto shuffle = _mm_loadu_si128(reinterpret_cast<const __m128i*>(tables.shuffle[key]));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4 * group),
                         _mm_shuffle_epi8(bytes, shuffle));
        data += tables.length[key];
    }
    return data;
}

}  // namespace

// Debian's libslow5 0.7.0 decodes svb-zd signal with its own copy of streamvbyte in mind: it
// gives zigzag_delta_decode an output of n int16 samples, while the system libstreamvbyte writes
// n int32 values there (twice the buffer, a heap overflow). The encoder side widens samples to
// int32 itself and matches the system library. Defining the decoder here, with the layout
// libslow5 expects and default visibility (so the dynamic linker sees it), takes precedence over
// the system one in every program that reads signal.
extern "C" __attribute__((visibility("default"))) void zigzag_delta_decode(const std::uint32_t* in,
                                                                           std::int16_t* out,
                                                                           std::size_t n,
                                                                           std::int32_t previous)
{
    // Eight samples at a time: their deltas summed in place, plus the last sample before them.
    std::size_t i = 0;
    auto last = _mm_set1_epi16(static_cast<std::int16_t>(previous));
    for (; i + 8 <= n; i += 8) {
        auto sums = _mm_packs_epi32(zigzag_low16(in + i), zigzag_low16(in + i + 4));
        sums = _mm_add_epi16(sums, _mm_slli_si128(sums, 2));
        sums = _mm_add_epi16(sums, _mm_slli_si128(sums, 4));
        sums = _mm_add_epi16(sums, _mm_slli_si128(sums, 8));
        sums = _mm_add_epi16(sums, last);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), sums);
        last = _mm_shuffle_epi32(_mm_shufflehi_epi16(sums, 0xff), 0xff);
    }
    previous = i == 0 ? previous : out[i - 1];
    for (; i < n; ++i) {
        const auto delta = static_cast<std::int32_t>((in[i] >> 1) ^ (0u - (in[i] & 1u)));
        previous += delta;
        out[i] = static_cast<std::int16_t>(previous);
    }
}

// The system libstreamvbyte decodes one value at a time, slower than the transport can carry
// reads; this one, which libslow5 finds first in the same way, decodes four at a time where the
// CPU can.
extern "C" __attribute__((visibility("default"))) std::size_t
streamvbyte_decode(const std::uint8_t* in, std::uint32_t* out, std::uint32_t count)
{
    static const bool shuffles = __builtin_cpu_supports("ssse3");
    const std::uint8_t* data = in + (count + 3) / 4;
    // A group loads 16 bytes, which lie within the input while 16 values remain (each takes a
    // byte at least).
    const std::uint32_t groups = shuffles && count >= 16 ? (count - 16) / 4 + 1 : 0;
    if (groups != 0) {
        data = decode_svb_groups(in, data, out, groups);
    }
    for (std::uint32_t i = 4 * groups; i < count; ++i) {
        const unsigned bytes = ((in[i / 4] >> (2 * (i % 4))) & 3u) + 1;
        std::uint32_t value = 0;
        std::memcpy(&value, data, bytes);  // x86-64 is little-endian, as the format
        out[i] = value;
        data += bytes;
    }
    return static_cast<std::size_t>(data - in);
}

namespace tamsu_cli {

Slow5Reader::Slow5Reader(const std::string& path, std::size_t threads)
        : m_name(path)
        , m_threads(threads)
        , m_file(open_slow5_file(path))
{
    const auto* header = m_file->header;
    for (std::uint32_t group = 0; group < header->num_read_groups; ++group) {
        const char* run_id = slow5_hdr_get("run_id", group, header);
        m_run_ids.emplace_back(run_id == nullptr ? "" : run_id);
    }
}

bool Slow5Reader::next(RawRead& read)
{
    // Started here: opening an input only for its run ids starts no threads.
    if (!m_decoder) {
        // Two records per thread keep each one busy while the caller takes reads.
        m_decoder = std::make_unique<ParallelSlow5Decoder>(*m_file, m_name, m_run_ids, m_threads,
                                                           2 * m_threads);
    }
    return m_decoder->next(read);
}

}  // namespace tamsu_cli
