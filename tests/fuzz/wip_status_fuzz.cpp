// Fuzzes the working-copy status grammar: entries written back in porcelain "-z" form read the
// same again, conflicts alone are listed when present, and otherwise names come sorted.
#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_check.hpp"
#include "git/queries/wip/wip_status.hpp"
#include "parser/lower_case.hpp"

namespace brackwen {
namespace {

char letter_of(WipPatchType type) {
  return "? ACDMRU"[static_cast<int>(type)];
}

std::string written(const std::vector<WipPatch>& patches) {
  std::string out;
  for (const WipPatch& patch : patches) {
    out += letter_of(patch.staged_type);
    out += letter_of(patch.un_staged_type);
    out += ' ';
    out += patch.new_file;
    out += '\0';
    bool two_paths = patch.staged_type == WipPatchType::R || patch.staged_type == WipPatchType::C ||
                     patch.un_staged_type == WipPatchType::R ||
                     patch.un_staged_type == WipPatchType::C;
    if (two_paths) {
      out += patch.old_file;
      out += '\0';
    } else {
      fuzz_require(patch.old_file == patch.new_file, "one path entry with two paths");
    }
  }
  return out;
}

}  // namespace
}  // namespace brackwen

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace brackwen;
  auto patches = wip_patches_from_status(fuzz_text(data, size));
  if (!patches) return 0;
  bool conflicts =
      std::any_of(patches->begin(), patches->end(), [](const WipPatch& p) { return p.conflicted; });
  std::string previous;
  for (const WipPatch& patch : *patches) {
    fuzz_require(patch.id == patch.new_file + letter_of(patch.patch_type), "an odd id");
    fuzz_require(!conflicts || patch.conflicted, "a clean file beside conflicts");
    if (conflicts) continue;
    std::string key = to_lower_unicode(patch.new_file);
    fuzz_require(previous <= key, "names out of order");
    previous = std::move(key);
  }
  if (patches->empty()) return 0;
  // Written in their listed order, the entries read back in that same order.
  auto again = wip_patches_from_status(written(*patches));
  fuzz_require(again == patches, "written entries read differently");
  return 0;
}
