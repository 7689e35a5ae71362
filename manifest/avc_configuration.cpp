#include "manifest/avc_configuration.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <stdexcept>

namespace {

constexpr BYTE kSequenceParameterSet = 7;
constexpr BYTE kPictureParameterSet = 8;

// One NAL unit of the input: [begin, end), header byte first.
struct Unit {
    size_t Begin = 0;
    size_t End = 0;
};

// Walks the units of the codec data, either by 2-byte lengths or by 3-byte start codes.
class UnitWalker {
public:
    UnitWalker(const BYTE* data, size_t length, bool lengthPrefixed)
        : m_data(data), m_length(length), m_lengthPrefixed(lengthPrefixed) {}

    // The first unit of type at or after position, and where the walk goes on after it.
    bool Find(BYTE type, size_t position, Unit* unit, size_t* next) const {
        Unit candidate;
        while (NextUnit(position, &candidate, &position)) {
            if (candidate.End > candidate.Begin && (m_data[candidate.Begin] & 31) == type) {
                *unit = candidate;
                *next = position;
                return true;
            }
        }
        return false;
    }

private:
    bool NextUnit(size_t position, Unit* unit, size_t* next) const {
        if (m_lengthPrefixed) {
            if (position + 2 > m_length)
                return false;
            const size_t size = size_t(m_data[position]) << 8 | m_data[position + 1];
            unit->Begin = position + 2;
            unit->End = std::min(unit->Begin + size, m_length);
            *next = unit->End;
            return true;
        }
        const size_t start = StartCode(position);
        if (start == m_length)
            return false;
        unit->Begin = start + 3;
        const size_t following = StartCode(unit->Begin);
        unit->End = following;
        // A zero before the next start code belongs to it (a 4-byte start code).
        if (following < m_length && following > unit->Begin && m_data[following - 1] == 0)
            --unit->End;
        *next = unit->End;
        return true;
    }

    // Position of the next 00 00 01 at or after position; m_length when there is none.
    size_t StartCode(size_t position) const {
        for (size_t i = position; i + 3 <= m_length; ++i)
            if (m_data[i] == 0 && m_data[i + 1] == 0 && m_data[i + 2] == 1)
                return i;
        return m_length;
    }

    const BYTE* m_data;
    size_t m_length;
    bool m_lengthPrefixed;
};

bool ContainsBoxType(const BYTE* data, size_t length) {
    for (size_t i = 0; i + 4 <= length; ++i)
        if (std::memcmp(data + i, "avcC", 4) == 0)
            return true;
    return false;
}

// 2-byte length-prefixed units: a first unit that leaves more than 3 bytes, the
// second's length and prefix fitting in them.
bool IsLengthPrefixed(const BYTE* data, size_t length) {
    if (ContainsBoxType(data, length) || length < 4 || (data[0] == 0 && data[1] == 0))
        return false;
    const size_t first = size_t(data[0]) << 8 | data[1];
    if (first + 2 > length || length - 2 - first <= 3)
        return false;
    const size_t rest = length - 2 - first;
    const size_t second = size_t(data[2 + first]) << 8 | data[3 + first];
    return second + 2 <= rest;
}

void Put16(std::vector<BYTE>* out, size_t value) {
    out->push_back(BYTE(value >> 8));
    out->push_back(BYTE(value));
}

// Appends every unit of type from first on, each with its 2-byte length; the count of
// units written.
bool AppendUnits(const BYTE* data, const UnitWalker& walker, BYTE type, Unit first, size_t next,
                 std::vector<BYTE>* box, size_t* count) {
    Unit unit = first;
    *count = 0;
    do {
        const size_t size = unit.End - unit.Begin;
        if (size > 0xFFFF)
            return false;
        Put16(box, size);
        box->insert(box->end(), data + unit.Begin, data + unit.End);
        ++*count;
    } while (walker.Find(type, next, &unit, &next));
    return true;
}

} // namespace

HRESULT BuildAvcConfiguration(const BYTE* data, size_t length, std::vector<BYTE>* box) {
    box->clear();
    if (data == nullptr || length < 9)
        return E_FAIL;
    const UnitWalker walker(data, length, IsLengthPrefixed(data, length));
    Unit sps, pps;
    size_t afterSps = 0, afterPps = 0;
    if (!walker.Find(kSequenceParameterSet, 0, &sps, &afterSps) ||
        !walker.Find(kPictureParameterSet, 0, &pps, &afterPps))
        return E_FAIL;
    // Profile, compatibility and level follow the set's header byte.
    if (sps.End - sps.Begin < 4)
        return E_FAIL;
    try {
        box->reserve(length + 15);
        box->assign(4, 0);
        box->insert(box->end(), {'a', 'v', 'c', 'C', 1});
        box->insert(box->end(), data + sps.Begin + 1, data + sps.Begin + 4);
        box->push_back(0xFF); // 4-byte NAL lengths
        const size_t spsCountAt = box->size();
        box->push_back(0xE0);
        size_t count = 0;
        if (!AppendUnits(data, walker, kSequenceParameterSet, sps, afterSps, box, &count))
            throw std::length_error("set");
        (*box)[spsCountAt] = BYTE(0xE0 + count);
        const size_t ppsCountAt = box->size();
        box->push_back(0);
        if (!AppendUnits(data, walker, kPictureParameterSet, pps, afterPps, box, &count))
            throw std::length_error("set");
        (*box)[ppsCountAt] = BYTE(count);
    } catch (const std::bad_alloc&) {
        box->clear();
        return E_OUTOFMEMORY;
    } catch (const std::length_error&) {
        box->clear();
        return E_FAIL;
    }
    const size_t size = box->size();
    (*box)[0] = BYTE(size >> 24);
    (*box)[1] = BYTE(size >> 16);
    (*box)[2] = BYTE(size >> 8);
    (*box)[3] = BYTE(size);
    return S_OK;
}
