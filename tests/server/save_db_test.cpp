// Tests of the attachment's saves into a database, driven by name as a script drives them
// against real SQLite files and the tests' PostgreSQL server: the bytes stored, the compressed
// size, and the failures of the connection, the command and the compression.
#include <gtest/gtest.h>

#include <iterator>
#include <string>
#include <tuple>

#include "KaZlibLimit.h"
#include "db_fixture.h"

namespace {

using late_bound::Call;
using late_bound::Str;
using late_bound::TakeErrorDescription;
using late_bound::Unknown;

const char16_t kCompressFailed[] = u"데이터를 압축하는 도중 오류가 발생했습니다.";
const char16_t kInsert[] = u"INSERT INTO files (content) VALUES (?)";

// Bytes that do not compress.
std::string noise(size_t n) {
  std::string out(n, '\0');
  unsigned long long x = 0x9E3779B97F4A7C15ull;
  for (char& c : out) {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    c = static_cast<char>(x >> 56);
  }
  return out;
}

// The contents saved, made when a test first asks: a parameter is copied into every test that
// is registered with it, in every run of the program, so the tests carry only an index.
const std::string& content_at(size_t index) {
  static const std::string contents[] = {std::string(), std::string(1, '\0'),
                                         std::string("ab\0\0c\0d\xff", 8), noise(3 << 20)};
  return contents[index];
}
const char* const kContentNames[] = {"Empty", "OneZeroByte", "EightBytes", "Noise3MiB"};

using ProviderAndContent = std::tuple<DbProvider, size_t>;

std::string content_name(const ::testing::TestParamInfo<ProviderAndContent>& info) {
  return std::string(std::get<0>(info.param) == DbProvider::kSqlite ? "SQLite" : "PostgreSQL") +
         "_" + kContentNames[std::get<1>(info.param)];
}

class SaveDb : public DbFixture {
 protected:
  void start_saving(const std::string& content) {
    start_with_file(content);
    file_ = attachment();
    ASSERT_TRUE(file_);
  }
  HRESULT save(const char16_t* method, IUnknown* connection, const char16_t* query) {
    return Call(file_.Get(), method, DISPATCH_METHOD, {Unknown(connection), Str(query)}, nullptr);
  }
  HRESULT save(const char16_t* method, const char16_t* query = kInsert) {
    return save(method, connection_.Get(), query);
  }
  ComPtr<IDispatch> file_;
};

// The same saves on each provider.
class SaveDbContent : public SaveDb, public ::testing::WithParamInterface<ProviderAndContent> {
 protected:
  void SetUp() override {
    provider_ = std::get<0>(GetParam());
    SaveDb::SetUp();
  }
  const std::string& content() const { return content_at(std::get<1>(GetParam())); }
};

TEST_P(SaveDbContent, StoresTheBytesUnchanged) {
  start_saving(content());
  ASSERT_EQ(S_OK, save(u"SaveDb"));
  EXPECT_EQ(u"", TakeErrorDescription());
  const auto rows = stored();
  ASSERT_EQ(1u, rows.size());
  // An empty parameter may be stored as an empty blob or as null: the provider's affair.
  EXPECT_EQ(content(), rows[0].value_or(""));
  EXPECT_EQ(0, number(file_.Get(), u"ZipSize"));
}

TEST_P(SaveDbContent, StoresExactlyTheCompressedSizeAndRecordsIt) {
  start_saving(content());
  ASSERT_EQ(S_OK, save(u"SaveDbByZip"));
  const LONG zip_size = number(file_.Get(), u"ZipSize");
  EXPECT_GT(zip_size, 0);  // even no bytes compress into a stream
  const auto rows = stored();
  ASSERT_EQ(1u, rows.size());
  ASSERT_TRUE(rows[0].has_value());
  EXPECT_EQ(static_cast<size_t>(zip_size), rows[0]->size());
  EXPECT_EQ(static_cast<LONG>(content().size()), number(file_.Get(), u"Size"));
}

INSTANTIATE_TEST_SUITE_P(Contents, SaveDbContent,
                         ::testing::Combine(::testing::Values(DbProvider::kSqlite,
                                                              DbProvider::kPostgres),
                                            ::testing::Range<size_t>(0, std::size(kContentNames))),
                         content_name);

TEST_F(SaveDb, CompressibleBytesAreStoredSmaller) {
  const std::string content(1 << 20, 'z');
  start_saving(content);
  ASSERT_EQ(S_OK, save(u"SaveDbByZip"));
  const LONG zip_size = number(file_.Get(), u"ZipSize");
  EXPECT_LT(zip_size, 1 << 16);
  EXPECT_EQ(static_cast<size_t>(zip_size), stored().at(0)->size());
}

TEST_F(SaveDb, RunsTheScriptsCommandOnceWithTheBytesForItsPlaceholder) {
  ASSERT_EQ(S_OK, exec(u"INSERT INTO files (id, content) VALUES (1, x'01'), (2, x'02')"));
  start_saving("new bytes");
  ASSERT_EQ(S_OK, save(u"SaveDb", u"UPDATE files SET content = ? WHERE id = 2"));
  const auto rows = stored();
  ASSERT_EQ(2u, rows.size());
  EXPECT_EQ(std::string("\x01"), rows[0].value_or("<null>"));
  EXPECT_EQ("new bytes", rows[1].value_or("<null>"));
  // The connection stays open for the script.
  EXPECT_EQ(S_OK, save(u"SaveDb"));
  EXPECT_EQ(3u, stored().size());
}

TEST_F(SaveDb, ACommandTheProviderRejectsReportsItsMessageAndStoresNothing) {
  start_saving("some bytes");
  for (const char16_t* method : {u"SaveDb", u"SaveDbByZip"}) {
    SCOPED_TRACE(method[6] ? "SaveDbByZip" : "SaveDb");
    EXPECT_EQ(DISP_E_EXCEPTION, save(method, u"INSERT INTO missing_table (content) VALUES (?)"));
    const std::u16string message = TakeErrorDescription();
    EXPECT_NE(std::u16string::npos, message.find(u"no such table: missing_table"));
  }
  EXPECT_TRUE(stored().empty());
  // The compressed size was recorded before the command ran.
  EXPECT_GT(number(file_.Get(), u"ZipSize"), 0);
}

TEST_F(SaveDb, ACommandFailingWhileItRunsStoresNothing) {
  ASSERT_EQ(S_OK, exec(u"CREATE TABLE small (content BLOB CHECK (length(content) < 4))"));
  start_saving("too long");
  EXPECT_EQ(DISP_E_EXCEPTION, save(u"SaveDb", u"INSERT INTO small (content) VALUES (?)"));
  EXPECT_NE(std::u16string::npos, TakeErrorDescription().find(u"CHECK constraint failed"));
  ComPtr<IDispatch> count = field(u"SELECT count(*) FROM small");
  ASSERT_TRUE(count);
  ScopedVariant rows;
  ASSERT_EQ(S_OK, late_bound::Get(count.Get(), u"Value", {}, rows.Receive()));
  ASSERT_EQ(S_OK, VariantChangeType(rows.AsInput(), rows.AsInput(), 0, VT_I4));
  EXPECT_EQ(0, rows.Get().lVal);
}

TEST_F(SaveDb, AnObjectThatIsNotAConnectionFailsWithoutMessage) {
  start_saving("bytes");
  for (const char16_t* method : {u"SaveDb", u"SaveDbByZip"}) {
    EXPECT_EQ(E_NOINTERFACE, save(method, file_.Get(), kInsert));
    EXPECT_EQ(u"", TakeErrorDescription());
  }
  EXPECT_EQ(0, number(file_.Get(), u"ZipSize"));
  EXPECT_TRUE(stored().empty());
}

TEST_F(SaveDb, ANullConnectionFailsBeforeAnythingElse) {
  start_saving("bytes");
  for (const char16_t* method : {u"SaveDb", u"SaveDbByZip"}) {
    EXPECT_EQ(E_POINTER, save(method, nullptr, kInsert));
    EXPECT_EQ(u"", TakeErrorDescription());
  }
  EXPECT_EQ(0, number(file_.Get(), u"ZipSize"));
  EXPECT_TRUE(stored().empty());
}

TEST_F(SaveDb, AClosedConnectionReportsTheProvidersMessage) {
  start_saving("bytes");
  ASSERT_EQ(S_OK, Call(connection_.Get(), u"Close", DISPATCH_METHOD, {}, nullptr));
  EXPECT_EQ(DISP_E_EXCEPTION, save(u"SaveDb"));
  EXPECT_NE(u"", TakeErrorDescription());
  ASSERT_EQ(S_OK, Call(connection_.Get(), u"Open", DISPATCH_METHOD,
                       {Str(u"Provider=SQLite;Data Source=C:\\db\\files.db")}, nullptr));
  EXPECT_TRUE(stored().empty());
}

TEST_F(SaveDb, AFailedCompressionRunsNoCommandAndKeepsZipSize) {
  start_saving(noise(4096));
  ASSERT_EQ(S_OK, save(u"SaveDbByZip"));
  const LONG zip_size = number(file_.Get(), u"ZipSize");
  const DWORD previous = KaZlibSetOutputLimit(1024);
  const HRESULT hr = save(u"SaveDbByZip");
  KaZlibSetOutputLimit(previous);
  EXPECT_EQ(E_FAIL, hr);
  EXPECT_EQ(kCompressFailed, TakeErrorDescription());
  EXPECT_EQ(zip_size, number(file_.Get(), u"ZipSize"));
  EXPECT_EQ(1u, stored().size());
}

class SaveDbOnPostgres : public SaveDb {
 protected:
  void SetUp() override {
    provider_ = DbProvider::kPostgres;
    SaveDb::SetUp();
  }
};

TEST_F(SaveDbOnPostgres, ACommandTheServerRejectsReportsItsMessageAndStoresNothing) {
  ASSERT_EQ(S_OK, exec(u"CREATE TABLE small (content BYTEA CHECK (length(content) < 4))"));
  start_saving("too long");
  for (const char16_t* method : {u"SaveDb", u"SaveDbByZip"}) {
    SCOPED_TRACE(method[6] ? "SaveDbByZip" : "SaveDb");
    EXPECT_EQ(DISP_E_EXCEPTION, save(method, u"INSERT INTO small (content) VALUES (?)"));
    EXPECT_EQ(
        u"new row for relation \"small\" violates check constraint \"small_content_check\" "
        u"(SQLSTATE 23514)",
        TakeErrorDescription());
  }
  ComPtr<IDispatch> count = field(u"SELECT count(*) FROM small");
  ASSERT_TRUE(count);
  ScopedVariant rows;
  ASSERT_EQ(S_OK, late_bound::Get(count.Get(), u"Value", {}, rows.Receive()));
  ASSERT_EQ(S_OK, VariantChangeType(rows.AsInput(), rows.AsInput(), 0, VT_I4));
  EXPECT_EQ(0, rows.Get().lVal);
}

TEST_F(SaveDbOnPostgres, AConnectionTheServerDroppedIsReportedAsSuch) {
  start_saving("bytes");
  EXPECT_NE(S_OK, exec(u"SELECT pg_terminate_backend(pg_backend_pid())"));
  TakeErrorDescription();
  EXPECT_EQ(DISP_E_EXCEPTION, save(u"SaveDb"));
  EXPECT_EQ(0u, TakeErrorDescription().find(u"The connection to the database server is broken: "));
}

}  // namespace
