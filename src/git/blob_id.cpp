// Blob ids through libgit2, which hashes as git does (SHA-1 with collision detection).
#include "git/blob_id.hpp"

#include <git2.h>

namespace brackwen {

std::optional<std::string> blob_id(std::string_view bytes) {
  static const int initialised = git_libgit2_init();
  if (initialised < 0) return std::nullopt;
  git_oid id;
  if (git_odb_hash(&id, bytes.data(), bytes.size(), GIT_OBJECT_BLOB) != 0) return std::nullopt;
  std::string hex(GIT_OID_HEXSZ, '0');
  git_oid_fmt(hex.data(), &id);
  return hex;
}

}  // namespace brackwen
