// The command line: the input split at line feeds into the words argv[1] ... argv[n] (argv[0] is
// the program's name), parsed over the built-in defaults.

#include <vector>

#include "config/command_line.h"
#include "fuzz_config_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input = InputText(data, size);
  std::vector<std::string> words = {"kestrel_prod"};
  std::size_t start = 0;
  while (start < input.size()) {
    std::size_t end = input.find('\n', start);
    if (end == std::string::npos) end = input.size();
    words.push_back(input.substr(start, end - start));
    start = end + 1;
  }
  // argv as the C runtime hands it over: NUL-terminated words and a null pointer at the end. A
  // word holding a NUL byte ends there, as it would in a real argument.
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);

  AppOptions options;
  SceneDebugTable debug;
  SceneCameraTable camera;
  const CommandLineAction action =
      ParseCommandLine(static_cast<int>(words.size()), argv.data(), options, debug, camera);
  FUZZ_CHECK(action == CommandLineAction::Run || action == CommandLineAction::ShowHelp);
  CheckOptions(options);
  CheckSceneTables(debug, camera);
  return 0;
}
