// Fuzzes the name-status grammar: the entries of a "-z" list written back in git's form read
// the same again, and whole commit records keep their commit ids.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_check.hpp"
#include "git/queries/patches/patch_parsers.hpp"

namespace brackwen {
namespace {

// The letter and score git printed, recovered from the id ("<new path>-<letter><score>").
std::string status_of(const NameStatusEntry& entry) {
  fuzz_require(entry.id.starts_with(entry.new_file + "-"), "an id not made from the new path");
  std::string status = entry.id.substr(entry.new_file.size() + 1);
  fuzz_require(!status.empty(), "an id without a status letter");
  return status;
}

std::string written(const std::vector<NameStatusEntry>& entries) {
  std::string out;
  for (const NameStatusEntry& entry : entries) {
    std::string status = status_of(entry);
    out += status;
    out += '\0';
    // A score marks the two-path form; "C" alone is a one-path letter.
    if (status.size() > 1) {
      out += entry.old_file;
      out += '\0';
    } else {
      fuzz_require(entry.old_file == entry.new_file, "one path entry with two paths");
    }
    out += entry.new_file;
    out += '\0';
  }
  return out;
}

}  // namespace
}  // namespace brackwen

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace brackwen;
  std::string_view text = fuzz_text(data, size);
  if (auto entries = parse_all(text, parse_name_status)) {
    for (const NameStatusEntry& entry : *entries) {
      fuzz_require(entry.new_file.find('\0') == std::string::npos, "a path holds a NUL");
    }
    auto again = parse_all(written(*entries), parse_name_status);
    fuzz_require(again == entries, "written entries read differently");
  }
  if (auto records = patch_list(text)) {
    for (const CommitPatches& record : *records) {
      fuzz_require(record.first.find(',') == std::string::npos, "a commit id holds a comma");
      for (const Patch& patch : record.second) {
        fuzz_require(patch.commit_id == record.first, "a patch of another commit");
        fuzz_require(patch.is_image == is_image(patch.new_file), "image flag of another name");
      }
    }
  }
  return 0;
}
