// The asset pack and the manifest: the input is read as a pack (from an in-memory file, so
// nothing is written to disk), its directory indexed and every entry read back; and the same
// bytes are parsed as a manifest.

#include <vector>

#include "assets/asset_pack.h"
#include "assets/asset_store.h"
#include "fuzz_check.h"
#include "fuzz_memfile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  MemFile file(data, size);
  FUZZ_CHECK(file.Ok());

  std::vector<PackDirectoryEntry> directory;
  const bool directory_ok = ReadPackDirectory(file.Path(), directory);
  for (const PackDirectoryEntry& e : directory) {
    FUZZ_CHECK(!e.name.empty());
    FUZZ_CHECK(e.offset <= size && e.size <= size - e.offset);
  }

  PackIndex index;
  const bool index_ok = index.Load(file.Path());
  FUZZ_CHECK(index_ok == directory_ok);
  FUZZ_CHECK(index.Size() <= directory.size());
  std::string previous;
  bool first = true;
  std::vector<std::uint8_t> bytes;
  index.ForEach([&](std::string_view name, const PackEntry& entry) {
    FUZZ_CHECK(!name.empty());
    FUZZ_CHECK(first || std::string(name) > previous);  // sorted, one record per name
    first = false;
    previous = std::string(name);
    PackEntry found;
    FUZZ_CHECK(index.Find(name, found) && found.offset == entry.offset && found.size == entry.size);
    FUZZ_CHECK(ReadPackEntry(entry, bytes));
    FUZZ_CHECK(bytes.size() == entry.size);
    FUZZ_CHECK(std::equal(bytes.begin(), bytes.end(), data + entry.offset));
  });

  std::map<std::string, std::string> manifest;
  ParseManifest(InputText(data, size), manifest);
  for (const auto& [name, target] : manifest) {
    FUZZ_CHECK(!name.empty() && !target.empty());
    FUZZ_CHECK(name == NormalizeAssetName(name));
  }
  return 0;
}
