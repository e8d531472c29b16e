// NTFS structures the stand-in core decodes for its MFT walk: the boot sector, $MFT's
// run list and file-record fixups. Everything is read through Bytes.
#pragma once
#include <stdint.h>
#include <vector>

#include "Disk.h"
#include "LeBytes.h"

namespace qvtd {

struct NtfsGeometry {
  uint32_t bytesPerSector = 0;
  uint32_t bytesPerCluster = 0;
  uint32_t recordSize = 0;
  uint64_t totalClusters = 0;
  uint64_t mftLcn = 0;
};

// Checks the boot sector's fields against their legal values (Res::NotThisFs otherwise).
Res ParseNtfsBoot(Bytes boot, NtfsGeometry& out);

// One extent of a non-resident attribute; lcn kUnmapped for a sparse or invalid run.
struct Extent {
  static constexpr uint64_t kUnmapped = UINT64_MAX;
  uint64_t vcn = 0;
  uint64_t clusters = 0;
  uint64_t lcn = kUnmapped;
};

// Decodes a mapping-pairs array starting at firstVcn, up to lastVcn. Runs that point past
// totalClusters are kept as unmapped; a malformed pair ends the list (Res::Corrupt when
// nothing at all could be decoded).
Res DecodeRuns(Bytes pairs, uint64_t firstVcn, uint64_t lastVcn, uint64_t totalClusters,
               std::vector<Extent>& out);

// Checks a file record's header (signature, update sequence, first attribute) for a
// record of the given size.
bool FileRecordHeaderOk(Bytes record, uint32_t recordSize);
// Applies the update-sequence fixups in place; false when a sector's check word differs.
bool ApplyFixups(uint8_t* record, uint32_t recordSize);

}  // namespace qvtd
