// The ask-pass program git runs (GIT_ASKPASS) when it needs a login: it answers the user-name
// prompt with BRACKWEN_USERNAME and every other prompt with BRACKWEN_PASSWORD.
#include <cstdio>
#include <cstdlib>
#include <string_view>

int main(int argc, char** argv) {
  std::string_view prompt = argc > 1 ? argv[1] : "";
  // git asks "Username for '<url>': " and "Password for '<url>': ".
  const char* name = prompt.starts_with("Username") ? "BRACKWEN_USERNAME" : "BRACKWEN_PASSWORD";
  const char* value = std::getenv(name);
  if (value == nullptr) return EXIT_FAILURE;
  std::printf("%s\n", value);
  return std::fflush(stdout) == 0 ? EXIT_SUCCESS : EXIT_FAILURE;
}
