/* The 7z decoder library was built with its PPMd method switched on but without
   the PPMd sources. Skins never use PPMd: these stand-ins make such an item fail
   to decode (as out of memory) instead of breaking the link. Compiled only when
   the library leaves these symbols undefined. */
#include "Ppmd7.h"

void Ppmd7_Construct(CPpmd7 *p) { (void)p; }
BoolInt Ppmd7_Alloc(CPpmd7 *p, UInt32 size, ISzAllocPtr alloc) { (void)p; (void)size; (void)alloc; return False; }
void Ppmd7_Free(CPpmd7 *p, ISzAllocPtr alloc) { (void)p; (void)alloc; }
void Ppmd7_Init(CPpmd7 *p, unsigned maxOrder) { (void)p; (void)maxOrder; }
BoolInt Ppmd7z_RangeDec_Init(CPpmd7_RangeDec *p) { (void)p; return False; }
int Ppmd7z_DecodeSymbol(CPpmd7 *p) { (void)p; return -1; }
