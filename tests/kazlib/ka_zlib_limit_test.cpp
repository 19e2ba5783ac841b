// Tests of the output limit: the setting itself, decompression bombs stopped at a lowered
// limit, the exact boundary, and the real 2^31 - 1 bound on the paths that can reach it without
// gigabytes of memory.
#include "KaZlibLimit.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "KaZlib.h"
#include "kazlib_test_support.h"

namespace {

using kazlib_test::file_exists;
using kazlib_test::random_bytes;
using kazlib_test::read_posix_file;
using kazlib_test::ScratchDir;
using kazlib_test::write_posix_file;

constexpr DWORD kLimit = 1 << 20;

class KaZlibLimit : public ::testing::Test {
 protected:
  void SetUp() override { KaZlibSetOutputLimit(kLimit); }
  void TearDown() override { KaZlibSetOutputLimit(0); }

  // The zlib stream and the gzip member of size zero bytes, made under the default limit.
  static std::string Stream(size_t size) {
    const DWORD saved = KaZlibSetOutputLimit(0);
    std::string in(size, '\0');
    CKaZlib z;
    EXPECT_NE(0, z.Compress(in.data(), in.size()));
    KaZlibSetOutputLimit(saved);
    return std::string(z.m_pResultData, z.m_dwResultSize);
  }
  static std::string Member(const ScratchDir& dir, size_t size) {
    const DWORD saved = KaZlibSetOutputLimit(0);
    std::string in(size, '\0');
    CKaZlib z;
    EXPECT_NE(0, z.Zip2File(in.data(), in.size(), dir.Path("member.gz").c_str()));
    KaZlibSetOutputLimit(saved);
    return read_posix_file(dir.Posix("member.gz"));
  }
};

TEST(KaZlibSetOutputLimit, ReturnsThePreviousLimitAndRestoresTheDefault) {
  EXPECT_EQ(KAZLIB_MAX_OUTPUT, KaZlibSetOutputLimit(1000));
  EXPECT_EQ(1000u, KaZlibSetOutputLimit(0));
  EXPECT_EQ(KAZLIB_MAX_OUTPUT, KaZlibSetOutputLimit(0xFFFFFFFFu));
  EXPECT_EQ(KAZLIB_MAX_OUTPUT, KaZlibSetOutputLimit(KAZLIB_MAX_OUTPUT));
  EXPECT_EQ(KAZLIB_MAX_OUTPUT, KaZlibSetOutputLimit(0));
}

TEST_F(KaZlibLimit, UnCompressStopsAtTheLimit) {
  std::string exact = Stream(kLimit);
  std::string over = Stream(kLimit + 1);
  CKaZlib z;
  ASSERT_NE(0, z.UnCompress(exact.data(), exact.size()));
  EXPECT_EQ(kLimit, z.m_dwResultSize);
  EXPECT_EQ(0, z.UnCompress(over.data(), over.size()));
  EXPECT_EQ(nullptr, z.m_pResultData);
  EXPECT_EQ(0u, z.m_dwResultSize);

  // A bomb: a few kilobytes that expand to 64 MiB.
  std::string bomb = Stream(size_t{64} << 20);
  ASSERT_LT(bomb.size(), 100000u);
  EXPECT_EQ(0, z.UnCompress(bomb.data(), bomb.size()));
  EXPECT_EQ(nullptr, z.m_pResultData);
}

TEST_F(KaZlibLimit, UnZip2BufferStopsAtTheLimit) {
  ScratchDir dir;
  write_posix_file(dir.Posix("exact.gz"), Member(dir, kLimit));
  write_posix_file(dir.Posix("over.gz"), Member(dir, kLimit + 1));
  write_posix_file(dir.Posix("bomb.gz"), Member(dir, size_t{64} << 20));
  // Each member fits; together they do not.
  const std::string half = Member(dir, kLimit / 2 + 1);
  write_posix_file(dir.Posix("halves.gz"), half + half);

  CKaZlib z;
  ASSERT_NE(0, z.UnZip2Buffer(dir.Path("exact.gz").c_str()));
  EXPECT_EQ(kLimit, z.m_dwResultSize);
  for (const char* name : {"over.gz", "bomb.gz", "halves.gz"}) {
    EXPECT_EQ(0, z.UnZip2Buffer(dir.Path(name).c_str())) << name;
    EXPECT_EQ(nullptr, z.m_pResultData) << name;
  }
}

TEST_F(KaZlibLimit, InputPastTheLimitIsNotCompressed) {
  ScratchDir dir;
  std::string exact(kLimit, 'a');
  std::string over(kLimit + 1, 'a');
  CKaZlib z;
  EXPECT_NE(0, z.Compress(exact.data(), exact.size()));
  EXPECT_EQ(0, z.Compress(over.data(), over.size()));
  EXPECT_EQ(nullptr, z.m_pResultData);

  // The refusal comes before the file is opened: an existing file keeps its content.
  write_posix_file(dir.Posix("kept.gz"), "earlier content");
  EXPECT_EQ(0, z.Zip2File(over.data(), over.size(), dir.Path("kept.gz").c_str()));
  EXPECT_EQ("earlier content", read_posix_file(dir.Posix("kept.gz")));
}

TEST_F(KaZlibLimit, OutputPastTheLimitIsRefused) {
  // Random bytes do not shrink: the stream of kLimit bytes is a little longer than kLimit.
  std::string in = random_bytes(kLimit);
  CKaZlib z;
  EXPECT_EQ(0, z.Compress(in.data(), in.size()));
  EXPECT_EQ(nullptr, z.m_pResultData);
}

// The real bound, without gigabytes of memory: sizes past 2^31 - 1 are refused before a byte is
// read, so a one-byte buffer is enough (a read past it would fail under the sanitizers).
TEST(KaZlibRealLimit, SizesPastTheBoundAreRefusedUnread) {
  ScratchDir dir;
  char one = 'x';
  CKaZlib z;
  EXPECT_EQ(0, z.Compress(&one, 0x80000000ul));
  EXPECT_EQ(0, z.Zip2File(&one, 0x80000000ul, dir.Path("huge.gz").c_str()));
  EXPECT_FALSE(file_exists(dir.Path("huge.gz")));
  EXPECT_EQ(0, z.Compress(&one, 0x100000001ul)) << "a size that a 32-bit cast would make 1";
  EXPECT_TRUE(z.m_pResultData == nullptr && z.m_dwResultSize == 0);

  // Sparse files cost no disk; they are refused by their size alone. 2^32 + 20 would look
  // like a 20-byte file to a reader that dropped the high part of the size.
  for (uintmax_t size : {uintmax_t{0x80000000u}, (uintmax_t{1} << 32) + 20}) {
    write_posix_file(dir.Posix("sparse.gz"), "");
    std::filesystem::resize_file(dir.Posix("sparse.gz"), size);
    EXPECT_EQ(0, z.UnZip2Buffer(dir.Path("sparse.gz").c_str())) << size;
    EXPECT_EQ(nullptr, z.m_pResultData);
  }
}

}  // namespace
