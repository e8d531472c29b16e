// The stand-in owns its Windows handles through the product's one owner type.
#pragma once
#include "UniqueRes.h"

namespace qvtd {
using ::UniqueFile;
using ::UniqueHandle;
}  // namespace qvtd
