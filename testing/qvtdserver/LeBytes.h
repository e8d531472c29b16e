// The stand-in reads on-disk structures through the product's one little-endian
// reader: a short or corrupt sector can never be read past.
#pragma once
#include "LittleEndian.h"

namespace qvtd {
using le::AddU64;
using le::Bytes;
using le::MulU64;
using le::ToSize;
}  // namespace qvtd
