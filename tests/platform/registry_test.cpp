// Tests of the registry API: statuses and buffer protocols of the W and A forms, handles,
// access rights, reloading when another writer replaced the file, and changes from several
// threads and processes at once.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "faultsim.h"
#include "registry_test_support.h"

extern char** environ;

namespace {

// Closes a key at the end of a scope.
class Key {
 public:
  Key() = default;
  ~Key() {
    if (h_)
      RegCloseKey(h_);
  }
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;
  HKEY get() const { return h_; }
  HKEY* receive() { return &h_; }

 private:
  HKEY h_ = nullptr;
};

std::u16string Num(int n) {
  std::string digits = std::to_string(n);
  return std::u16string(digits.begin(), digits.end());
}

LONG Create(HKEY parent, const char16_t* sub, Key& key, DWORD* disposition = nullptr,
            REGSAM sam = KEY_ALL_ACCESS) {
  return RegCreateKeyExW(parent, sub, 0, nullptr, REG_OPTION_NON_VOLATILE, sam, nullptr,
                         key.receive(), disposition);
}

LONG SetString(HKEY key, const char16_t* name, std::u16string_view text) {
  std::u16string data(text);
  return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                        static_cast<DWORD>((data.size() + 1) * sizeof(char16_t)));
}

LONG SetDword(HKEY key, const char16_t* name, DWORD value) {
  return RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                        sizeof value);
}

std::u16string QueryString(HKEY key, const char16_t* name) {
  char16_t buf[512];
  DWORD size = sizeof buf;
  DWORD type = 0;
  LONG status = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buf), &size);
  if (status != ERROR_SUCCESS)
    return u"<status " + Num(status) + u">";
  EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
  return std::u16string(buf, size / 2 - 1);
}

class RegistryTest : public ::testing::Test {
 protected:
  TempRegistry registry_;
};

TEST_F(RegistryTest, CreateOpenSetAndQuery) {
  Key key;
  DWORD disposition = 0;
  ASSERT_EQ(ERROR_SUCCESS, Create(HKEY_CURRENT_USER, u"Software\\Test\\Sub", key, &disposition));
  EXPECT_EQ(static_cast<DWORD>(REG_CREATED_NEW_KEY), disposition);
  Key again;
  ASSERT_EQ(ERROR_SUCCESS,
            Create(HKEY_CURRENT_USER, u"SOFTWARE\\test\\SUB\\", again, &disposition));
  EXPECT_EQ(static_cast<DWORD>(REG_OPENED_EXISTING_KEY), disposition);

  // A new key has no default value.
  DWORD size = 0;
  EXPECT_EQ(ERROR_FILE_NOT_FOUND,
            RegQueryValueExW(key.get(), nullptr, nullptr, nullptr, nullptr, &size));
  ASSERT_EQ(ERROR_SUCCESS, SetString(key.get(), nullptr, u"default text"));
  ASSERT_EQ(ERROR_SUCCESS, SetString(key.get(), u"Name", u"value"));
  ASSERT_EQ(ERROR_SUCCESS, SetDword(key.get(), u"Count", 42));

  Key opened;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CURRENT_USER, u"software\\TEST\\sub", 0, KEY_READ,
                                         opened.receive()));
  EXPECT_EQ(u"default text", QueryString(opened.get(), nullptr));
  EXPECT_EQ(u"default text", QueryString(opened.get(), u""));
  EXPECT_EQ(u"value", QueryString(opened.get(), u"NAME"));

  DWORD type = 0;
  DWORD count = 0;
  size = sizeof count;
  EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExW(opened.get(), u"count", nullptr, &type,
                                            reinterpret_cast<BYTE*>(&count), &size));
  EXPECT_EQ(static_cast<DWORD>(REG_DWORD), type);
  EXPECT_EQ(42u, count);
  EXPECT_EQ(4u, size);

  // Size only; then a buffer one byte short.
  size = 0;
  type = 0;
  EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExW(opened.get(), u"Name", nullptr, &type, nullptr, &size));
  EXPECT_EQ(12u, size);
  BYTE small[11];
  size = sizeof small;
  type = 0;
  EXPECT_EQ(ERROR_MORE_DATA, RegQueryValueExW(opened.get(), u"Name", nullptr, &type, small, &size));
  EXPECT_EQ(12u, size);
  EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
  EXPECT_EQ(ERROR_FILE_NOT_FOUND,
            RegQueryValueExW(opened.get(), u"Missing", nullptr, nullptr, nullptr, &size));

  // Replacing keeps one value of that name.
  ASSERT_EQ(ERROR_SUCCESS, SetString(key.get(), u"NAME", u"other"));
  EXPECT_EQ(u"other", QueryString(opened.get(), u"Name"));

  // A key opened without a subkey path is a second handle to the same key.
  Key self;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(opened.get(), nullptr, 0, KEY_READ, self.receive()));
  EXPECT_EQ(u"other", QueryString(self.get(), u"name"));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND,
            RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\Nope", 0, KEY_READ, opened.receive()));
  EXPECT_EQ(nullptr, opened.get());
}

TEST_F(RegistryTest, BadArgumentsAndHandles) {
  Key key;
  EXPECT_EQ(ERROR_INVALID_PARAMETER, RegCreateKeyExW(HKEY_CURRENT_USER, u"a", 0, nullptr, 0,
                                                     KEY_ALL_ACCESS, nullptr, nullptr, nullptr));
  EXPECT_EQ(ERROR_INVALID_PARAMETER, RegOpenKeyExW(HKEY_CURRENT_USER, u"a", 0, KEY_READ, nullptr));
  EXPECT_EQ(ERROR_BAD_PATHNAME, Create(HKEY_CURRENT_USER, u"\\a", key));
  EXPECT_EQ(ERROR_BAD_PATHNAME, Create(HKEY_CURRENT_USER, u"a\\\\b", key));
  EXPECT_EQ(ERROR_INVALID_PARAMETER, Create(HKEY_CURRENT_USER, u"a\nb", key));
  std::u16string longest(255, u'k');
  EXPECT_EQ(ERROR_SUCCESS, Create(HKEY_CURRENT_USER, longest.c_str(), key));
  RegCloseKey(*key.receive());
  *key.receive() = nullptr;
  EXPECT_EQ(ERROR_INVALID_PARAMETER, Create(HKEY_CURRENT_USER, (longest + u"k").c_str(), key));
  EXPECT_EQ(nullptr, key.get());

  EXPECT_EQ(ERROR_INVALID_HANDLE, Create(nullptr, u"a", key));
  EXPECT_EQ(ERROR_INVALID_HANDLE, Create(HKEY_PERFORMANCE_DATA, u"a", key));
  EXPECT_EQ(ERROR_INVALID_HANDLE, RegCloseKey(nullptr));
  EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(HKEY_LOCAL_MACHINE));

  ASSERT_EQ(ERROR_SUCCESS, Create(HKEY_CURRENT_USER, u"a", key));
  DWORD size = 4;
  DWORD reserved = 0;
  BYTE buf[4];
  EXPECT_EQ(ERROR_INVALID_PARAMETER,
            RegQueryValueExW(key.get(), nullptr, &reserved, nullptr, nullptr, &size));
  EXPECT_EQ(ERROR_INVALID_PARAMETER,
            RegQueryValueExW(key.get(), nullptr, nullptr, nullptr, buf, nullptr));
  EXPECT_EQ(ERROR_NOACCESS, RegSetValueExW(key.get(), u"v", 0, REG_BINARY, nullptr, 4));
  EXPECT_EQ(ERROR_SUCCESS, RegSetValueExW(key.get(), u"empty", 0, REG_BINARY, nullptr, 0));
  EXPECT_EQ(ERROR_INVALID_PARAMETER,
            RegSetValueExW(key.get(), std::u16string(16384, u'v').c_str(), 0, REG_BINARY, buf, 1));
  EXPECT_EQ(ERROR_INVALID_PARAMETER, RegDeleteKeyW(key.get(), nullptr));
  char16_t name[8];
  DWORD count = 8;
  EXPECT_EQ(ERROR_INVALID_PARAMETER,
            RegEnumKeyExW(key.get(), 0, nullptr, &count, nullptr, nullptr, nullptr, nullptr));
  EXPECT_EQ(ERROR_INVALID_PARAMETER,
            RegEnumValueW(key.get(), 0, name, &count, &reserved, nullptr, nullptr, nullptr));

  HKEY raw = key.get();
  *key.receive() = nullptr;
  EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(raw));
  EXPECT_EQ(ERROR_INVALID_HANDLE, RegCloseKey(raw));
  EXPECT_EQ(ERROR_INVALID_HANDLE, SetDword(raw, u"v", 1));
}

TEST_F(RegistryTest, EnumerationOrderAndBuffers) {
  Key key;
  ASSERT_EQ(ERROR_SUCCESS, Create(HKEY_LOCAL_MACHINE, u"Enum", key));
  for (const char16_t* name : {u"beta", u"Alpha", u"gamma", u"BETA2"}) {
    Key child;
    ASSERT_EQ(ERROR_SUCCESS, Create(key.get(), name, child));
  }
  std::vector<std::u16string> names;
  char16_t name[32];
  DWORD count = 32;
  DWORD index = 0;
  LONG status;
  while ((status = RegEnumKeyExW(key.get(), index++, name, &count, nullptr, nullptr, nullptr,
                                 nullptr)) == ERROR_SUCCESS) {
    EXPECT_EQ(std::u16string(name).size(), count);
    names.emplace_back(name);
    count = 32;
  }
  EXPECT_EQ(ERROR_NO_MORE_ITEMS, status);
  // Case-insensitive name order, names as created.
  EXPECT_EQ((std::vector<std::u16string>{u"Alpha", u"beta", u"BETA2", u"gamma"}), names);

  // "Alpha" needs 6 characters with its terminator.
  count = 5;
  EXPECT_EQ(ERROR_MORE_DATA,
            RegEnumKeyExW(key.get(), 0, name, &count, nullptr, nullptr, nullptr, nullptr));
  EXPECT_EQ(5u, count);
  count = 6;
  char16_t klass[4] = u"xyz";
  DWORD class_count = 4;
  DWORD written_time[2] = {7, 7};
  EXPECT_EQ(ERROR_SUCCESS, RegEnumKeyExW(key.get(), 0, name, &count, nullptr, klass, &class_count,
                                         reinterpret_cast<PFILETIME>(written_time)));
  EXPECT_EQ(u"Alpha", std::u16string(name));
  EXPECT_EQ(0u, class_count);
  EXPECT_EQ(u'\0', klass[0]);
  EXPECT_EQ(0u, written_time[0] | written_time[1]);

  // Values come in creation order, the default value with an empty name.
  ASSERT_EQ(ERROR_SUCCESS, SetDword(key.get(), u"z", 1));
  ASSERT_EQ(ERROR_SUCCESS, SetString(key.get(), nullptr, u"dflt"));
  ASSERT_EQ(ERROR_SUCCESS, SetString(key.get(), u"a", u"text"));
  count = 32;
  DWORD type = 0;
  BYTE data[16];
  DWORD size = sizeof data;
  ASSERT_EQ(ERROR_SUCCESS, RegEnumValueW(key.get(), 1, name, &count, nullptr, &type, data, &size));
  EXPECT_EQ(0u, count);
  EXPECT_EQ(10u, size);
  count = 32;
  size = 3;
  EXPECT_EQ(ERROR_MORE_DATA,
            RegEnumValueW(key.get(), 2, name, &count, nullptr, &type, data, &size));
  EXPECT_EQ(10u, size);
  count = 1;
  size = sizeof data;
  EXPECT_EQ(ERROR_MORE_DATA,
            RegEnumValueW(key.get(), 2, name, &count, nullptr, nullptr, data, &size));
  count = 32;
  EXPECT_EQ(ERROR_NO_MORE_ITEMS,
            RegEnumValueW(key.get(), 3, name, &count, nullptr, nullptr, nullptr, nullptr));
}

TEST_F(RegistryTest, DeletingKeysAndValues) {
  Key parent;
  Key child;
  ASSERT_EQ(ERROR_SUCCESS, Create(HKEY_CURRENT_USER, u"Del", parent));
  ASSERT_EQ(ERROR_SUCCESS, Create(parent.get(), u"Child\\Grandchild", child));
  ASSERT_EQ(ERROR_SUCCESS, SetString(parent.get(), nullptr, u"x"));

  // Not recursive: a key with subkeys stays.
  EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteKeyW(HKEY_CURRENT_USER, u"Del"));
  EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteKeyW(parent.get(), u"child"));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteKeyW(parent.get(), u"Nope"));
  EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteKeyW(HKEY_CURRENT_USER, u""));
  EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyW(parent.get(), u"CHILD\\grandchild"));
  // A handle on a deleted key fails from then on.
  EXPECT_EQ(ERROR_KEY_DELETED, SetDword(child.get(), u"v", 1));
  EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyW(parent.get(), u"Child"));

  // "" deletes the handle's own key, values and all.
  Key victim;
  ASSERT_EQ(ERROR_SUCCESS, Create(parent.get(), u"Victim", victim));
  ASSERT_EQ(ERROR_SUCCESS, SetDword(victim.get(), u"v", 1));
  EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyW(victim.get(), u""));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND,
            RegOpenKeyExW(parent.get(), u"Victim", 0, KEY_READ, victim.receive()));

  EXPECT_EQ(ERROR_SUCCESS, RegDeleteValueW(parent.get(), nullptr));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteValueW(parent.get(), u""));
  EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyW(HKEY_CURRENT_USER, u"Del"));

  // RegDeleteTree takes the whole subtree; with no subkey it empties the key and keeps it.
  Key tree;
  Key deep;
  ASSERT_EQ(ERROR_SUCCESS, Create(HKEY_CURRENT_USER, u"Tree", tree));
  ASSERT_EQ(ERROR_SUCCESS, Create(tree.get(), u"a\\b\\c", deep));
  ASSERT_EQ(ERROR_SUCCESS, SetDword(tree.get(), u"v", 1));
  EXPECT_EQ(ERROR_SUCCESS, RegDeleteTreeW(tree.get(), nullptr));
  EXPECT_EQ("HKCU\\Tree\n", ListRegistry(HKEY_CURRENT_USER, "HKCU"));
  ASSERT_EQ(ERROR_SUCCESS, Create(tree.get(), u"a\\b", deep));
  EXPECT_EQ(ERROR_SUCCESS, RegDeleteTreeW(HKEY_CURRENT_USER, u"tree"));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteTreeW(HKEY_CURRENT_USER, u"tree"));
  EXPECT_EQ("", ListRegistry(HKEY_CURRENT_USER, "HKCU"));
}

TEST_F(RegistryTest, AccessRightsOfHandles) {
  Key writable;
  ASSERT_EQ(ERROR_SUCCESS, Create(HKEY_CURRENT_USER, u"Rights\\Existing", writable));
  Key reader;
  ASSERT_EQ(ERROR_SUCCESS,
            RegOpenKeyExW(HKEY_CURRENT_USER, u"Rights", 0, KEY_READ, reader.receive()));
  EXPECT_EQ(ERROR_ACCESS_DENIED, SetDword(reader.get(), u"v", 1));
  EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteValueW(reader.get(), u"v"));
  Key sub;
  EXPECT_EQ(ERROR_ACCESS_DENIED, Create(reader.get(), u"New", sub));
  // Opening an existing key through RegCreateKeyEx needs no right to create.
  EXPECT_EQ(ERROR_SUCCESS, Create(reader.get(), u"Existing", sub));

  Key setter;
  ASSERT_EQ(ERROR_SUCCESS,
            RegOpenKeyExW(HKEY_CURRENT_USER, u"Rights", 0, KEY_SET_VALUE, setter.receive()));
  EXPECT_EQ(ERROR_SUCCESS, SetDword(setter.get(), u"v", 1));
  DWORD size = 0;
  EXPECT_EQ(ERROR_ACCESS_DENIED,
            RegQueryValueExW(setter.get(), u"v", nullptr, nullptr, nullptr, &size));
  char16_t name[8];
  DWORD count = 8;
  EXPECT_EQ(ERROR_ACCESS_DENIED,
            RegEnumKeyExW(setter.get(), 0, name, &count, nullptr, nullptr, nullptr, nullptr));
  Key generic;
  ASSERT_EQ(ERROR_SUCCESS,
            RegOpenKeyExW(HKEY_CURRENT_USER, u"Rights", 0, GENERIC_READ, generic.receive()));
  EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExW(generic.get(), u"v", nullptr, nullptr, nullptr, &size));
}

class AcpGuard {
 public:
  explicit AcpGuard(UINT cp) : saved_(GetACP()) { EXPECT_TRUE(PlatformSetACP(cp)); }
  ~AcpGuard() { PlatformSetACP(saved_); }

 private:
  UINT saved_;
};

TEST_F(RegistryTest, AnsiFormsConvertNamesAndStrings) {
  AcpGuard acp(949);
  const char korean[] = "\xC7\xD1\xB1\xB9\xBE\xEE";  // 한국어 in code page 949
  HKEY key = nullptr;
  DWORD disposition = 0;
  ASSERT_EQ(ERROR_SUCCESS,
            RegCreateKeyExA(HKEY_CURRENT_USER, (std::string("Ansi\\") + korean).c_str(), 0, nullptr,
                            0, KEY_ALL_ACCESS, nullptr, &key, &disposition));
  EXPECT_EQ(static_cast<DWORD>(REG_CREATED_NEW_KEY), disposition);
  ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, korean, 0, REG_SZ,
                                          reinterpret_cast<const BYTE*>(korean), sizeof korean));
  const char multi[] = "a\0\xC7\xD1\0";
  ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, "multi", 0, REG_MULTI_SZ,
                                          reinterpret_cast<const BYTE*>(multi), sizeof multi));
  DWORD raw = 0x01020304;
  ASSERT_EQ(ERROR_SUCCESS,
            RegSetValueExA(key, "raw", 0, REG_BINARY, reinterpret_cast<BYTE*>(&raw), 4));

  // The W side sees UTF-16.
  Key wide;
  ASSERT_EQ(ERROR_SUCCESS,
            RegOpenKeyExW(HKEY_CURRENT_USER, u"ansi\\한국어", 0, KEY_READ, wide.receive()));
  EXPECT_EQ(u"한국어", QueryString(wide.get(), u"한국어"));
  char16_t units[8];
  DWORD size = sizeof units;
  ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExW(wide.get(), u"multi", nullptr, nullptr,
                                            reinterpret_cast<BYTE*>(units), &size));
  EXPECT_EQ(std::u16string(u"a\0한\0", 5), std::u16string(units, size / 2));

  // The A side gives code-page bytes and byte counts.
  char buf[16];
  size = 0;
  DWORD type = 0;
  EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, korean, nullptr, &type, nullptr, &size));
  EXPECT_EQ(sizeof korean, size);
  size = 3;
  EXPECT_EQ(ERROR_MORE_DATA,
            RegQueryValueExA(key, korean, nullptr, &type, reinterpret_cast<BYTE*>(buf), &size));
  EXPECT_EQ(sizeof korean, size);
  size = sizeof buf;
  EXPECT_EQ(ERROR_SUCCESS,
            RegQueryValueExA(key, korean, nullptr, &type, reinterpret_cast<BYTE*>(buf), &size));
  EXPECT_EQ(std::string(korean), std::string(buf));
  size = sizeof buf;
  EXPECT_EQ(ERROR_SUCCESS,
            RegQueryValueExA(key, "RAW", nullptr, &type, reinterpret_cast<BYTE*>(buf), &size));
  EXPECT_EQ(4u, size);
  EXPECT_EQ(0, std::memcmp(buf, &raw, 4));

  HKEY parent = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, "ANSI", 0, KEY_READ, &parent));
  DWORD count = 6;  // six bytes and no room for the terminator
  EXPECT_EQ(ERROR_MORE_DATA,
            RegEnumKeyExA(parent, 0, buf, &count, nullptr, nullptr, nullptr, nullptr));
  count = 7;
  EXPECT_EQ(ERROR_SUCCESS,
            RegEnumKeyExA(parent, 0, buf, &count, nullptr, nullptr, nullptr, nullptr));
  EXPECT_EQ(6u, count);
  EXPECT_EQ(std::string(korean), std::string(buf));

  count = sizeof buf;
  size = 0;
  EXPECT_EQ(ERROR_SUCCESS, RegEnumValueA(key, 1, buf, &count, nullptr, &type, nullptr, &size));
  EXPECT_EQ("multi", std::string(buf));
  EXPECT_EQ(static_cast<DWORD>(REG_MULTI_SZ), type);
  EXPECT_EQ(sizeof multi, size);

  EXPECT_EQ(ERROR_SUCCESS, RegDeleteValueA(key, korean));
  EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteKeyA(HKEY_CURRENT_USER, "Ansi"));
  EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(key));
  EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(parent));
  EXPECT_EQ(ERROR_SUCCESS, RegDeleteTreeA(HKEY_CURRENT_USER, "ansi"));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteKeyA(HKEY_CURRENT_USER, "Ansi"));
}

TEST_F(RegistryTest, ChangesPersistAndOtherWritersAreSeen) {
  Key key;
  ASSERT_EQ(ERROR_SUCCESS, Create(HKEY_CLASSES_ROOT, u"Persist", key));
  ASSERT_EQ(ERROR_SUCCESS, SetDword(key.get(), u"n", 5));
  registry_.Reload();
  // The open handle refers to the same path in the reloaded tree.
  DWORD n = 0;
  DWORD size = sizeof n;
  EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExW(key.get(), u"n", nullptr, nullptr,
                                            reinterpret_cast<BYTE*>(&n), &size));
  EXPECT_EQ(5u, n);

  registry_.ReplaceFile(
      Utf16le(u"Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CLASSES_ROOT\\Persist]\r\n"
              u"\"n\"=dword:00000007\r\n"));
  size = sizeof n;
  EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExW(key.get(), u"n", nullptr, nullptr,
                                            reinterpret_cast<BYTE*>(&n), &size));
  EXPECT_EQ(7u, n);

  // Setting a value to what it holds does not rewrite the file.
  struct stat before;
  ASSERT_EQ(0, stat(registry_.path().c_str(), &before));
  ASSERT_EQ(ERROR_SUCCESS, SetDword(key.get(), u"n", 7));
  struct stat after;
  ASSERT_EQ(0, stat(registry_.path().c_str(), &after));
  EXPECT_EQ(before.st_ino, after.st_ino);
}

TEST_F(RegistryTest, UnchangedFileIsNotReadAgain) {
  Key key;
  ASSERT_EQ(ERROR_SUCCESS, Create(HKEY_CURRENT_USER, u"Cached", key));
  ASSERT_EQ(ERROR_SUCCESS, SetDword(key.get(), u"n", 1));
  // Scribble over the file in place, keeping its size and modification time: a registry that
  // read the file again would now see garbage.
  struct stat st;
  ASSERT_EQ(0, stat(registry_.path().c_str(), &st));
  {
    std::fstream f(registry_.path(), std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(2);
    f << std::string(static_cast<size_t>(st.st_size) - 2, 'x');
  }
  struct timespec times[2] = {st.st_atim, st.st_mtim};
  ASSERT_EQ(0, utimensat(AT_FDCWD, registry_.path().c_str(), times, 0));
  DWORD n = 0;
  DWORD size = sizeof n;
  EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExW(key.get(), u"n", nullptr, nullptr,
                                            reinterpret_cast<BYTE*>(&n), &size));
  EXPECT_EQ(1u, n);
}

TEST_F(RegistryTest, ThreadsLoseNoKey) {
  constexpr int kThreads = 4;
  constexpr int kKeys = 40;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < kKeys; ++i) {
        std::u16string name = u"Threads\\t" + Num(t) + u"\\k" + Num(i);
        Key key;
        EXPECT_EQ(ERROR_SUCCESS, Create(HKEY_CURRENT_USER, name.c_str(), key));
        EXPECT_EQ(ERROR_SUCCESS, SetDword(key.get(), u"i", static_cast<DWORD>(i)));
      }
    });
  }
  for (std::thread& t : threads)
    t.join();
  registry_.Reload();
  for (int t = 0; t < kThreads; ++t) {
    Key key;
    std::u16string name = u"Threads\\t" + Num(t);
    ASSERT_EQ(ERROR_SUCCESS,
              RegOpenKeyExW(HKEY_CURRENT_USER, name.c_str(), 0, KEY_READ, key.receive()));
    char16_t sub[8];
    DWORD count = 8;
    EXPECT_EQ(ERROR_SUCCESS,
              RegEnumKeyExW(key.get(), kKeys - 1, sub, &count, nullptr, nullptr, nullptr, nullptr));
    count = 8;
    EXPECT_EQ(ERROR_NO_MORE_ITEMS,
              RegEnumKeyExW(key.get(), kKeys, sub, &count, nullptr, nullptr, nullptr, nullptr));
  }
}

constexpr int kChildKeys = 60;

// The child side of ProcessesLoseNoKey: runs only when started by it.
TEST(RegistryChild, WritesItsKeys) {
  const char* role = getenv("REGISTRY_TEST_CHILD");
  if (!role)
    GTEST_SKIP() << "started by RegistryTest.ProcessesLoseNoKey";
  std::u16string base = u"Processes\\child" + std::u16string(1, static_cast<char16_t>(role[0]));
  for (int i = 0; i < kChildKeys; ++i) {
    std::u16string name = base + u"\\k" + (i < 10 ? u"0" : u"") + Num(i);
    Key key;
    ASSERT_EQ(ERROR_SUCCESS, Create(HKEY_CURRENT_USER, name.c_str(), key));
    ASSERT_EQ(ERROR_SUCCESS, SetDword(key.get(), nullptr, static_cast<DWORD>(i)));
  }
}

TEST_F(RegistryTest, ProcessesLoseNoKey) {
  std::vector<pid_t> children;
  for (char role : {'a', 'b', 'c'}) {
    std::string role_env = std::string("REGISTRY_TEST_CHILD=") + role;
    std::string path_env = "PLATFORM_REGISTRY=" + registry_.path();
    std::vector<char*> env;
    for (char** e = environ; *e; ++e)
      if (std::strncmp(*e, "PLATFORM_REGISTRY=", 18) && std::strncmp(*e, "REGISTRY_TEST_", 14))
        env.push_back(*e);
    env.push_back(role_env.data());
    env.push_back(path_env.data());
    env.push_back(nullptr);
    std::string filter = "--gtest_filter=RegistryChild.WritesItsKeys";
    char exe[] = "/proc/self/exe";
    char* argv[] = {exe, filter.data(), nullptr};
    pid_t pid = 0;
    ASSERT_EQ(0, posix_spawn(&pid, exe, nullptr, nullptr, argv, env.data()));
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(pid, waitpid(pid, &status, 0));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  std::string listing = ListRegistry(HKEY_CURRENT_USER, "HKCU");
  for (char role : {'a', 'b', 'c'}) {
    for (int i = 0; i < kChildKeys; ++i) {
      char line[64];
      std::snprintf(line, sizeof line, "HKCU\\Processes\\child%c\\k%02d\\@ = 4: %02x000000\n", role,
                    i, i);
      EXPECT_NE(std::string::npos, listing.find(line)) << line;
    }
  }
}

// Every allocation of a change can fail: the call then reports ERROR_OUTOFMEMORY and the
// registry, in memory and on disk, holds the change completely or not at all.
TEST_F(RegistryTest, OutOfMemoryLeavesNoHalfChange) {
  Key base;
  ASSERT_EQ(ERROR_SUCCESS, Create(HKEY_CURRENT_USER, u"Oom", base));
  for (BOOL persistent : {FALSE, TRUE}) {
    for (int n = 1;; ++n) {
      ASSERT_EQ(ERROR_SUCCESS, RegDeleteTreeW(base.get(), nullptr));
      Key key;
      FaultSimConfig(n, persistent);
      LONG created = Create(base.get(), u"a\\b\\c", key);
      LONG set = created == ERROR_SUCCESS ? SetString(key.get(), u"v", u"some text") : created;
      int faults = FaultSimFaults();
      FaultSimConfig(0, FALSE);
      EXPECT_TRUE(created == ERROR_SUCCESS || created == ERROR_OUTOFMEMORY) << created;
      EXPECT_TRUE(set == ERROR_SUCCESS || set == ERROR_OUTOFMEMORY) << set;
      std::string memory = ListRegistry(HKEY_CURRENT_USER, "HKCU");
      registry_.Reload();
      EXPECT_EQ(memory, ListRegistry(HKEY_CURRENT_USER, "HKCU")) << "n=" << n;
      if (created == ERROR_SUCCESS && set == ERROR_SUCCESS) {
        EXPECT_EQ(u"some text", QueryString(key.get(), u"v"));
      } else if (created != ERROR_SUCCESS) {
        EXPECT_EQ("HKCU\\Oom\n", memory) << "n=" << n;
      } else {
        EXPECT_EQ("HKCU\\Oom\nHKCU\\Oom\\a\nHKCU\\Oom\\a\\b\nHKCU\\Oom\\a\\b\\c\n", memory);
      }
      if (faults == 0)
        break;
    }
  }
}

}  // namespace
