// Verifying the segment files in \Temp against ExpectedChecksums.
#pragma once

#include "format/segment_checksum.h"
#include "platform/wince/types.h"

// Checksum of one file, read whole. A file that cannot be opened, read or held in memory,
// or is empty, gives 0. The file is opened with OPEN_ALWAYS, so an absent file is left
// behind empty.
SegmentChecksum FileChecksum(LPCWSTR path);

// Checks every row of ExpectedChecksums in order against the column of the configuration;
// stops at the first file that differs, opening none after it.
bool SegmentChecksumsMatch(bool advanced);
