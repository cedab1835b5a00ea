#include "format/segment_checksum.h"

void ChecksumStream::Add(const uint8_t* bytes, uint32_t length) {
    // Locals: the byte pointer may alias the members, which would keep them in memory.
    uint32_t s = sum, p = parity;
    for (uint32_t i = 0; i < length; ++i) {
        s += bytes[i];
        p ^= bytes[i];
    }
    sum = s;
    parity = p;
}

SegmentChecksum ChecksumStream::Value() const { return ((sum & 0xFF) % 255) * 1000 + parity; }

SegmentChecksum ChecksumBytes(const uint8_t* bytes, uint32_t length) {
    ChecksumStream stream;
    stream.Add(bytes, length);
    return stream.Value();
}

// One ROM release per configuration: a new ROM release needs a new table.
const ExpectedChecksum ExpectedChecksums[kExpectedChecksumCount] = {
    {u"\\Temp\\Kernel.nb0", 123019, 182108},
    {u"\\Temp\\OS.nb0", 200244, 188248},
    {u"\\Temp\\SHELL.nb0", 49151, 49151},
    {u"\\Temp\\BROWSING.nb0", 15141, 15141},
    {u"\\Temp\\COREAPPS.nb0", 85037, 85037},
    {u"\\Temp\\SYNC.nb0", 169165, 169165},
    {u"\\Temp\\24MAPPS.nb0", 254002, 254002},
    {u"\\Temp\\24MCONSUMER.nb0", 206168, 206168},
    {u"\\Temp\\MISC_1.nb0", 37003, 231197},
    {u"\\Temp\\MISC_2.nb0", 202230, 229003},
    {u"\\Temp\\MISC_3.nb0", 0, 0},
    {u"\\Temp\\MISC_4.nb0", 0, 0},
};
