// Where NTFS keeps its fields: byte offsets inside a file record, an attribute header
// (resident and non-resident), a $FILE_NAME value and an $ATTRIBUTE_LIST entry, with
// the attribute types and flag bits the readers need. Fields are read through the
// little-endian reader at these offsets, never by casting to structures.
#pragma once
#include <cstdint>

namespace Ntfs {

constexpr uint32_t kSectorBytes = 512;
constexpr uint32_t kMaxRecordBytes = 0xFFFF;

// Attribute types.
constexpr uint32_t kStandardInformation = 0x10;
constexpr uint32_t kAttributeList = 0x20;
constexpr uint32_t kFileName = 0x30;
constexpr uint32_t kData = 0x80;
constexpr uint32_t kReparsePoint = 0xC0;
constexpr uint32_t kEndMarker = 0xFFFFFFFF;
constexpr uint32_t kMaxAttributeType = 0x10000;

// File record header.
constexpr uint32_t kRecordUsaOffset = 0x04;
constexpr uint32_t kRecordUsaCount = 0x06;
constexpr uint32_t kRecordSequence = 0x10;
constexpr uint32_t kRecordFirstAttribute = 0x14;
constexpr uint32_t kRecordFlags = 0x16;
constexpr uint32_t kRecordUsedSize = 0x18;
constexpr uint32_t kRecordAllocatedSize = 0x1C;
constexpr uint32_t kRecordBaseNumber = 0x20;  // 48 bits: 32 here, 16 at +4
constexpr uint32_t kRecordBaseSequence = 0x26;
constexpr uint32_t kRecordOwnNumber = 0x2C;  // only when the first attribute lies past 0x30
constexpr uint32_t kRecordOwnNumberSince = 0x30;
constexpr uint16_t kRecordInUse = 0x1;
constexpr uint16_t kRecordDirectory = 0x2;

// Attribute header, common part.
constexpr uint32_t kAttrType = 0x00;
constexpr uint32_t kAttrLength = 0x04;
constexpr uint32_t kAttrNonResident = 0x08;
constexpr uint32_t kAttrNameLength = 0x09;
constexpr uint32_t kAttrFlags = 0x0C;
constexpr uint16_t kAttrCompressed = 0x0001;
constexpr uint32_t kAttrCommonBytes = 0x10;

// Resident attribute header.
constexpr uint32_t kResidentValueLength = 0x10;
constexpr uint32_t kResidentValueOffset = 0x14;
constexpr uint32_t kResidentHeaderBytes = 0x18;

// Non-resident attribute header.
constexpr uint32_t kFirstVcn = 0x10;
constexpr uint32_t kLastVcn = 0x18;
constexpr uint32_t kRunListOffset = 0x20;
constexpr uint32_t kUnitExponent = 0x22;
constexpr uint32_t kDataSize = 0x30;
constexpr uint32_t kNonResidentHeaderBytes = 0x40;

// $FILE_NAME value.
constexpr uint32_t kNameParent = 0x00;  // 48-bit number, 16-bit sequence at +6
constexpr uint32_t kNameModified = 0x10;
constexpr uint32_t kNameDataSize = 0x30;
constexpr uint32_t kNameAttributes = 0x38;
constexpr uint32_t kNameChars = 0x40;  // length in characters, one byte
constexpr uint32_t kNameSpace = 0x41;
constexpr uint32_t kNameText = 0x42;

// $ATTRIBUTE_LIST entry.
constexpr uint32_t kListType = 0x00;
constexpr uint32_t kListLength = 0x04;
constexpr uint32_t kListNameLength = 0x06;
constexpr uint32_t kListFirstVcn = 0x08;
constexpr uint32_t kListReference = 0x10;  // 48-bit number, 16-bit sequence at +6
constexpr uint32_t kListEntryMinBytes = 0x1A;

// A file reference: 48 bits of record number, 16 of sequence.
constexpr uint64_t kReferenceNumberMask = 0xFFFFFFFFFFFFull;
constexpr uint32_t kReferenceSequenceShift = 48;

}  // namespace Ntfs
