// usermgr-db demo FILE: a new database like "create" makes, with the account
// 张三 / 580274 and a handful of persons with birth dates, profiles of
// several lines and small PNG photos drawn here.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "mdb/mdb.h"
#include "mdb/oadate.h"
#include "tools/command.h"

namespace tool {
namespace {

// --- A minimal PNG writer: 8-bit RGB, no filtering, stored deflate blocks.

uint32_t Crc32(const std::string& bytes) {
  static uint32_t table[256];
  static bool ready = false;
  if (!ready) {
    for (uint32_t n = 0; n < 256; ++n) {
      uint32_t c = n;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      table[n] = c;
    }
    ready = true;
  }
  uint32_t c = 0xFFFFFFFFu;
  for (unsigned char b : bytes) c = table[(c ^ b) & 0xFF] ^ (c >> 8);
  return c ^ 0xFFFFFFFFu;
}

uint32_t Adler32(const std::string& bytes) {
  uint32_t a = 1, b = 0;
  for (unsigned char c : bytes) {
    a = (a + c) % 65521;
    b = (b + a) % 65521;
  }
  return (b << 16) | a;
}

void PutBig32(std::string* out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out->push_back(static_cast<char>((v >> shift) & 0xFF));
}

void PutChunk(std::string* png, const char* type, const std::string& data) {
  PutBig32(png, static_cast<uint32_t>(data.size()));
  std::string body = std::string(type, 4) + data;
  png->append(body);
  PutBig32(png, Crc32(body));
}

// A zlib stream of stored (uncompressed) deflate blocks.
std::string ZlibStored(const std::string& raw) {
  std::string z = "\x78\x01";
  size_t pos = 0;
  do {
    size_t n = std::min<size_t>(raw.size() - pos, 65535);
    bool last = pos + n == raw.size();
    z.push_back(last ? 1 : 0);
    z.push_back(static_cast<char>(n & 0xFF));
    z.push_back(static_cast<char>(n >> 8));
    z.push_back(static_cast<char>(~n & 0xFF));
    z.push_back(static_cast<char>((~n >> 8) & 0xFF));
    z.append(raw, pos, n);
    pos += n;
  } while (pos < raw.size());
  PutBig32(&z, Adler32(raw));
  return z;
}

struct Rgb {
  uint8_t r, g, b;
};

// rgb holds width * height pixels, row by row.
std::string EncodePng(int width, int height, const std::vector<Rgb>& rgb) {
  std::string png("\x89PNG\r\n\x1a\n", 8);
  std::string ihdr;
  PutBig32(&ihdr, width);
  PutBig32(&ihdr, height);
  ihdr += std::string("\x08\x02\x00\x00\x00", 5);  // 8 bits, RGB, deflate, no filter, no interlace
  PutChunk(&png, "IHDR", ihdr);
  std::string raw;
  raw.reserve(static_cast<size_t>(height) * (1 + width * 3));
  for (int y = 0; y < height; ++y) {
    raw.push_back(0);  // filter type None
    for (int x = 0; x < width; ++x) {
      const Rgb& p = rgb[static_cast<size_t>(y) * width + x];
      raw.push_back(static_cast<char>(p.r));
      raw.push_back(static_cast<char>(p.g));
      raw.push_back(static_cast<char>(p.b));
    }
  }
  PutChunk(&png, "IDAT", ZlibStored(raw));
  PutChunk(&png, "IEND", "");
  return png;
}

// A head-and-shoulders silhouette on a coloured background.
std::string PortraitPng(Rgb background, Rgb figure) {
  const int w = 72, h = 80;
  std::vector<Rgb> pixels(w * h, background);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      double hx = x - w / 2.0, hy = y - 30.0;
      bool head = hx * hx + hy * hy <= 15.0 * 15.0;
      double bx = (x - w / 2.0) / 30.0, by = (y - 82.0) / 30.0;
      bool body = bx * bx + by * by <= 1.0;
      if (head || body) pixels[y * w + x] = figure;
    }
  }
  return EncodePng(w, h, pixels);
}

// --- The demo rows.

struct DemoPerson {
  const char16_t* name;
  bool male;
  int year, month, day;
  const char16_t* profile;
  Rgb background, figure;
};

const DemoPerson kPersons[] = {
    {u"王秀英", false, 1962, 8, 14, u"退休教师。\r\n喜欢书法和太极拳。", {222, 184, 135}, {90, 60, 40}},
    {u"李建国", true, 1975, 3, 2, u"工程师，负责厂区设备维护。\r\n值班电话：8801", {135, 170, 222}, {30, 50, 90}},
    {u"张伟", true, 1988, 11, 23, u"销售部经理。", {160, 210, 160}, {30, 80, 30}},
    {u"刘芳", false, 1993, 5, 7, u"会计。\r\n持有会计师证书。\r\n周末在社区做志愿者。", {240, 200, 210}, {120, 40, 70}},
    {u"陈晓明", true, 2001, 12, 30, u"大学生，计算机专业。", {200, 200, 240}, {60, 60, 120}},
    {u"赵敏", false, 1990, 1, 1, u"", {250, 230, 160}, {110, 90, 20}},
};

mdb::Status Fill(mdb::Database* db) {
  std::unique_ptr<mdb::Table> table;
  mdb::Status s = db->OpenTable(u"用户信息表", &table);
  if (!s.ok()) return s;
  int c_name = table->ColumnIndex(u"姓名"), c_sex = table->ColumnIndex(u"性别");
  int c_profile = table->ColumnIndex(u"个人简介"), c_birth = table->ColumnIndex(u"出生日期");
  int c_by = table->ColumnIndex(u"添加者"), c_photo = table->ColumnIndex(u"照片");
  if (c_name < 0 || c_sex < 0 || c_profile < 0 || c_birth < 0 || c_by < 0 || c_photo < 0)
    return mdb::Status::Corruption("[用户信息表] lacks a column of the program");
  s = db->Begin();
  if (!s.ok()) return s;
  for (const DemoPerson& p : kPersons) {
    std::vector<mdb::Value> values(table->columns().size());
    mdb::CivilTime birth;
    birth.year = p.year, birth.month = p.month, birth.day = p.day;
    values[c_name] = std::u16string(p.name);
    values[c_sex] = p.male;
    values[c_profile] = std::u16string(p.profile);
    values[c_birth] = mdb::Date{mdb::CivilToOa(birth)};
    values[c_by] = std::u16string(u"张三");
    values[c_photo] = mdb::Binary{PortraitPng(p.background, p.figure)};
    mdb::RowId id;
    int64_t number = 0;
    s = table->Insert(values, &id, &number);
    if (!s.ok()) {
      db->Rollback();
      return s;
    }
  }
  return db->Commit();
}

int RunDemo(const std::vector<std::string>& args) {
  if (args.size() != 1) {
    std::fprintf(stderr, "usage: usermgr-db demo FILE\n");
    return 2;
  }
  const std::string& path = args[0];
  mdb::Env* env = mdb::Env::Default();
  mdb::CreateOptions options;
  options.password = u"580274";
  mdb::Status s = mdb::Database::Create(env, path, options);
  if (!s.ok()) {
    std::fprintf(stderr, "usermgr-db demo: %s: %s\n", path.c_str(), s.ToString().c_str());
    return 1;
  }
  std::unique_ptr<mdb::Database> db;
  mdb::OpenOptions open;
  open.password = options.password;
  s = mdb::Database::Open(env, path, open, &db);
  if (s.ok()) s = Fill(db.get());
  if (!s.ok()) {
    std::fprintf(stderr, "usermgr-db demo: %s: %s\n", path.c_str(), s.ToString().c_str());
    return 1;
  }
  std::printf("created %s with %zu persons; log in as 张三 / 580274\n", path.c_str(),
              sizeof(kPersons) / sizeof(kPersons[0]));
  return 0;
}

Registrar reg({"demo", "demo FILE   new database with the account 张三 / 580274 and some persons with photos",
               RunDemo});

}  // namespace
}  // namespace tool
