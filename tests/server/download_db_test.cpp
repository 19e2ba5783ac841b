// Tests of the download object's sends of a long database field, against real SQLite files
// (and the tests' PostgreSQL server for the round trips): attachments saved plain or compressed
// come back as uploaded, fields of unreported size are read in full chunks, and every failure
// leaves the response untouched.
#include <gtest/gtest.h>
#include <stdint.h>

#include <functional>
#include <iterator>
#include <string>
#include <tuple>
#include <vector>

#include "adoint.h"
#include "db_fixture.h"

namespace {

using late_bound::Call;
using late_bound::Str;
using late_bound::TakeErrorDescription;
using late_bound::Unknown;

const char16_t kUncompressFailed[] = u"데이터를 압축 해제하는 도중 오류가 발생했습니다.";
constexpr LONG kChunk = 0x100000;

std::u16string wide(const std::string& ascii) {
  return std::u16string(ascii.begin(), ascii.end());
}

// Bytes with zero bytes among them that compress poorly.
std::string binary_bytes(size_t n) {
  std::string out(n, '\0');
  unsigned long long x = 0x2545F4914F6CDD1Dull;
  for (char& c : out) {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    c = (x & 0x700) ? static_cast<char>(x >> 56) : '\0';
  }
  return out;
}

// The calls of a download of a field: sent as stored in one piece, decompressed in pieces of
// piece bytes.
std::vector<std::u16string> attachment_calls(const std::u16string& name, size_t length,
                                             size_t piece = SIZE_MAX) {
  return fake_page::AttachmentCalls(name, length, piece);
}

// A field of a real recordset that reports the size it is given (by default none) and may
// reshape the chunks it reads: every other member it uses is the real field's. The lengths
// asked of GetChunk are recorded.
class StandInField final : public Field20 {
 public:
  explicit StandInField(IDispatch* real) {
    real->QueryInterface(IID_Field20, reinterpret_cast<void**>(real_.Receive()));
  }
  std::vector<LONG> chunks;
  LONGLONG reported_size = -1;
  std::function<void(VARIANT*)> reshape;  // applied to each chunk read

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    *ppv = nullptr;
    if (!IsEqualGUID(riid, IID_IUnknown) && !IsEqualGUID(riid, IID_Field20))
      return E_NOINTERFACE;
    *ppv = static_cast<Field20*>(this);
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override { return --refs_; }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                   UINT*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE get_Properties(Properties**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_ActualSize(LONGLONG* pl) override {
    *pl = reported_size;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_Attributes(LONG* pl) override { return real_->get_Attributes(pl); }
  HRESULT STDMETHODCALLTYPE get_DefinedSize(LONGLONG*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_Name(BSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_Type(DataTypeEnum* type) override { return real_->get_Type(type); }
  HRESULT STDMETHODCALLTYPE get_Value(VARIANT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_Value(VARIANT) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_Precision(BYTE*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_NumericScale(BYTE*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE AppendChunk(VARIANT) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetChunk(LONG length, VARIANT* chunk) override {
    chunks.push_back(length);
    const HRESULT hr = real_->GetChunk(length, chunk);
    if (SUCCEEDED(hr) && reshape)
      reshape(chunk);
    return hr;
  }
  HRESULT STDMETHODCALLTYPE get_OriginalValue(VARIANT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_UnderlyingValue(VARIANT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_DataFormat(IUnknown**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE putref_DataFormat(IUnknown*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_Precision(BYTE) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_NumericScale(BYTE) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_Type(DataTypeEnum) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_DefinedSize(LONGLONG) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_Attributes(LONG) override { return E_NOTIMPL; }

 private:
  ComPtr<Field20> real_;
  ULONG refs_ = 1;  // the test's own, on the stack
};

// The contents sent, made when a test first asks: a parameter is copied into every test that
// is registered with it, in every run of the program, so the tests carry only an index.
const std::string& content_at(size_t index) {
  static const std::string contents[] = {std::string(1, '\0'), std::string("ab\0\0c\0d\xff", 8),
                                         binary_bytes(3 << 20), std::string(5 << 20, 'q')};
  return contents[index];
}
const char* const kContentNames[] = {"OneZeroByte", "EightBytes", "Binary3MiB", "Text5MiB"};

using ProviderAndContent = std::tuple<DbProvider, size_t>;

std::string content_name(const ::testing::TestParamInfo<ProviderAndContent>& info) {
  return std::string(std::get<0>(info.param) == DbProvider::kSqlite ? "SQLite" : "PostgreSQL") +
         "_" + kContentNames[std::get<1>(info.param)];
}

class DownFromDb : public DbFixture {
 protected:
  void SetUp() override {
    DbFixture::SetUp();
    CLSID clsid{};
    ASSERT_EQ(S_OK, CLSIDFromProgID(u"Vantrel.FileDownload", &clsid));
    ASSERT_EQ(S_OK, CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                     reinterpret_cast<void**>(download_.Receive())));
    down_page_ = fake_page::MakeContext(u"", "");
    ASSERT_EQ(S_OK, Call(download_.Get(), u"OnStartPage", DISPATCH_METHOD, {Unknown(down_page_)},
                         nullptr));
  }
  void TearDown() override {
    download_.Reset();
    down_page_->Release();
    DbFixture::TearDown();
  }
  // Saves content through a fresh upload with method; the row's id is the count of saves.
  void save(const std::string& content, const char16_t* method) {
    if (page_) {
      page_->Release();
      page_ = nullptr;
    }
    upload_.Reset();
    CLSID clsid{};
    ASSERT_EQ(S_OK, CLSIDFromProgID(u"Vantrel.FileUpload", &clsid));
    ASSERT_EQ(S_OK, CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                     reinterpret_cast<void**>(upload_.Receive())));
    start_with_file(content);
    ComPtr<IDispatch> file = attachment();
    ASSERT_TRUE(file);
    ASSERT_EQ(S_OK,
              Call(file.Get(), method, DISPATCH_METHOD,
                   {Unknown(connection_.Get()), Str(u"INSERT INTO files (content) VALUES (?)")},
                   nullptr));
  }
  HRESULT down(const char16_t* method, IUnknown* field, const char16_t* name = u"a.bin") {
    return Call(download_.Get(), method, DISPATCH_METHOD, {Unknown(field), Str(name)}, nullptr);
  }
  std::vector<std::u16string>& calls() { return down_page_->response->calls; }
  std::vector<std::string>& sent() { return down_page_->response->binary; }

  ComPtr<IDispatch> download_;
  fake_page::Context* down_page_ = nullptr;
};

// The same round trips on each provider.
class DownFromDbContent : public DownFromDb,
                          public ::testing::WithParamInterface<ProviderAndContent> {
 protected:
  void SetUp() override {
    provider_ = std::get<0>(GetParam());
    DownFromDb::SetUp();
  }
};

TEST_P(DownFromDbContent, SavedThenSentGivesTheUploadedBytes) {
  const std::string& content = content_at(std::get<1>(GetParam()));
  save(content, u"SaveDb");
  ComPtr<IDispatch> content_field = field(u"SELECT content FROM files");
  ASSERT_TRUE(content_field);
  ASSERT_EQ(S_OK, down(u"DownFromDb", content_field.Get()));
  EXPECT_EQ(attachment_calls(u"a.bin", content.size()), calls());
  ASSERT_EQ(1u, sent().size());
  EXPECT_TRUE(content == sent()[0]);
}

TEST_P(DownFromDbContent, SavedCompressedThenSentDecompressedGivesTheUploadedBytes) {
  const std::string& content = content_at(std::get<1>(GetParam()));
  save(content, u"SaveDbByZip");
  ComPtr<IDispatch> content_field = field(u"SELECT content FROM files");
  ASSERT_TRUE(content_field);
  ASSERT_EQ(S_OK, down(u"DownFromUnzipDb", content_field.Get()));
  EXPECT_EQ(attachment_calls(u"a.bin", content.size(), kChunk), calls());
  std::string joined;
  for (const std::string& piece : sent())
    joined += piece;
  EXPECT_TRUE(content == joined);
}

INSTANTIATE_TEST_SUITE_P(Contents, DownFromDbContent,
                         ::testing::Combine(::testing::Values(DbProvider::kSqlite,
                                                              DbProvider::kPostgres),
                                            ::testing::Range<size_t>(0, std::size(kContentNames))),
                         content_name);

TEST_F(DownFromDb, AnEmptyFieldSendsLengthZeroAndCannotBeDecompressed) {
  ASSERT_EQ(S_OK, exec(u"INSERT INTO files (content) VALUES (x'')"));
  ComPtr<IDispatch> empty = field(u"SELECT content FROM files");
  ASSERT_TRUE(empty);
  ASSERT_EQ(S_OK, down(u"DownFromDb", empty.Get()));
  EXPECT_EQ(attachment_calls(u"a.bin", 0), calls());
  calls().clear();
  EXPECT_EQ(E_FAIL, down(u"DownFromUnzipDb", empty.Get()));
  EXPECT_EQ(kUncompressFailed, TakeErrorDescription());
  EXPECT_TRUE(calls().empty());
}

TEST_F(DownFromDb, OnlyTheNameAfterTheLastBackslashOrSlashIsSent) {
  ASSERT_EQ(S_OK, exec(u"INSERT INTO files (content) VALUES (x'41')"));
  const std::pair<const char16_t*, const char16_t*> names[] = {
      {u"C:\\store\\report.doc", u"report.doc"},
      {u"/srv/store/a\\b/report.doc", u"report.doc"},
      {u"C:\\store/x\\my report.doc", u"\"my report.doc\""},
      // An empty name is an empty quoted string: a bare "filename=" has no value at all.
      {u"C:\\store\\", u"\"\""},
      {nullptr, u"\"\""}};
  for (const auto& [name, parameter] : names) {
    calls().clear();
    // The chunks of a field are read once: each send takes the row afresh.
    ComPtr<IDispatch> content_field = field(u"SELECT content FROM files");
    ASSERT_EQ(S_OK, Call(download_.Get(), u"DownFromDb", DISPATCH_METHOD,
                         {Unknown(content_field.Get()), Str(name)}, nullptr));
    EXPECT_EQ(attachment_calls(parameter, 1), calls());
  }
}

// A name with a control character could end a header and start another: refused before the
// field is read or the response touched.
TEST_F(DownFromDb, ANameWithAControlCharacterIsRefusedBeforeTheFieldIsRead) {
  ASSERT_EQ(S_OK, exec(u"INSERT INTO files (content) VALUES (x'41')"));
  ComPtr<IDispatch> content_field = field(u"SELECT content FROM files");
  StandInField stand_in(content_field.Get());
  for (const char16_t* name : {u"a\r\nSet-Cookie: x=1", u"C:\\store\\a\tb.doc", u"a\x1b[0m"}) {
    for (const char16_t* method : {u"DownFromDb", u"DownFromUnzipDb"}) {
      EXPECT_EQ(E_INVALIDARG, down(method, &stand_in, name));
      EXPECT_EQ(u"파일 이름이나 경로에 제어 문자가 들어 있어 응답 헤더에 쓸 수 없습니다.",
                TakeErrorDescription());
    }
  }
  EXPECT_TRUE(stand_in.chunks.empty());
  EXPECT_TRUE(calls().empty());
}

TEST_F(DownFromDb, ATextFieldIsSentAsItsText) {
  ASSERT_EQ(S_OK, exec(u"INSERT INTO files (note) VALUES ('plain text, sent as bytes')"));
  ComPtr<IDispatch> note = field(u"SELECT note FROM files");
  ASSERT_TRUE(note);
  ASSERT_EQ(S_OK, down(u"DownFromDb", note.Get(), u"note.txt"));
  EXPECT_EQ(attachment_calls(u"note.txt", 25), calls());
  EXPECT_EQ("plain text, sent as bytes", sent().at(0));
}

TEST_F(DownFromDb, ABinaryFieldOfUnreportedSizeIsReadInFullChunks) {
  const std::string content = binary_bytes(2 * kChunk);
  save(content, u"SaveDb");
  save(content + "tail", u"SaveDb");
  const struct {
    const char16_t* sql;
    size_t length;
  } cases[] = {{u"SELECT content FROM files WHERE id = 1", content.size()},
               {u"SELECT content FROM files WHERE id = 2", content.size() + 4}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.length);
    calls().clear();
    sent().clear();
    ComPtr<IDispatch> real = field(c.sql);
    ASSERT_TRUE(real);
    StandInField unsized(real.Get());
    ASSERT_EQ(S_OK, down(u"DownFromDb", &unsized));
    // Two full chunks, then one that is short or holds nothing ends the reading.
    EXPECT_EQ(std::vector<LONG>(3, kChunk), unsized.chunks);
    EXPECT_EQ(attachment_calls(u"a.bin", c.length), calls());
    EXPECT_TRUE(sent().at(0) == (c.length == content.size() ? content : content + "tail"));
  }
}

// The one chunk of a sized field is sent as it came only when it is already the array to send.
TEST_F(DownFromDb, AChunkOfOtherBoundsOrLengthIsSentAsTheBytesAskedFromZero) {
  save("abcdef", u"SaveDb");
  ComPtr<IDispatch> real = field(u"SELECT content FROM files");
  ASSERT_TRUE(real);
  const struct {
    LONGLONG reported;
    std::function<void(VARIANT*)> reshape;
    std::string sent;
  } cases[] = {
      {6, [](VARIANT* chunk) { chunk->parray->rgsabound[0].lLbound = 1; }, "abcdef"},
      {4,
       [](VARIANT* chunk) {
         VariantClear(chunk);
         chunk->vt = VT_ARRAY | VT_UI1;
         chunk->parray = SafeArrayCreateVector(VT_UI1, 0, 6);
         memcpy(chunk->parray->pvData, "wxyz!?", 6);
       },
       "wxyz"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sent);
    calls().clear();
    sent().clear();
    StandInField stand_in(real.Get());
    stand_in.reported_size = c.reported;
    stand_in.reshape = c.reshape;
    ASSERT_EQ(S_OK, down(u"DownFromDb", &stand_in));
    EXPECT_EQ(std::vector<LONG>{static_cast<LONG>(c.reported)}, stand_in.chunks);
    EXPECT_EQ(attachment_calls(u"a.bin", c.sent.size()), calls());
    ASSERT_EQ(1u, sent().size());
    EXPECT_EQ(c.sent, sent()[0]);
  }
}

TEST_F(DownFromDb, ATextFieldOfUnreportedSizeIsReadWhileChunksComeBackFull) {
  const std::string text(2 * kChunk + 3, 't');
  ASSERT_EQ(S_OK, exec((u"INSERT INTO files (note) VALUES ('" + wide(text) + u"')").c_str()));
  ComPtr<IDispatch> real = field(u"SELECT note FROM files");
  ASSERT_TRUE(real);
  StandInField unsized(real.Get());
  ASSERT_EQ(S_OK, down(u"DownFromDb", &unsized, u"long.txt"));
  EXPECT_EQ(std::vector<LONG>(3, kChunk), unsized.chunks);
  EXPECT_EQ(attachment_calls(u"long.txt", text.size()), calls());
  EXPECT_TRUE(sent().at(0) == text);
}

TEST_F(DownFromDb, AFieldThatIsNotLongIsRefusedWithoutMessage) {
  ASSERT_EQ(S_OK, exec(u"INSERT INTO files (content) VALUES (x'41')"));
  ComPtr<IDispatch> id = field(u"SELECT id FROM files");
  ASSERT_TRUE(id);
  for (const char16_t* method : {u"DownFromDb", u"DownFromUnzipDb"}) {
    EXPECT_EQ(E_INVALIDARG, down(method, id.Get()));
    EXPECT_EQ(u"", TakeErrorDescription());
  }
  EXPECT_TRUE(calls().empty());
}

TEST_F(DownFromDb, AnObjectThatIsNotAFieldOrNoObjectIsRefused) {
  for (const char16_t* method : {u"DownFromDb", u"DownFromUnzipDb"}) {
    EXPECT_EQ(E_NOINTERFACE, down(method, connection_.Get()));
    EXPECT_EQ(u"", TakeErrorDescription());
    EXPECT_EQ(E_POINTER, down(method, nullptr));
  }
  EXPECT_TRUE(calls().empty());
}

TEST_F(DownFromDb, AFieldCallThatFailsReportsTheProvidersMessage) {
  ASSERT_EQ(S_OK, exec(u"INSERT INTO files (content) VALUES (x'41')"));
  ComPtr<IDispatch> content_field = field(u"SELECT content FROM files");
  ASSERT_TRUE(content_field);
  ASSERT_EQ(S_OK, Call(rows_.Get(), u"Close", DISPATCH_METHOD, {}, nullptr));
  EXPECT_TRUE(FAILED(down(u"DownFromDb", content_field.Get())));
  EXPECT_NE(u"", TakeErrorDescription());
  EXPECT_TRUE(calls().empty());
}

TEST_F(DownFromDb, BytesThatAreNotACompressedStreamAreRefused) {
  save("stored as it came", u"SaveDb");
  ComPtr<IDispatch> content_field = field(u"SELECT content FROM files");
  ASSERT_TRUE(content_field);
  EXPECT_EQ(E_FAIL, down(u"DownFromUnzipDb", content_field.Get()));
  EXPECT_EQ(kUncompressFailed, TakeErrorDescription());
  EXPECT_TRUE(calls().empty());
}

TEST_F(DownFromDb, WithoutABoundPageNothingIsRead) {
  ASSERT_EQ(S_OK, exec(u"INSERT INTO files (content) VALUES (x'41')"));
  ComPtr<IDispatch> real = field(u"SELECT content FROM files");
  ASSERT_TRUE(real);
  StandInField unsized(real.Get());
  ASSERT_EQ(S_OK, Call(download_.Get(), u"OnEndPage", DISPATCH_METHOD, {}, nullptr));
  EXPECT_EQ(E_UNEXPECTED, down(u"DownFromDb", &unsized));
  EXPECT_TRUE(unsized.chunks.empty());
  EXPECT_TRUE(calls().empty());
}

}  // namespace
