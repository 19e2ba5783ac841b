// The in-memory registry tree shared by the registry API (registry.cpp) and the .reg file
// reader and writer (regfile.cpp), with the limits both enforce.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "sim_allocator.h"
#include "windef.h"
#include "winreg.h"

using RegString = std::basic_string<char16_t, std::char_traits<char16_t>, SimAllocator<char16_t>>;
using RegBytes = std::vector<BYTE, SimAllocator<BYTE>>;

// Longest key name (one path component) and value name, in UTF-16 units, as on the platform.
constexpr size_t kRegMaxKeyName = 255;
constexpr size_t kRegMaxValueName = 16383;
// Deepest key below a root. The platform allows 512 levels; the bound also keeps the recursive
// writer and the tree's destructor on a small stack.
constexpr size_t kRegMaxDepth = 512;

struct RegValue {
  RegString name;
  DWORD type = REG_NONE;
  RegBytes data;
};

struct RegKey;
using RegKeyPtr = std::unique_ptr<RegKey>;
// Subkeys by case-folded name, so enumeration is in case-insensitive name order.
using RegKeyMap = std::map<RegString, RegKeyPtr, std::less<>,
                           SimAllocator<std::pair<const RegString, RegKeyPtr>>>;

struct RegKey {
  RegString name;  // as created: case preserved
  RegKeyMap subkeys;
  std::vector<RegValue, SimAllocator<RegValue>> values;  // in creation order
};

// The roots kept in the file, in the order the file lists them.
enum RegRoot { kRegClassesRoot, kRegCurrentUser, kRegLocalMachine, kRegUsers, kRegCurrentConfig };
constexpr int kRegRootCount = 5;

struct RegTree {
  RegKey roots[kRegRootCount];
};

// A key allocated through the fault simulator; throws std::bad_alloc.
RegKeyPtr reg_new_key();

// Upper-cases ASCII letters: registry names compare case-insensitively.
RegString reg_fold(std::u16string_view name);
bool reg_names_equal(std::u16string_view a, std::u16string_view b);

// The full name of a root ("HKEY_CLASSES_ROOT"), and the root of a full name (-1 if none).
const char16_t* reg_root_name(int root);
int reg_root_from_name(std::u16string_view name);

// Finds a direct subkey by name (any case); null when missing.
RegKey* reg_find_subkey(const RegKey& key, std::u16string_view name);

// A number that changes whenever the registry's tree does (in this process or, seen within the
// registry's recheck interval, in another); 0 when the registry cannot be read. Caches of what
// the registry says keep it and look again when it differs.
uint64_t reg_generation();

// Why a .reg file was refused: the 1-based line and what was wrong with it.
struct RegFileError {
  size_t line = 0;
  std::string message;
};

// Reads the bytes of a "Windows Registry Editor Version 5.00" file into an empty tree. An empty
// file is an empty registry. Returns false and fills error when the file is malformed; the tree
// is then partly filled and must be dropped. Throws std::bad_alloc.
bool reg_file_parse(const RegBytes& bytes, RegTree& tree, RegFileError& error);

// Writes the tree as a "Windows Registry Editor Version 5.00" file: UTF-16LE with a byte order
// mark, CRLF line ends. Throws std::bad_alloc.
void reg_file_format(const RegTree& tree, RegBytes& out);
