// What stat said of a file an answer was read from: an answer kept between requests is used
// only while every file it was read from still says the same.
#pragma once
#include <cstdint>
#include <string>

namespace brackwen {

struct FileStamp {
  std::string path;
  // What it is only (a directory's place and kind), not when it last changed.
  bool identity_only = false;
  // 0 when stat found the file; else its errno (a file that does not exist yet counts too).
  int error = 0;
  uint64_t device = 0;
  uint64_t inode = 0;
  uint32_t mode = 0;
  int64_t size = 0;
  int64_t modified_ns = 0;
  // The kernel sets it on every change and no program can set it back.
  int64_t changed_ns = 0;
  bool operator==(const FileStamp&) const = default;
};

}  // namespace brackwen
