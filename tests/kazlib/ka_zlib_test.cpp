// Tests of CKaZlib: round trips in memory and through gzip files, interchange with zlib and the
// system's gzip and gunzip, damaged input, write failures, allocation failures and threads.
#include "KaZlib.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <zlib.h>

#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include "faultsim.h"
#include "kazlib_test_support.h"

namespace {

using kazlib_test::file_exists;
using kazlib_test::random_bytes;
using kazlib_test::read_posix_file;
using kazlib_test::repetitive_bytes;
using kazlib_test::run_command;
using kazlib_test::ScratchDir;
using kazlib_test::write_posix_file;

char* bytes_of(std::string& s) {
  return s.data();
}

// The result matches expected byte for byte; on a mismatch says where, not the whole content.
::testing::AssertionResult HoldsBytes(const CKaZlib& z, const std::string& expected) {
  if (z.m_dwResultSize != expected.size())
    return ::testing::AssertionFailure()
           << "result size " << z.m_dwResultSize << ", expected " << expected.size();
  if (!z.m_pResultData)
    return ::testing::AssertionFailure() << "null result data";
  for (size_t i = 0; i < expected.size(); ++i)
    if (z.m_pResultData[i] != expected[i])
      return ::testing::AssertionFailure() << "first difference at byte " << i;
  return ::testing::AssertionSuccess();
}

::testing::AssertionResult SameBytes(const std::string& actual, const std::string& expected) {
  if (actual.size() != expected.size())
    return ::testing::AssertionFailure()
           << "size " << actual.size() << ", expected " << expected.size();
  if (actual != expected)
    return ::testing::AssertionFailure() << "same size, different bytes";
  return ::testing::AssertionSuccess();
}

::testing::AssertionResult IsEmpty(const CKaZlib& z) {
  if (z.m_pResultData || z.m_dwResultSize)
    return ::testing::AssertionFailure() << "result left with " << z.m_dwResultSize << " bytes";
  return ::testing::AssertionSuccess();
}

struct SizeCase {
  const char* name;
  std::string bytes;
};

// Empty, one byte, incompressible 8 MiB and highly compressible 64 MiB.
const std::vector<SizeCase>& size_cases() {
  static const std::vector<SizeCase> cases = {
      {"empty", ""},
      {"one byte", "\xFF"},
      {"random 8 MiB", random_bytes(size_t{8} << 20)},
      {"repetitive 64 MiB", repetitive_bytes(size_t{64} << 20)},
  };
  return cases;
}

std::string compressed_by_zlib(const std::string& in, int level) {
  std::string out(compressBound(in.size()), '\0');
  uLongf n = out.size();
  EXPECT_EQ(Z_OK, compress2(reinterpret_cast<Bytef*>(out.data()), &n,
                            reinterpret_cast<const Bytef*>(in.data()), in.size(), level));
  out.resize(n);
  return out;
}

std::string compressed_by_kazlib(std::string in) {
  CKaZlib z;
  EXPECT_NE(0, z.Compress(bytes_of(in), in.size()));
  return std::string(z.m_pResultData, z.m_dwResultSize);
}

// A gzip member of data made by the system's gzip without a name (header of 10 bytes).
std::string gzip_member(const ScratchDir& dir, const std::string& data) {
  write_posix_file(dir.Posix("member.in"), data);
  int status = 0;
  std::string member = run_command("gzip -n -c '" + dir.Posix("member.in") + "'", &status);
  EXPECT_EQ(0, status);
  return member;
}

TEST(KaZlib, ResultFieldsFollowTheVirtualTableInOrder) {
  CKaZlib z;
  const char* base = reinterpret_cast<const char*>(&z);
  EXPECT_EQ(sizeof(void*),
            static_cast<size_t>(reinterpret_cast<const char*>(&z.m_pResultData) - base));
  EXPECT_EQ(2 * sizeof(void*),
            static_cast<size_t>(reinterpret_cast<const char*>(&z.m_dwResultSize) - base));
  EXPECT_EQ(4u, sizeof(z.m_dwResultSize));
  EXPECT_TRUE(IsEmpty(z));
  static_assert(std::has_virtual_destructor_v<CKaZlib>);
  static_assert(!std::is_copy_constructible_v<CKaZlib> && !std::is_copy_assignable_v<CKaZlib>,
                "a copy would release the result twice");
}

TEST(KaZlib, CompressAndUnCompressRoundTrip) {
  for (const SizeCase& c : size_cases()) {
    SCOPED_TRACE(c.name);
    std::string in = c.bytes;
    CKaZlib packed;
    ASSERT_NE(0, packed.Compress(bytes_of(in), in.size()));
    ASSERT_NE(nullptr, packed.m_pResultData);
    // A zlib stream: header byte CMF says deflate with a 32 KiB window.
    EXPECT_EQ(0x78, static_cast<unsigned char>(packed.m_pResultData[0]));
    CKaZlib unpacked;
    ASSERT_NE(0, unpacked.UnCompress(packed.m_pResultData, packed.m_dwResultSize));
    EXPECT_NE(nullptr, unpacked.m_pResultData);
    EXPECT_TRUE(HoldsBytes(unpacked, in));
    if (in.size() == (size_t{64} << 20)) {
      EXPECT_LT(packed.m_dwResultSize, in.size() / 100);
    }
    if (in.size() == (size_t{8} << 20)) {
      EXPECT_LT(packed.m_dwResultSize, in.size() + in.size() / 100);
    }
  }
}

TEST(KaZlib, CompressOfNothingAcceptsANullPointer) {
  CKaZlib z;
  ASSERT_NE(0, z.Compress(nullptr, 0));
  CKaZlib back;
  ASSERT_NE(0, back.UnCompress(z.m_pResultData, z.m_dwResultSize));
  EXPECT_EQ(0u, back.m_dwResultSize);
}

TEST(KaZlib, StreamsInterchangeWithZlib) {
  const std::string text = repetitive_bytes(300000) + random_bytes(5000);
  for (int level : {0, 1, 6, 9}) {
    SCOPED_TRACE(level);
    std::string theirs = compressed_by_zlib(text, level);
    CKaZlib z;
    ASSERT_NE(0, z.UnCompress(bytes_of(theirs), theirs.size()));
    EXPECT_TRUE(HoldsBytes(z, text));
  }
  std::string ours = compressed_by_kazlib(text);
  std::string back(text.size(), '\0');
  uLongf n = back.size();
  ASSERT_EQ(Z_OK, uncompress(reinterpret_cast<Bytef*>(back.data()), &n,
                             reinterpret_cast<const Bytef*>(ours.data()), ours.size()));
  EXPECT_TRUE(SameBytes(back.substr(0, n), text));
}

TEST(KaZlib, Zip2FileRoundTripsAndGunzipOpensTheFile) {
  ScratchDir dir;
  for (const SizeCase& c : size_cases()) {
    SCOPED_TRACE(c.name);
    std::string in = c.bytes;
    const std::string path = dir.Path("saved.gz");
    CKaZlib packed;
    ASSERT_NE(0, packed.Zip2File(bytes_of(in), in.size(), path.c_str()));
    // The result is exactly what went to the file.
    const std::string on_disk = read_posix_file(dir.Posix("saved.gz"));
    EXPECT_TRUE(HoldsBytes(packed, on_disk));

    CKaZlib unpacked;
    ASSERT_NE(0, unpacked.UnZip2Buffer(path.c_str()));
    EXPECT_TRUE(HoldsBytes(unpacked, in));

    int status = -1;
    const std::string gunzipped = run_command("gunzip -c '" + dir.Posix("saved.gz") + "'", &status);
    EXPECT_EQ(0, status);
    EXPECT_TRUE(SameBytes(gunzipped, in));
  }
}

// Inflates every gzip member of file in turn with zlib; the members' count goes to *members.
std::string gunzip_members(const std::string& file, int* members) {
  std::string out;
  *members = 0;
  size_t pos = 0;
  std::vector<char> chunk(1 << 16);
  while (pos < file.size()) {
    z_stream zs{};
    EXPECT_EQ(Z_OK, inflateInit2(&zs, 16 + MAX_WBITS));
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(file.data() + pos));
    zs.avail_in = static_cast<uInt>(file.size() - pos);
    int r = Z_OK;
    while (r == Z_OK) {
      zs.next_out = reinterpret_cast<Bytef*>(chunk.data());
      zs.avail_out = static_cast<uInt>(chunk.size());
      r = inflate(&zs, Z_NO_FLUSH);
      out.append(chunk.data(), chunk.size() - zs.avail_out);
    }
    EXPECT_EQ(Z_STREAM_END, r) << "member " << *members;
    pos = file.size() - zs.avail_in;
    inflateEnd(&zs);
    if (r != Z_STREAM_END)
      break;
    ++*members;
  }
  return out;
}

// Offset of the 8 size bytes of the 'K' 'z' field in a first header written by Zip2File.
constexpr size_t kSizeFieldOffset = 10 + 2 + 4;

TEST(KaZlib, LargeFilesAreWrittenAsMembersThatNameTheWholeSize) {
  ScratchDir dir;
  std::string in = random_bytes(size_t{5} << 20, 3) + repetitive_bytes(size_t{15} << 20);
  CKaZlib z;
  ASSERT_NE(0, z.Zip2File(bytes_of(in), in.size(), dir.Path("big.gz").c_str()));
  const std::string file = read_posix_file(dir.Posix("big.gz"));
  int members = 0;
  EXPECT_TRUE(SameBytes(gunzip_members(file, &members), in));
  EXPECT_EQ(3, members) << "one member per 8 MiB";

  ASSERT_GT(file.size(), kSizeFieldOffset + 8);
  EXPECT_EQ(0x04, file[3] & 0x04) << "the first header carries an extra field";
  EXPECT_EQ(std::string("\x0c\x00Kz\x08\x00", 6), file.substr(10, 6));
  uint64_t named = 0;
  for (int i = 0; i < 8; ++i)
    named |= uint64_t{static_cast<unsigned char>(file[kSizeFieldOffset + i])} << (8 * i);
  EXPECT_EQ(in.size(), named);

  // The members are compressed on several threads; the file is the same every time.
  CKaZlib again;
  ASSERT_NE(0, again.Zip2File(bytes_of(in), in.size(), dir.Path("again.gz").c_str()));
  EXPECT_TRUE(SameBytes(read_posix_file(dir.Posix("again.gz")), file));
}

TEST(KaZlib, TheNamedSizeIsOnlyAHint) {
  ScratchDir dir;
  std::string in = repetitive_bytes((size_t{8} << 20) + 3000);
  CKaZlib z;
  ASSERT_NE(0, z.Zip2File(bytes_of(in), in.size(), dir.Path("two.gz").c_str()));
  const std::string file = read_posix_file(dir.Posix("two.gz"));
  ASSERT_GT(file.size(), kSizeFieldOffset + 8);
  // Too small, zero, and far past anything the input can expand to.
  for (uint64_t lie : {uint64_t{1}, uint64_t{0}, ~uint64_t{0}}) {
    SCOPED_TRACE(lie);
    std::string liar = file;
    for (int i = 0; i < 8; ++i)
      liar[kSizeFieldOffset + i] = static_cast<char>(lie >> (8 * i));
    write_posix_file(dir.Posix("liar.gz"), liar);
    CKaZlib back;
    ASSERT_NE(0, back.UnZip2Buffer(dir.Path("liar.gz").c_str()));
    EXPECT_TRUE(HoldsBytes(back, in));
  }
}

TEST(KaZlib, Zip2FileReplacesAnExistingFile) {
  ScratchDir dir;
  write_posix_file(dir.Posix("a.gz"), random_bytes(100000));
  std::string in = "short";
  CKaZlib z;
  ASSERT_NE(0, z.Zip2File(bytes_of(in), in.size(), dir.Path("a.gz").c_str()));
  EXPECT_EQ(z.m_dwResultSize, read_posix_file(dir.Posix("a.gz")).size());
  CKaZlib back;
  ASSERT_NE(0, back.UnZip2Buffer(dir.Path("a.gz").c_str()));
  EXPECT_TRUE(HoldsBytes(back, in));
}

TEST(KaZlib, UnZip2BufferReadsWhatGzipWrites) {
  ScratchDir dir;
  const std::string a = repetitive_bytes(200000);
  const std::string b = random_bytes(70000, 9);
  write_posix_file(dir.Posix("a.txt"), a);
  write_posix_file(dir.Posix("b.txt"), b);
  write_posix_file(dir.Posix("empty.txt"), "");
  int status = 0;
  // gzip names the member after the file by default (FNAME); -N says so explicitly.
  run_command("cd '" + dir.Posix("") +
                  "' && gzip -N -c a.txt > named.gz && gzip -9 -c b.txt > "
                  "b.gz && gzip -c a.txt b.txt > multi.gz && gzip -c a.txt empty.txt b.txt > "
                  "with_empty.gz && gzip -c empty.txt > empty.gz",
              &status);
  ASSERT_EQ(0, status);
  EXPECT_EQ(0x08, read_posix_file(dir.Posix("named.gz"))[3] & 0x08) << "FNAME expected";

  struct {
    const char* file;
    std::string expected;
  } const cases[] = {
      {"named.gz", a}, {"b.gz", b}, {"multi.gz", a + b}, {"with_empty.gz", a + b}, {"empty.gz", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    CKaZlib z;
    ASSERT_NE(0, z.UnZip2Buffer(dir.Path(c.file).c_str()));
    EXPECT_TRUE(HoldsBytes(z, c.expected));
  }
}

TEST(KaZlib, UnZip2BufferSkipsOptionalHeaderFields) {
  ScratchDir dir;
  const std::string data = repetitive_bytes(5000);
  const std::string plain = gzip_member(dir, data);
  ASSERT_GT(plain.size(), 10u);
  // FEXTRA, FNAME, FCOMMENT and FHCRC, each with content, before the same deflate body.
  std::string header = plain.substr(0, 10);
  header[3] = 0x04 | 0x08 | 0x10 | 0x02;
  const std::string extra =
      "AB\x04\x00"
      "data";
  header += std::string("\x08\x00", 2) + extra;
  header += std::string("photo.jpg\0", 10);
  header += std::string("uploaded by a test\0", 19);
  const uLong crc = crc32(0, reinterpret_cast<const Bytef*>(header.data()), header.size());
  header += static_cast<char>(crc & 0xFF);
  header += static_cast<char>((crc >> 8) & 0xFF);
  write_posix_file(dir.Posix("fields.gz"), header + plain.substr(10));

  int status = -1;
  EXPECT_TRUE(SameBytes(run_command("gunzip -c '" + dir.Posix("fields.gz") + "'", &status), data))
      << "the hand-made member must be valid gzip";
  EXPECT_EQ(0, status);
  CKaZlib z;
  ASSERT_NE(0, z.UnZip2Buffer(dir.Path("fields.gz").c_str()));
  EXPECT_TRUE(HoldsBytes(z, data));

  // A header that no longer matches its CRC is a damaged member, to gunzip as here; so is one
  // whose CRC is damaged, in a second member too.
  std::string renamed = header + plain.substr(10);
  renamed[renamed.find("photo")] = 'P';
  std::string bad_crc = header + plain.substr(10);
  bad_crc[header.size() - 1] ^= 0x01;
  for (const std::string& bytes : {renamed, plain + bad_crc}) {
    write_posix_file(dir.Posix("damaged.gz"), bytes);
    run_command("gunzip -c '" + dir.Posix("damaged.gz") + "'", &status);
    EXPECT_NE(0, status) << "gunzip refuses it too";
    CKaZlib damaged;
    EXPECT_EQ(0, damaged.UnZip2Buffer(dir.Path("damaged.gz").c_str()));
    EXPECT_TRUE(IsEmpty(damaged));
  }
}

// The recorded size of the last member says nothing about the members before it.
TEST(KaZlib, RecordedSizeOfTheLastMemberIsOnlyAHint) {
  ScratchDir dir;
  const std::string big = repetitive_bytes(3 << 20);
  write_posix_file(dir.Posix("big_then_one.gz"), gzip_member(dir, big) + gzip_member(dir, "x"));
  CKaZlib z;
  ASSERT_NE(0, z.UnZip2Buffer(dir.Path("big_then_one.gz").c_str()));
  EXPECT_TRUE(HoldsBytes(z, big + "x"));

  // A trailer that claims 4 GiB - 1 for a small member is refused on the size check, not
  // trusted for an allocation.
  std::string liar = gzip_member(dir, "abc");
  for (size_t i = liar.size() - 4; i < liar.size(); ++i)
    liar[i] = '\xFF';
  write_posix_file(dir.Posix("liar.gz"), liar);
  CKaZlib refused;
  EXPECT_EQ(0, refused.UnZip2Buffer(dir.Path("liar.gz").c_str()));
  EXPECT_TRUE(IsEmpty(refused));
}

TEST(KaZlib, UnCompressRejectsDamagedStreams) {
  const std::string text = repetitive_bytes(3000) + random_bytes(1000);
  const std::string good = compressed_by_kazlib(text);
  ASSERT_GT(good.size(), 6u);

  CKaZlib z;
  EXPECT_EQ(0, z.UnCompress(nullptr, 0));
  std::string empty;
  EXPECT_EQ(0, z.UnCompress(bytes_of(empty), 0));
  EXPECT_EQ(0, z.UnCompress(nullptr, 10));
  EXPECT_TRUE(IsEmpty(z));

  // Every proper prefix is a truncated stream.
  for (size_t n = 1; n < good.size(); ++n) {
    std::string cut = good.substr(0, n);
    ASSERT_EQ(0, z.UnCompress(bytes_of(cut), cut.size())) << "prefix of " << n;
    ASSERT_TRUE(IsEmpty(z));
  }

  struct {
    const char* name;
    std::string bytes;
  } damaged[] = {
      {"trailing byte", good + '\0'},
      {"second stream", good + good},
      {"gzip instead of zlib",
       std::string("\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\x03", 10) + good.substr(2)},
      {"bad header check", good},
      {"bad checksum", good},
      {"raw deflate", good.substr(2, good.size() - 6)},
  };
  damaged[3].bytes[1] ^= 0x01;
  damaged[4].bytes[damaged[4].bytes.size() - 1] ^= 0x01;
  for (auto& d : damaged) {
    SCOPED_TRACE(d.name);
    CKaZlib held;
    std::string ok = good;
    ASSERT_NE(0, held.UnCompress(bytes_of(ok), ok.size()));
    // A failure also drops whatever the object held before.
    EXPECT_EQ(0, held.UnCompress(bytes_of(d.bytes), d.bytes.size()));
    EXPECT_TRUE(IsEmpty(held));
  }

  // Corruption inside the body: every single-bit flip is rejected or decodes to other bytes
  // whose checksum fails; none may crash or read out of bounds.
  for (size_t i = 2; i < good.size(); i += 7) {
    std::string flipped = good;
    flipped[i] ^= 0x10;
    CKaZlib f;
    EXPECT_EQ(0, f.UnCompress(bytes_of(flipped), flipped.size())) << "flip at " << i;
  }
}

TEST(KaZlib, UnZip2BufferRejectsMissingEmptyAndDamagedFiles) {
  ScratchDir dir;
  const std::string data = repetitive_bytes(20000) + random_bytes(2000);
  std::string in = data;
  CKaZlib writer;
  ASSERT_NE(0, writer.Zip2File(bytes_of(in), in.size(), dir.Path("good.gz").c_str()));
  const std::string good = read_posix_file(dir.Posix("good.gz"));

  CKaZlib z;
  EXPECT_EQ(0, z.UnZip2Buffer(dir.Path("missing.gz").c_str()));
  EXPECT_EQ(0, z.UnZip2Buffer(dir.Path("no_dir\\a.gz").c_str()));
  EXPECT_EQ(0, z.UnZip2Buffer(dir.Path("").c_str())) << "a directory";
  EXPECT_EQ(0, z.UnZip2Buffer(nullptr));
  write_posix_file(dir.Posix("empty.gz"), "");
  EXPECT_EQ(0, z.UnZip2Buffer(dir.Path("empty.gz").c_str()));
  write_posix_file(dir.Posix("plain.txt"), data);
  EXPECT_EQ(0, z.UnZip2Buffer(dir.Path("plain.txt").c_str())) << "not gzip at all";
  EXPECT_TRUE(IsEmpty(z));

  for (size_t n = 1; n < good.size(); n += (n < 40 ? 1 : 97)) {
    write_posix_file(dir.Posix("cut.gz"), good.substr(0, n));
    ASSERT_EQ(0, z.UnZip2Buffer(dir.Path("cut.gz").c_str())) << "prefix of " << n;
  }

  std::string bad_crc = good;
  bad_crc[bad_crc.size() - 8] ^= 0x01;
  std::string bad_size = good;
  bad_size[bad_size.size() - 4] ^= 0x01;
  std::string bad_magic = good;
  bad_magic[1] = 0x00;
  std::string not_deflate = good;
  not_deflate[2] = 0x07;
  for (const std::string& bytes : {bad_crc, bad_size, bad_magic, not_deflate, good + "garbage",
                                   good + std::string(8, '\0'), good + good.substr(0, 30)}) {
    write_posix_file(dir.Posix("bad.gz"), bytes);
    CKaZlib held;
    ASSERT_NE(0, held.UnZip2Buffer(dir.Path("good.gz").c_str()));
    EXPECT_EQ(0, held.UnZip2Buffer(dir.Path("bad.gz").c_str())) << bytes.size() << " bytes";
    EXPECT_TRUE(IsEmpty(held));
  }
}

TEST(KaZlib, Zip2FileRefusesBadArgumentsAndLeavesNoFile) {
  ScratchDir dir;
  std::string in = "some bytes";
  CKaZlib z;
  EXPECT_EQ(0, z.Zip2File(bytes_of(in), in.size(), dir.Path("no_dir\\a.gz").c_str()));
  EXPECT_FALSE(file_exists(dir.Path("no_dir")));
  EXPECT_EQ(0, z.Zip2File(bytes_of(in), in.size(), dir.Path("").c_str())) << "a directory";
  EXPECT_EQ(0, z.Zip2File(bytes_of(in), in.size(), nullptr));
  EXPECT_EQ(0, z.Zip2File(nullptr, 5, dir.Path("null.gz").c_str()));
  EXPECT_FALSE(file_exists(dir.Path("null.gz")));
  EXPECT_TRUE(IsEmpty(z));
  EXPECT_EQ(0, z.Compress(nullptr, 5));
  EXPECT_TRUE(IsEmpty(z));
}

// Runs only inside the child that Zip2FileRemovesAPartialFileWhenTheDiskIsFull starts with a
// file-size limit: every write past the limit fails as it does on a full disk.
TEST(KaZlib, WriteFailureChild) {
  const char* path = getenv("KAZLIB_TEST_FULL_PATH");
  if (!path)
    GTEST_SKIP() << "runs as a child process only";
  std::string in = random_bytes(size_t{1} << 20);
  CKaZlib z;
  EXPECT_EQ(0, z.Zip2File(bytes_of(in), in.size(), path));
  EXPECT_TRUE(IsEmpty(z));
  EXPECT_FALSE(file_exists(path)) << "the partial file must be gone";
}

TEST(KaZlib, Zip2FileRemovesAPartialFileWhenTheDiskIsFull) {
  ScratchDir dir;
  const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
  // 64 blocks of 512 bytes; SIGXFSZ ignored so that the write fails instead of killing.
  const std::string command = "trap '' XFSZ; ulimit -f 64; KAZLIB_TEST_FULL_PATH='" +
                              dir.Path("full.gz") + "' '" + self +
                              "' --gtest_filter=KaZlib.WriteFailureChild 2>&1";
  int status = -1;
  const std::string output = run_command(command, &status);
  EXPECT_EQ(0, status) << output;
  EXPECT_NE(std::string::npos, output.find("[  PASSED  ] 1 test")) << output;
  EXPECT_FALSE(file_exists(dir.Path("full.gz")));
}

TEST(KaZlib, AResultIsReplacedByTheNextOperation) {
  std::string first = repetitive_bytes(100000);
  std::string second = "second";
  CKaZlib z;
  ASSERT_NE(0, z.Compress(bytes_of(first), first.size()));
  const std::string packed_first(z.m_pResultData, z.m_dwResultSize);
  ASSERT_NE(0, z.Compress(bytes_of(second), second.size()));
  std::string packed_second(z.m_pResultData, z.m_dwResultSize);
  ASSERT_NE(0, z.UnCompress(bytes_of(packed_second), packed_second.size()));
  EXPECT_TRUE(HoldsBytes(z, second));
}

// The allocation-failure loop, transient and persistent: each run either succeeds with the
// right bytes or fails with an empty object; the sanitizer build checks that nothing leaks.
template <typename Operation, typename Check>
void walk_allocation_failures(Operation op, Check check) {
  for (BOOL persistent : {FALSE, TRUE}) {
    SCOPED_TRACE(persistent ? "persistent" : "transient");
    bool clean_run = false;
    for (int n = 1; n < 500 && !clean_run; ++n) {
      CKaZlib z;
      FaultSimConfig(n, persistent);
      const int r = op(z);
      const int faults = FaultSimFaults();
      FaultSimConfig(0, FALSE);
      clean_run = faults == 0;
      if (r) {
        check(z);
      } else {
        ASSERT_GT(faults, 0) << "failed without an injected fault at allocation " << n;
        ASSERT_TRUE(IsEmpty(z)) << "allocation " << n;
      }
    }
    EXPECT_TRUE(clean_run) << "the operation never ran without a fault";
  }
}

TEST(KaZlib, AllocationFailuresGiveTheFailureResult) {
  ScratchDir dir;
  // Compressible enough that decompression outgrows its first buffer several times.
  std::string text = repetitive_bytes(600000);
  std::string packed = compressed_by_kazlib(text);
  {
    CKaZlib writer;
    ASSERT_NE(0, writer.Zip2File(bytes_of(text), text.size(), dir.Path("two.gz").c_str()));
    const std::string member = read_posix_file(dir.Posix("two.gz"));
    write_posix_file(dir.Posix("two.gz"), member + member);
  }
  const std::string twice = text + text;
  const std::string target = dir.Path("oom.gz");

  walk_allocation_failures([&](CKaZlib& z) { return z.Compress(bytes_of(text), text.size()); },
                           [&](CKaZlib& z) {
                             CKaZlib back;
                             ASSERT_NE(0, back.UnCompress(z.m_pResultData, z.m_dwResultSize));
                             EXPECT_TRUE(HoldsBytes(back, text));
                           });
  walk_allocation_failures(
      [&](CKaZlib& z) { return z.UnCompress(bytes_of(packed), packed.size()); },
      [&](CKaZlib& z) { EXPECT_TRUE(HoldsBytes(z, text)); });
  walk_allocation_failures(
      [&](CKaZlib& z) {
        DeleteFileA(target.c_str());
        const int r = z.Zip2File(bytes_of(text), text.size(), target.c_str());
        EXPECT_EQ(r != 0, file_exists(target)) << "a failed save leaves no file";
        return r;
      },
      [&](CKaZlib& z) {
        EXPECT_TRUE(HoldsBytes(z, read_posix_file(kazlib_test::posix_path(target))));
      });
  walk_allocation_failures([&](CKaZlib& z) { return z.UnZip2Buffer(dir.Path("two.gz").c_str()); },
                           [&](CKaZlib& z) { EXPECT_TRUE(HoldsBytes(z, twice)); });

  // A file of two members, compressed on two threads when the machine has them.
  std::string large = repetitive_bytes((size_t{8} << 20) + 1);
  walk_allocation_failures(
      [&](CKaZlib& z) {
        DeleteFileA(target.c_str());
        const int r = z.Zip2File(bytes_of(large), large.size(), target.c_str());
        EXPECT_EQ(r != 0, file_exists(target)) << "a failed save leaves no file";
        return r;
      },
      [&](CKaZlib& z) {
        CKaZlib back;
        ASSERT_NE(0, back.UnZip2Buffer(target.c_str()));
        EXPECT_TRUE(HoldsBytes(back, large));
        EXPECT_TRUE(HoldsBytes(z, read_posix_file(kazlib_test::posix_path(target))));
      });
}

TEST(KaZlib, ObjectsOnSeveralThreadsWorkIndependently) {
  ScratchDir dir;
  std::vector<std::thread> threads;
  std::vector<int> ok(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      std::string in = random_bytes(50000, t) + repetitive_bytes(50000 * (t + 1));
      const std::string path = dir.Path("t" + std::to_string(t) + ".gz");
      int good = 1;
      for (int i = 0; i < 20; ++i) {
        CKaZlib packed;
        CKaZlib file;
        CKaZlib back;
        CKaZlib back_file;
        good &= packed.Compress(bytes_of(in), in.size()) &&
                back.UnCompress(packed.m_pResultData, packed.m_dwResultSize) &&
                HoldsBytes(back, in) && file.Zip2File(bytes_of(in), in.size(), path.c_str()) &&
                back_file.UnZip2Buffer(path.c_str()) && HoldsBytes(back_file, in);
      }
      ok[t] = good;
    });
  }
  for (std::thread& t : threads)
    t.join();
  EXPECT_EQ(std::vector<int>(4, 1), ok);
}

}  // namespace
