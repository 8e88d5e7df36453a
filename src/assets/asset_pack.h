#pragma once

// The packed asset archive: one file holding many data files, each found by its normalised relative
// name (data/kestrel/kestrel_sequence.txt, data/modules/KOBALT.XM, ...).
//
// Layout, all integers little-endian, no padding:
//   0   8  magic "ZWPAK001"
//   8   4  uint32 entry count
//   12  .. entries back to back: uint32 name length L (>= 1), uint64 data offset (from the start of
//          the file), uint64 data size, L name bytes. Data blocks are stored raw, anywhere in the file.
//
// The show (AssetStore) and the kestrel_pack tool both read and write packs only through this file.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

inline constexpr char kPackMagic[8] = {'Z', 'W', 'P', 'A', 'K', '0', '0', '1'};
inline constexpr std::uint64_t kPackHeaderBytes = 12;     // magic + entry count
inline constexpr std::uint64_t kPackEntryFixedBytes = 20;  // name length + offset + size

// Largest single file or pack entry the show reads into memory. Data files are a few megabytes at
// most; a bigger size comes from a damaged or hostile file and is refused rather than allocated.
inline constexpr std::uint64_t kMaxAssetBytes = std::uint64_t{1} << 30;

// Where one entry's bytes live.
struct PackEntry {
    std::string pack_path;  // the located pack file
    std::uint64_t offset = 0;
    std::uint64_t size = 0;
};

// One directory record as stored in the file (name not yet normalised).
struct PackDirectoryEntry {
    std::string name;
    std::uint64_t offset = 0;
    std::uint64_t size = 0;
};

// One file to be packed.
struct PackSource {
    std::string name;  // entry name; normalised when written
    std::vector<std::uint8_t> bytes;
};

// Backslashes become forward slashes, then a leading "./" is removed repeatedly.
std::string NormalizeAssetName(std::string name);

// Reads the directory of the pack at `path` (the data blocks are not read). Every entry is checked
// against the file size; reading stops at the first damaged entry and returns false, keeping the
// entries read before it in `out`. A file shorter than 12 bytes or with another magic gives false
// and no entries. A count of 0 is a valid, empty pack.
bool ReadPackDirectory(const std::string& path, std::vector<PackDirectoryEntry>& out);

// The directory of one pack by normalised name, kept compact for packs of very many entries: the
// names in one block and one 24-byte record per entry, sorted by name, the pack's path once.
class PackIndex {
 public:
    // Reads the directory of the pack at `path`, replacing what the index held. A later entry of
    // the same name replaces an earlier one; empty names are left out. Returns what
    // ReadPackDirectory would return; the entries read before a damaged one are kept either way.
    bool Load(const std::string& path);
    // The entry of that normalised name.
    bool Find(std::string_view name, PackEntry& entry) const;
    std::size_t Size() const { return records_.size(); }
    bool Empty() const { return records_.empty(); }
    // Every entry in name order.
    void ForEach(const std::function<void(std::string_view name, const PackEntry& entry)>& visit) const;

 private:
    struct Record {
        std::uint64_t offset;
        std::uint64_t size;
        std::uint32_t name_at;  // into names_
        std::uint32_t name_length;
    };
    std::string_view NameOf(const Record& r) const { return std::string_view(names_).substr(r.name_at, r.name_length); }

    std::string path_;
    std::string names_;
    std::vector<Record> records_;
};

// index.Load(path).
bool IndexPack(const std::string& path, PackIndex& index);

// Reads one entry's bytes. A zero-size entry gives true and no bytes; any read failure clears `out`.
bool ReadPackEntry(const PackEntry& entry, std::vector<std::uint8_t>& out);

// The whole pack as bytes: header, directory, then the data blocks in entry order. Names are
// normalised; an empty name (after normalising) is an error reported through `error`.
bool EncodePack(const std::vector<PackSource>& sources, std::vector<std::uint8_t>& out, std::string* error);

// EncodePack written to `path` through a temporary file that replaces `path` only when complete.
bool WritePack(const std::string& path, const std::vector<PackSource>& sources, std::string* error);
