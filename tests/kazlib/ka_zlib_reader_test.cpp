// Tests of CKaZlibReader: what CKaZlib, gzip and zlib write comes back byte for byte through
// buffers of every size, a short read comes only at a checked end, damaged input fails before
// its end is given out, and the output limit and allocation failures stop it cleanly.
#include "KaZlibReader.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <string>

#include "KaZlib.h"
#include "KaZlibLimit.h"
#include "faultsim.h"
#include "kazlib_test_support.h"

namespace {

using kazlib_test::random_bytes;
using kazlib_test::read_posix_file;
using kazlib_test::repetitive_bytes;
using kazlib_test::run_command;
using kazlib_test::ScratchDir;
using kazlib_test::write_posix_file;

std::string compressed(std::string in) {
  CKaZlib z;
  EXPECT_NE(0, z.Compress(in.data(), in.size()));
  return std::string(z.m_pResultData, z.m_dwResultSize);
}

std::string zipped(const ScratchDir& dir, std::string in, const std::string& name = "f.gz") {
  CKaZlib z;
  EXPECT_NE(0, z.Zip2File(in.data(), in.size(), dir.Path(name).c_str()));
  return read_posix_file(dir.Posix(name));
}

// Everything the reader gives in reads of capacity bytes. Fails the test when a read before
// the last one is short, or a read after the end gives anything.
::testing::AssertionResult read_all(CKaZlibReader& reader, DWORD capacity, std::string* out) {
  out->clear();
  std::string buffer(capacity, '\0');
  for (;;) {
    DWORD got = capacity + 1;
    if (!reader.Read(buffer.data(), capacity, &got))
      return ::testing::AssertionFailure() << "a read failed after " << out->size() << " bytes";
    if (got > capacity)
      return ::testing::AssertionFailure() << "read " << got << " of " << capacity;
    out->append(buffer.data(), got);
    if (got < capacity)
      break;
  }
  DWORD after = 1;
  if (!reader.Read(buffer.data(), capacity, &after) || after != 0)
    return ::testing::AssertionFailure() << "a read after the end gave " << after;
  if (reader.GetTotal() != out->size())
    return ::testing::AssertionFailure() << "total " << reader.GetTotal() << " for " << out->size();
  return ::testing::AssertionSuccess();
}

// Whether the reader fails somewhere before it reports the end.
bool fails_before_the_end(CKaZlibReader& reader, DWORD capacity = 4096) {
  std::string buffer(capacity, '\0');
  for (int reads = 0; reads < 100000; ++reads) {
    DWORD got = 0;
    if (!reader.Read(buffer.data(), capacity, &got))
      return got == 0;
    if (got < capacity)
      return false;
  }
  return false;
}

TEST(CKaZlibReader, StreamsOfCompressComeBackThroughBuffersOfEverySize) {
  const std::string text = repetitive_bytes(300000) + random_bytes(70000) + std::string(9000, 0);
  const std::string packed = compressed(text);
  for (DWORD capacity : {1u, 7u, 4096u, 65536u, 370000u, 369000u, 1u << 20}) {
    SCOPED_TRACE(capacity);
    CKaZlibReader reader;
    ASSERT_NE(0, reader.OpenStream(packed.data(), packed.size()));
    std::string out;
    ASSERT_TRUE(read_all(reader, capacity, &out));
    EXPECT_TRUE(out == text);
  }
  // An output that fills its last buffer exactly ends with a read of nothing.
  CKaZlibReader exact;
  const std::string one_k = compressed(std::string(1024, 'k'));
  ASSERT_NE(0, exact.OpenStream(one_k.data(), one_k.size()));
  std::string out;
  ASSERT_TRUE(read_all(exact, 256, &out));
  EXPECT_EQ(std::string(1024, 'k'), out);
  // One byte of output.
  const std::string x = compressed("x");
  ASSERT_NE(0, exact.OpenStream(x.data(), x.size()));
  ASSERT_TRUE(read_all(exact, 4096, &out));
  EXPECT_EQ("x", out);
}

TEST(CKaZlibReader, FilesOfZip2FileGzipAndSeveralMembersComeBack) {
  ScratchDir dir;
  const std::string small = repetitive_bytes(5000) + random_bytes(100);
  // Larger than one member of Zip2File, so the file holds several.
  const std::string large = random_bytes(3 << 20) + repetitive_bytes((9 << 20) + 5);
  zipped(dir, small, "small.gz");
  zipped(dir, large, "large.gz");
  write_posix_file(dir.Posix("by_gzip.txt"), small);
  int status = 0;
  run_command("gzip -9 -k '" + dir.Posix("by_gzip.txt") + "'", &status);
  ASSERT_EQ(0, status);
  write_posix_file(dir.Posix("joined.gz"), read_posix_file(dir.Posix("small.gz")) +
                                               read_posix_file(dir.Posix("large.gz")) +
                                               read_posix_file(dir.Posix("by_gzip.txt.gz")));
  const struct {
    const char* name;
    std::string content;
  } files[] = {{"small.gz", small},
               {"large.gz", large},
               {"by_gzip.txt.gz", small},
               {"joined.gz", small + large + small}};
  for (const auto& f : files) {
    SCOPED_TRACE(f.name);
    CKaZlibReader reader;
    ASSERT_NE(0, reader.OpenFile(dir.Path(f.name).c_str()));
    std::string out;
    ASSERT_TRUE(read_all(reader, 1 << 20, &out));
    EXPECT_TRUE(out == f.content);
  }
}

TEST(CKaZlibReader, StreamsOfZlibAreRead) {
  const std::string text = repetitive_bytes(100000);
  std::string packed(compressBound(text.size()), '\0');
  uLongf size = packed.size();
  ASSERT_EQ(Z_OK, compress2(reinterpret_cast<Bytef*>(packed.data()), &size,
                            reinterpret_cast<const Bytef*>(text.data()), text.size(), 9));
  packed.resize(size);
  CKaZlibReader reader;
  ASSERT_NE(0, reader.OpenStream(packed.data(), packed.size()));
  std::string out;
  ASSERT_TRUE(read_all(reader, 10000, &out));
  EXPECT_TRUE(out == text);
}

TEST(CKaZlibReader, DamagedStreamsFailBeforeTheirEnd) {
  const std::string text = repetitive_bytes(30000) + random_bytes(1000);
  const std::string good = compressed(text);
  CKaZlibReader reader;
  EXPECT_EQ(0, reader.OpenStream(nullptr, 10));
  EXPECT_EQ(0, reader.OpenStream(good.data(), 0));
  char buffer[16];
  DWORD got = 5;
  EXPECT_EQ(0, reader.Read(buffer, sizeof buffer, &got)) << "not open";
  EXPECT_EQ(0u, got);

  std::string bad_header = good, bad_check = good;
  bad_header[1] ^= 0x01;
  bad_check[bad_check.size() - 1] ^= 0x01;
  std::string gzip_instead =
      std::string("\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\x03", 10) + good.substr(2);
  for (const std::string& bytes : {bad_header, bad_check, gzip_instead, good + '\0', good + good,
                                   good.substr(0, good.size() - 1), good.substr(0, 20)}) {
    ASSERT_NE(0, reader.OpenStream(bytes.data(), bytes.size()));
    EXPECT_TRUE(fails_before_the_end(reader)) << bytes.size() << " bytes";
    EXPECT_EQ(0u, reader.GetTotal()) << "a failed reader is closed";
  }
  for (size_t i = 2; i < good.size(); i += 5) {
    std::string flipped = good;
    flipped[i] ^= 0x10;
    ASSERT_NE(0, reader.OpenStream(flipped.data(), flipped.size()));
    EXPECT_TRUE(fails_before_the_end(reader)) << "flip at " << i;
  }
}

TEST(CKaZlibReader, DamagedFilesFailBeforeTheirEnd) {
  ScratchDir dir;
  const std::string data = repetitive_bytes(20000) + random_bytes(2000);
  const std::string good = zipped(dir, data, "good.gz");
  CKaZlibReader reader;
  EXPECT_EQ(0, reader.OpenFile(dir.Path("missing.gz").c_str()));
  EXPECT_EQ(0, reader.OpenFile(dir.Path("").c_str())) << "a directory";
  EXPECT_EQ(0, reader.OpenFile(nullptr));
  write_posix_file(dir.Posix("empty.gz"), "");
  EXPECT_EQ(0, reader.OpenFile(dir.Path("empty.gz").c_str()));

  std::string bad_crc = good, bad_size = good, bad_magic = good;
  bad_crc[bad_crc.size() - 8] ^= 0x01;
  bad_size[bad_size.size() - 4] ^= 0x01;
  bad_magic[1] = 0x00;
  for (const std::string& bytes :
       {bad_crc, bad_size, bad_magic, data, good + "garbage", good + std::string(8, '\0'),
        good + good.substr(0, 30), good.substr(0, good.size() - 1), good.substr(0, 12)}) {
    write_posix_file(dir.Posix("bad.gz"), bytes);
    ASSERT_NE(0, reader.OpenFile(dir.Path("bad.gz").c_str()));
    EXPECT_TRUE(fails_before_the_end(reader)) << bytes.size() << " bytes";
  }
}

TEST(CKaZlibReader, StopsAtTheOutputLimit) {
  constexpr DWORD kLimit = 1 << 20;
  const std::string exact = compressed(std::string(kLimit, '\0'));
  const std::string over = compressed(std::string(kLimit + 1, '\0'));
  KaZlibSetOutputLimit(kLimit);
  CKaZlibReader reader;
  ASSERT_NE(0, reader.OpenStream(exact.data(), exact.size()));
  std::string out;
  EXPECT_TRUE(read_all(reader, 65536, &out));
  EXPECT_EQ(kLimit, out.size());
  ASSERT_NE(0, reader.OpenStream(over.data(), over.size()));
  EXPECT_TRUE(fails_before_the_end(reader, 65536));
  // The whole output in one buffer larger than the limit.
  std::string big(kLimit + 100, '\0');
  DWORD got = 0;
  ASSERT_NE(0, reader.OpenStream(over.data(), over.size()));
  EXPECT_EQ(0, reader.Read(big.data(), static_cast<DWORD>(big.size()), &got));
  KaZlibSetOutputLimit(0);
}

// A bomb of a thousand to one goes through a small buffer in small memory: the reader holds
// the compressed bytes and its window, never the output.
TEST(CKaZlibReader, ABombPassesThroughASmallBuffer) {
  ScratchDir dir;
  const std::string file = zipped(dir, std::string(size_t{64} << 20, '\0'), "bomb.gz");
  ASSERT_LT(file.size(), size_t{128} << 10);
  CKaZlibReader reader;
  ASSERT_NE(0, reader.OpenFile(dir.Path("bomb.gz").c_str()));
  std::string buffer(1 << 20, '\x55');
  size_t total = 0;
  bool zeros = true;
  for (DWORD got = 1 << 20; got == buffer.size();) {
    ASSERT_NE(0, reader.Read(buffer.data(), static_cast<DWORD>(buffer.size()), &got));
    zeros = zeros && buffer.find_first_not_of('\0', 0) >= got;
    total += got;
  }
  EXPECT_EQ(size_t{64} << 20, total);
  EXPECT_TRUE(zeros);
}

TEST(CKaZlibReader, AllocationFailuresCloseTheReader) {
  ScratchDir dir;
  const std::string text = repetitive_bytes(200000);
  const std::string packed = compressed(text);
  zipped(dir, text, "f.gz");
  for (bool file : {false, true}) {
    for (BOOL persistent : {FALSE, TRUE}) {
      SCOPED_TRACE(std::string(file ? "file " : "stream ") + (persistent ? "persistent" : "once"));
      bool clean_run = false;
      for (int n = 1; n < 100 && !clean_run; ++n) {
        CKaZlibReader reader;
        FaultSimConfig(n, persistent);
        std::string out;
        const bool opened = file ? reader.OpenFile(dir.Path("f.gz").c_str())
                                 : reader.OpenStream(packed.data(), packed.size());
        const bool read = opened && read_all(reader, 8192, &out);
        const int faults = FaultSimFaults();
        FaultSimConfig(0, FALSE);
        clean_run = faults == 0;
        if (read)
          EXPECT_TRUE(out == text) << n;
        else
          EXPECT_GT(faults, 0) << "failed without an injected fault at allocation " << n;
      }
      EXPECT_TRUE(clean_run);
    }
  }
}

}  // namespace
