// The fuzz targets of targets.cpp, each a function of the raw input that aborts on a broken
// property, by the name of its corpus folder; driver.cpp runs them.
#pragma once
#include <span>
#include <string_view>

namespace brackwen {

struct FuzzTarget {
  std::string_view name;
  void (*run)(std::string_view input);
};

std::span<const FuzzTarget> fuzz_targets();

}  // namespace brackwen
