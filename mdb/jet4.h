// Jet 4 file layout: page kinds and the offsets of the fields the engine
// reads and writes. Little-endian throughout except index keys.
#pragma once

#include <cstdint>
#include <cstring>

namespace mdb {
namespace jet4 {

constexpr uint32_t kPageSize = 4096;

// First byte of every page.
enum PageType : uint8_t {
  kPageHeader = 0x00,
  kPageData = 0x01,
  kPageTdef = 0x02,
  kPageIndexNode = 0x03,
  kPageIndexLeaf = 0x04,
  kPageUsageMap = 0x05,
};

// ---- Page 0: the database header -------------------------------------------
constexpr uint32_t kHeaderMagicOffset = 0x00;      // 00 01 00 00
constexpr uint32_t kHeaderEngineOffset = 0x04;     // "Standard Jet DB\0"
constexpr uint32_t kHeaderVersionOffset = 0x14;    // 0 Jet 3, 1 Jet 4, >=2 ACE
constexpr uint8_t kVersionJet3 = 0x00;
constexpr uint8_t kVersionJet4 = 0x01;
// A block of the header is masked with RC4 under a fixed key.
constexpr uint32_t kHeaderMaskOffset = 0x18;
constexpr uint32_t kHeaderMaskLength = 0x80;
constexpr uint32_t kHeaderMaskKey = 0x6b39dac7;
// Offsets below are in the page, inside the unmasked block.
constexpr uint32_t kHeaderCodePageOffset = 0x3C;      // uint16
constexpr uint32_t kHeaderDbKeyOffset = 0x3E;         // uint32, 0: pages not encoded
constexpr uint32_t kHeaderPasswordOffset = 0x42;      // 40 bytes, UTF-16, 20 chars
constexpr uint32_t kHeaderPasswordLength = 40;
constexpr uint32_t kHeaderSortOrderOffset = 0x6E;     // uint16 LCID, then uint16 version
constexpr uint32_t kHeaderCreateDateOffset = 0x72;    // double; masks the password
constexpr uint32_t kHeaderBuildOffset = 0x6A;         // uint32 engine build
// Values Access writes in every header, measured from the empty database it
// made (mdb/README.md): the first six words of the masked block, the build
// (Jet 4.0 SP8, 8618), the creation date (kept as measured: see README),
// the word after the block followed by "4.0", and the table at 0xE00.
constexpr uint32_t kHeaderBlockWords[] = {0x00000100, 0x00000101, 2, 3, 4, 5};
constexpr uint32_t kHeaderBuild = 0x21AA;
constexpr uint64_t kHeaderCreateDateBits = 0x40E29FF17D1F72BCull;  // 38143.5465237847 (2004-06-05)
constexpr uint32_t kHeaderAfterBlockOffset = 0x98;
constexpr uint32_t kHeaderAfterBlockWord = 0x0654;
constexpr uint32_t kHeaderTableOffset = 0xE00;
constexpr uint16_t kHeaderTableFirst[2] = {0x0125, 0x0146};
constexpr uint16_t kHeaderTableWord = 0x0100;

// ---- Data pages ------------------------------------------------------------
constexpr uint32_t kDataFreeSpaceOffset = 2;   // uint16
constexpr uint32_t kDataTdefOffset = 4;        // uint32 owning table's tdef page
constexpr uint32_t kDataRowCountOffset = 12;   // uint16
constexpr uint32_t kDataRowTableOffset = 14;   // uint16 per row
constexpr uint16_t kRowDeleted = 0x8000;
constexpr uint16_t kRowOverflow = 0x4000;     // row holds a 4-byte pointer elsewhere
constexpr uint16_t kRowOffsetMask = 0x1FFF;
// Long-value pages are data pages with "LVAL" at offset 4.
constexpr uint32_t kLvalMarker = 0x4C41564C;  // "LVAL" read little-endian

// A row pointer: low byte row number, upper three bytes page number.
inline uint32_t PtrPage(uint32_t ptr) { return ptr >> 8; }
inline uint32_t PtrRow(uint32_t ptr) { return ptr & 0xFF; }
inline uint32_t MakePtr(uint32_t page, uint32_t row) { return (page << 8) | (row & 0xFF); }

// ---- Rows (Jet 4) ----------------------------------------------------------
// [uint16 column count][fixed part][variable part]...[uint16 eod]
// [uint16 var offsets, last column first][uint16 var count][null mask]
constexpr uint32_t kRowColumnCountSize = 2;

// ---- Table definition pages --------------------------------------------------
constexpr uint32_t kTdefNextPageOffset = 4;     // uint32 continuation page
constexpr uint32_t kTdefContinuationData = 8;   // continuation pages add bytes from here
constexpr uint32_t kTdefLengthOffset = 8;       // uint32
constexpr uint32_t kTdefRowCountOffset = 16;    // uint32
constexpr uint32_t kTdefAutonumberOffset = 20;  // uint32 next auto-number
constexpr uint32_t kTdefTableTypeOffset = 40;   // 0x4E user, 0x53 system
constexpr uint32_t kTdefMaxColsOffset = 41;     // uint16
constexpr uint32_t kTdefVarColsOffset = 43;     // uint16
constexpr uint32_t kTdefColCountOffset = 45;    // uint16
constexpr uint32_t kTdefIndexCountOffset = 47;  // uint32 logical indexes
constexpr uint32_t kTdefRealIndexCountOffset = 51;  // uint32
constexpr uint32_t kTdefUsedPagesOffset = 55;   // uint32 row pointer to the usage map
constexpr uint32_t kTdefFreePagesOffset = 59;   // uint32 row pointer to the free-space map
constexpr uint32_t kTdefHeaderEnd = 63;
constexpr uint8_t kTableTypeUser = 0x4E;
constexpr uint8_t kTableTypeSystem = 0x53;

// Per real index, right after the header: 12 bytes.
constexpr uint32_t kRealIndexCountEntrySize = 12;
constexpr uint32_t kRealIndexUniqueCountOffset = 4;  // uint32 distinct keys ever added (never lowered)

// Column entries: 25 bytes each.
constexpr uint32_t kColumnEntrySize = 25;
constexpr uint32_t kColTypeOffset = 0;
constexpr uint32_t kColNumberOffset = 5;       // uint16, counts deleted columns
constexpr uint32_t kColVarIndexOffset = 7;     // uint16 slot in the var offset table
constexpr uint32_t kColIndexOffset = 9;        // uint16
constexpr uint32_t kColMiscOffset = 11;        // text: uint16 sort order; numeric: precision, scale
constexpr uint32_t kColCodePageOffset = 13;    // uint16 (text)
constexpr uint32_t kColFlagsOffset = 15;
constexpr uint32_t kColExtFlagsOffset = 16;
constexpr uint32_t kColFixedOffsetOffset = 21; // uint16 offset in the fixed part
constexpr uint32_t kColLengthOffset = 23;      // uint16
constexpr uint8_t kColFlagFixed = 0x01;
constexpr uint8_t kColFlagUpdatable = 0x02;  // set on ordinary columns
constexpr uint8_t kColFlagNullable = kColFlagUpdatable;  // older name
constexpr uint8_t kColFlagAutonumber = 0x04;
constexpr uint8_t kColFlagReplication = 0x10;
constexpr uint8_t kColFlagGuidAuto = 0x40;
constexpr uint8_t kColFlagHyperlink = 0x80;
constexpr uint8_t kColExtCompressed = 0x01;

// Real index entries: 52 bytes each.
constexpr uint32_t kRealIndexEntrySize = 52;
constexpr uint32_t kRealIndexColumnsOffset = 4;  // 10 x (uint16 column number, uint8 order)
constexpr uint32_t kRealIndexMaxColumns = 10;
constexpr uint16_t kRealIndexNoColumn = 0xFFFF;
constexpr uint8_t kIndexOrderAscending = 0x01;
constexpr uint32_t kRealIndexUsedPagesOffset = 34;  // uint32 row pointer to usage map
constexpr uint32_t kRealIndexFirstPageOffset = 38;  // uint32 root page
constexpr uint32_t kRealIndexFlagsOffset = 46;  // after 4 unknown bytes
constexpr uint8_t kIndexFlagUnique = 0x01;
constexpr uint8_t kIndexFlagIgnoreNulls = 0x02;
constexpr uint8_t kIndexFlagRequired = 0x08;
constexpr uint8_t kIndexFlagUnknown80 = 0x80;  // set on every index Access writes

// Logical index entries: 28 bytes each.
constexpr uint32_t kLogicalIndexEntrySize = 28;
constexpr uint32_t kLogicalIndexNumberOffset = 4;     // uint32
constexpr uint32_t kLogicalIndexRealOffset = 8;       // uint32 real index it uses
constexpr uint32_t kLogicalIndexRelTypeOffset = 12;   // uint8
constexpr uint32_t kLogicalIndexRelIndexOffset = 13;  // int32 index in the other table
constexpr uint32_t kLogicalIndexRelTableOffset = 17;  // uint32 tdef page of the other table
constexpr uint32_t kLogicalIndexCascadeUpdOffset = 21;
constexpr uint32_t kLogicalIndexCascadeDelOffset = 22;
constexpr uint32_t kLogicalIndexKindOffset = 23;      // 1 primary key, 2 foreign key
constexpr uint8_t kIndexKindPrimary = 0x01;
constexpr uint8_t kIndexKindForeign = 0x02;
constexpr uint8_t kCascadeFlag = 0x01;  // the cascade bytes of a foreign key

// ---- Usage maps ----------------------------------------------------------------
constexpr uint8_t kUsageMapInline = 0x00;     // [0][uint32 first page][bitmap]
constexpr uint8_t kUsageMapReference = 0x01;  // [1][uint32 map page]...
constexpr uint32_t kUsageMapPageBitsOffset = 4;  // in a type 0x05 page
constexpr uint32_t kUsageMapPageBits = (kPageSize - kUsageMapPageBitsOffset) * 8;

// ---- Long values -----------------------------------------------------------------
// 12-byte field in the row: uint32 length | flags, uint32 row pointer, uint32 0.
constexpr uint32_t kLvalFieldSize = 12;
constexpr uint32_t kLvalInline = 0x80000000;
constexpr uint32_t kLvalSinglePage = 0x40000000;
constexpr uint32_t kLvalLengthMask = 0x3FFFFFFF;

// The system catalog's table definition is always here.
constexpr uint32_t kCatalogTdefPage = 2;

// ---- Little-endian helpers -------------------------------------------------------
inline uint16_t Get16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
inline uint32_t Get24(const uint8_t* p) { return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16); }
inline uint32_t Get32(const uint8_t* p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
inline uint64_t Get64(const uint8_t* p) { return uint64_t(Get32(p)) | (uint64_t(Get32(p + 4)) << 32); }
inline void Put16(uint8_t* p, uint16_t v) { p[0] = uint8_t(v); p[1] = uint8_t(v >> 8); }
inline void Put24(uint8_t* p, uint32_t v) { p[0] = uint8_t(v); p[1] = uint8_t(v >> 8); p[2] = uint8_t(v >> 16); }
inline void Put32(uint8_t* p, uint32_t v) { Put16(p, uint16_t(v)); Put16(p + 2, uint16_t(v >> 16)); }
inline void Put64(uint8_t* p, uint64_t v) { Put32(p, uint32_t(v)); Put32(p + 4, uint32_t(v >> 32)); }

}  // namespace jet4
}  // namespace mdb
