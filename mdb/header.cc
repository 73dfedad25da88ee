#include "mdb/header.h"

#include <cmath>
#include <cstring>
#include <string>

#include "mdb/jet4.h"
#include "mdb/rc4.h"

namespace mdb {

namespace {

constexpr char kJetEngine[] = "Standard Jet DB";
constexpr char kAceEngine[] = "Standard ACE DB";

void UnmaskBlock(uint8_t* page) {
  uint8_t key[4];
  jet4::Put32(key, jet4::kHeaderMaskKey);
  Rc4Apply(key, 4, page + jet4::kHeaderMaskOffset, jet4::kHeaderMaskLength);
}

// The stored password is XORed with a mask taken from the creation date.
void PasswordMask(const uint8_t* unmasked, uint8_t mask[4]) {
  double date;
  uint64_t bits = jet4::Get64(unmasked + jet4::kHeaderCreateDateOffset);
  std::memcpy(&date, &bits, sizeof date);
  int32_t m = 0;
  if (std::isfinite(date) && date > -2147483648.0 && date < 2147483648.0) m = int32_t(date);
  jet4::Put32(mask, uint32_t(m));
}

}  // namespace

Status IdentifyFormat(const uint8_t* page, size_t size) {
  if (size <= jet4::kHeaderVersionOffset) return Status::Corruption("not an Access database (too short)");
  if (jet4::Get32(page) != 0x00000100)
    return Status::Corruption("not an Access database (bad signature)");
  const char* engine = reinterpret_cast<const char*>(page + jet4::kHeaderEngineOffset);
  if (std::memcmp(engine, kAceEngine, sizeof kAceEngine) == 0)
    return Status::NotSupported("an Access 2007 or later (.accdb) file; only Access 2000-2003 files are supported");
  if (std::memcmp(engine, kJetEngine, sizeof kJetEngine) != 0)
    return Status::Corruption("not an Access database (unknown engine name)");
  uint8_t version = page[jet4::kHeaderVersionOffset];
  if (version == jet4::kVersionJet3)
    return Status::NotSupported("an Access 97 (Jet 3) file; only Access 2000-2003 files are supported");
  if (version != jet4::kVersionJet4)
    return Status::NotSupported("an Access 2007 or later file; only Access 2000-2003 files are supported");
  return Status::OK();
}

Status ParseHeader(const uint8_t* page, size_t size, DatabaseHeader* out) {
  if (size < jet4::kPageSize) return Status::Corruption("file too short for a database header");
  MDB_RETURN_IF_ERROR(IdentifyFormat(page, size));
  uint8_t version = page[jet4::kHeaderVersionOffset];

  uint8_t buf[jet4::kPageSize];
  std::memcpy(buf, page, jet4::kPageSize);
  UnmaskBlock(buf);

  DatabaseHeader h;
  h.version = version;
  h.code_page = jet4::Get16(buf + jet4::kHeaderCodePageOffset);
  h.db_key = jet4::Get32(buf + jet4::kHeaderDbKeyOffset);
  h.sort_order = jet4::Get16(buf + jet4::kHeaderSortOrderOffset);
  h.sort_version = jet4::Get16(buf + jet4::kHeaderSortOrderOffset + 2);
  uint64_t bits = jet4::Get64(buf + jet4::kHeaderCreateDateOffset);
  std::memcpy(&h.create_date, &bits, sizeof h.create_date);

  uint8_t mask[4];
  PasswordMask(buf, mask);
  uint8_t pw[jet4::kHeaderPasswordLength];
  std::memcpy(pw, buf + jet4::kHeaderPasswordOffset, sizeof pw);
  for (size_t i = 0; i < sizeof pw; ++i) pw[i] ^= mask[i % 4];
  for (size_t i = 0; i + 1 < sizeof pw; i += 2) {
    char16_t c = char16_t(jet4::Get16(pw + i));
    if (c == 0) break;
    h.password.push_back(c);
  }
  *out = std::move(h);
  return Status::OK();
}

Status BuildHeaderPage(const NewHeader& h, uint8_t* page) {
  using namespace jet4;
  std::memset(page, 0, kPageSize);
  Put32(page + kHeaderMagicOffset, 0x00000100);
  std::memcpy(page + kHeaderEngineOffset, kJetEngine, sizeof kJetEngine);
  page[kHeaderVersionOffset] = kVersionJet4;
  // The masked block: six words Access always writes, the code page, no
  // database key (pages not encoded), the engine build, the sort order and
  // the creation date (whose whole part masks the password).
  for (uint32_t i = 0; i < sizeof kHeaderBlockWords / sizeof kHeaderBlockWords[0]; ++i)
    Put32(page + kHeaderMaskOffset + 4 * i, kHeaderBlockWords[i]);
  Put16(page + kHeaderCodePageOffset, h.code_page);
  Put32(page + kHeaderBuildOffset, kHeaderBuild);
  Put16(page + kHeaderSortOrderOffset, h.sort_order);
  Put64(page + kHeaderCreateDateOffset, kHeaderCreateDateBits);
  uint8_t mask[4];
  PasswordMask(page, mask);
  for (uint32_t i = 0; i < kHeaderPasswordLength; ++i) page[kHeaderPasswordOffset + i] = mask[i % 4];
  Put32(page + kHeaderAfterBlockOffset, kHeaderAfterBlockWord);
  std::memcpy(page + kHeaderAfterBlockOffset + 4, "4.0", 4);
  // The table at the end of the page: two words that vary between files,
  // then the same word 254 times.
  Put16(page + kHeaderTableOffset, kHeaderTableFirst[0]);
  Put16(page + kHeaderTableOffset + 2, kHeaderTableFirst[1]);
  for (uint32_t o = kHeaderTableOffset + 4; o < kPageSize; o += 2) Put16(page + o, kHeaderTableWord);
  UnmaskBlock(page);  // masking is the same operation
  return SetPassword(page, h.password);
}

Status CheckPassword(const DatabaseHeader& header, const std::u16string& given) {
  if (header.password.empty() || header.password == given) return Status::OK();
  return Status::BadPassword("the database password is wrong");
}

Status SetPassword(uint8_t* page, const std::u16string& password) {
  if (password.size() > jet4::kHeaderPasswordLength / 2)
    return Status::InvalidArgument("a database password has at most 20 characters");
  UnmaskBlock(page);
  uint8_t mask[4];
  PasswordMask(page, mask);
  uint8_t pw[jet4::kHeaderPasswordLength] = {};
  for (size_t i = 0; i < password.size(); ++i) jet4::Put16(pw + 2 * i, uint16_t(password[i]));
  for (size_t i = 0; i < sizeof pw; ++i) pw[i] ^= mask[i % 4];
  std::memcpy(page + jet4::kHeaderPasswordOffset, pw, sizeof pw);
  UnmaskBlock(page);
  return Status::OK();
}

}  // namespace mdb
