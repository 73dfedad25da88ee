// Made-up persons for the benchmarks: the same index always gives the same
// person, so every run and every reader sees the same file.
#pragma once

#include <cstdint>
#include <string>

namespace bench {

struct Person {
  std::u16string name;
  bool male = false;
  std::u16string profile;  // a few lines, CR LF between them
  double birth_oa = 0;     // midnight, somewhere in 1940..2019
  std::string photo;       // empty for most persons
};

// photo_every: every n-th person (n > 0) carries a photo of photo_bytes.
Person MakePerson(uint64_t index, uint64_t photo_every, size_t photo_bytes);

// Bytes that look like the start of a PNG file and do not compress.
std::string MakePhoto(uint64_t seed, size_t bytes);

// The name the exact-search case looks for; MakePerson gives it to a few
// persons in every thousand.
const char16_t* ExactSearchName();

}  // namespace bench
