#include "manifest/h264/bit_reader.h"

uint32_t CBitReader::ReadBit() {
    const uint64_t byte = m_bitPosition >> 3;
    const unsigned shift = 7 - unsigned(m_bitPosition & 7);
    ++m_bitPosition;
    if (byte >= m_length)
        return 0;
    return (m_data[byte] >> shift) & 1u;
}

uint32_t CBitReader::ReadBits(unsigned n) {
    uint32_t value = 0;
    for (unsigned i = 0; i < n; ++i)
        value = (value << 1) | ReadBit();
    return value;
}

uint32_t CBitReader::ReadUe() {
    const uint64_t endBit = uint64_t(m_length) * 8;
    uint64_t leadingZeros = 0;
    for (;;) {
        if (m_bitPosition >= endBit) {
            // Only zeros to the end: the code never completes.
            m_bitPosition = endBit;
            return 0;
        }
        if (ReadBit() != 0)
            break;
        ++leadingZeros;
    }
    if (leadingZeros > 32) {
        m_bitPosition += leadingZeros;
        return UINT32_MAX;
    }
    // 2^lz - 1 + suffix; 32 leading zeros can reach 2^33 - 2.
    uint64_t suffix = 0;
    for (uint64_t i = 0; i < leadingZeros; ++i)
        suffix = (suffix << 1) | ReadBit();
    const uint64_t value = (uint64_t(1) << leadingZeros) - 1 + suffix;
    return value > UINT32_MAX ? UINT32_MAX : uint32_t(value);
}

int32_t CBitReader::ReadSe() {
    const uint32_t code = ReadUe();
    // 1, 2, 3, 4 ... map to 1, -1, 2, -2 ...; UINT32_MAX stands for any larger code.
    const int64_t magnitude = (int64_t(code) + 1) / 2;
    if (code & 1u)
        return magnitude > INT32_MAX ? INT32_MAX : int32_t(magnitude);
    return int32_t(-magnitude);
}
