// Most-significant-bit-first reader over an H.264 RBSP, with the Exp-Golomb codes of
// the bitstream syntax (ue(v), se(v)).
//
// Bits past the end of the data read as 0 and nothing beyond it is touched. An
// Exp-Golomb code whose leading zeros reach the end of the data reads as 0; a ue code
// whose value does not fit 32 bits reads as UINT32_MAX, which se maps to INT32_MAX.
#pragma once

#include <cstddef>
#include <cstdint>

class CBitReader {
public:
    CBitReader(const uint8_t* data, size_t length) : m_data(data), m_length(length) {}

    // n is 0 to 32.
    uint32_t ReadBits(unsigned n);
    bool ReadFlag() { return ReadBits(1) != 0; }
    uint32_t ReadUe();
    int32_t ReadSe();

    // Bits consumed so far, those read past the end included.
    uint64_t BitPosition() const { return m_bitPosition; }
    bool PastEnd() const { return m_bitPosition > uint64_t(m_length) * 8; }

private:
    uint32_t ReadBit();

    const uint8_t* m_data;
    size_t m_length;
    uint64_t m_bitPosition = 0;
};
