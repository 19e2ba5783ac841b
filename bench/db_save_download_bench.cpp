// Saving an uploaded 64 MiB attachment into SQLite and sending it back, the way a page does it:
// the attachment's SaveDb through a database connection, and the download object's DownFromDb
// of the field of a recordset, all driven by name with a fake page. The references, in the same
// run, are SQLite's own calls on the same bytes in the same kind of table and file, opened as
// the database module opens its files (no pragmas, so the same journal and sync settings; the
// run checks that they match): a bound blob inserted, and a blob selected and copied out, into
// a kept block and into a new one, with sqlite3_blob_read as the lower bound of a read. The
// compressed save and the decompressed send are measured on text, without a reference. The same
// save and send go to a PostgreSQL server too (the one bench/db_save_download.sh starts), against
// libpq's own insert of the bytes as a binary bytea parameter and its own select of them in
// binary format, copied out. Every benchmark checks what it stored or sent and fails loudly when
// the bytes are wrong.
#include <benchmark/benchmark.h>
#include <libpq-fe.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <string.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "bench_content.h"
#include "com_ptr.h"
#include "fake_page.h"
#include "late_bound.h"
#include "pg_test_database.h"
#include "platform_config.h"
#include "scoped_variant.h"
#include "windows.h"

namespace {

using late_bound::Call;
using late_bound::Get;
using late_bound::I4;
using late_bound::Str;
using late_bound::Unknown;

constexpr size_t kSize = 64u << 20;
constexpr int kBusyTimeoutMs = 30000;  // what the database module gives its connections
const char kBoundary[] = "----DbSaveDownloadBenchmark7";
const char16_t kInsert[] = u"INSERT INTO files (content) VALUES (?)";
const char kCreate[] =
    "DROP TABLE IF EXISTS files; CREATE TABLE files (id INTEGER PRIMARY KEY, content BLOB)";
// Every PostgreSQL benchmark has a fresh schema of its own.
const char kCreatePg[] = "CREATE TABLE files (id SERIAL PRIMARY KEY, content BYTEA)";

std::string g_dir;

enum Content { kRandom = 0, kText = 1 };

const std::string& content(int which) {
  static const std::string random = bench_content::random_bytes(kSize);
  static const std::string text = bench_content::text_bytes(kSize);
  return which == kRandom ? random : text;
}

const char* label(int which) {
  return which == kRandom ? "random" : "text";
}

std::u16string wide(const std::string& ascii) {
  return std::u16string(ascii.begin(), ascii.end());
}

ComPtr<IDispatch> create_object(const char16_t* progid) {
  ComPtr<IDispatch> out;
  CLSID clsid{};
  if (SUCCEEDED(CLSIDFromProgID(progid, &clsid)))
    CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                     reinterpret_cast<void**>(out.Receive()));
  return out;
}

ComPtr<IDispatch> dispatch_of(const ScopedVariant& v) {
  ComPtr<IDispatch> out;
  if (v.Type() == VT_DISPATCH)
    out.Set(v.Get().pdispVal);
  return out;
}

// A schema of the PostgreSQL server, by libpq's connection string; empty when there is none.
struct PostgresSchema {
  std::string conninfo;
};

// An open database connection on a file of the run's directory, or on a schema of the
// PostgreSQL server, driven as a script does.
class Database {
 public:
  explicit Database(const std::string& file) : path_(g_dir + "/" + file) {
    std::u16string text = u"Provider=SQLite;Data Source=";
    for (char c : path_)
      text += c == '/' ? u'\\' : static_cast<char16_t>(c);
    Open(text, kCreate);
  }
  explicit Database(const PostgresSchema& schema) {
    if (!schema.conninfo.empty())
      Open(u"Provider=PostgreSQL;" + wide(schema.conninfo), kCreatePg);
  }
  ~Database() {
    if (connection_)
      Call(connection_.Get(), u"Close", DISPATCH_METHOD, {}, nullptr);
  }
  void Open(const std::u16string& text, const char* create) {
    connection_ = create_object(u"ADODB.Connection");
    if (!connection_ ||
        Call(connection_.Get(), u"Open", DISPATCH_METHOD, {Str(text.c_str())}, nullptr) != S_OK ||
        Execute(wide(create).c_str()) != S_OK)
      connection_.Reset();
  }
  bool ok() const { return connection_.Get() != nullptr; }
  IDispatch* connection() const { return connection_.Get(); }
  const std::string& path() const { return path_; }

  HRESULT Execute(const char16_t* sql, ScopedVariant* rows = nullptr) {
    ScopedVariant none;
    return Call(connection_.Get(), u"Execute", DISPATCH_METHOD, {Str(sql)},
                (rows ? rows : &none)->Receive());
  }

  // The first column of the first row of sql, as text; "<failed>" when it cannot be read.
  std::string Value(const char16_t* sql) {
    ScopedVariant rows;
    ScopedVariant fields;
    ScopedVariant field;
    ScopedVariant value;
    if (FAILED(Execute(sql, &rows)) || rows.Type() != VT_DISPATCH ||
        FAILED(Get(rows.Get().pdispVal, u"Fields", {}, fields.Receive())) ||
        fields.Type() != VT_DISPATCH ||
        FAILED(Get(fields.Get().pdispVal, u"Item", {I4(0)}, field.Receive())) ||
        field.Type() != VT_DISPATCH ||
        FAILED(Get(field.Get().pdispVal, u"Value", {}, value.Receive())) ||
        FAILED(VariantChangeType(value.AsInput(), value.AsInput(), 0, VT_BSTR)))
      return "<failed>";
    const BSTR text = value.Get().bstrVal;
    return std::string(text, text + SysStringLen(text));
  }

 private:
  std::string path_;
  ComPtr<IDispatch> connection_;
};

// An upload whose one attachment holds content.
class Upload {
 public:
  explicit Upload(const std::string& content) {
    const std::string body = std::string("--") + kBoundary +
                             "\r\nContent-Disposition: form-data; name=\"f\"; "
                             "filename=\"a.bin\"\r\n\r\n" +
                             content + "\r\n--" + kBoundary + "--\r\n";
    page_ = fake_page::MakeContext(u"multipart/form-data; boundary=" + wide(kBoundary), body);
    upload_ = create_object(u"Vantrel.FileUpload");
    ScopedVariant list;
    ScopedVariant item;
    if (upload_ &&
        Call(upload_.Get(), u"OnStartPage", DISPATCH_METHOD, {Unknown(page_)}, nullptr) == S_OK &&
        Get(upload_.Get(), u"Attachments", {}, list.Receive()) == S_OK &&
        list.Type() == VT_DISPATCH &&
        Get(list.Get().pdispVal, u"Item", {I4(1)}, item.Receive()) == S_OK)
      file_ = dispatch_of(item);
  }
  ~Upload() {
    file_.Reset();
    upload_.Reset();
    page_->Release();
  }
  IDispatch* file() const { return file_.Get(); }

 private:
  fake_page::Context* page_ = nullptr;
  ComPtr<IDispatch> upload_;
  ComPtr<IDispatch> file_;
};

// A download object on a page whose response keeps only the calls, unless asked to keep the
// bytes too.
class Downloader {
 public:
  Downloader() {
    page_ = fake_page::MakeContext(u"", "");
    page_->response->keep_binary = false;
    download_ = create_object(u"Vantrel.FileDownload");
    if (download_ &&
        Call(download_.Get(), u"OnStartPage", DISPATCH_METHOD, {Unknown(page_)}, nullptr) != S_OK)
      download_.Reset();
  }
  ~Downloader() {
    download_.Reset();
    page_->Release();
  }
  fake_page::Response& response() { return *page_->response; }

  // Selects the stored row on db and sends its content with method; true when the response
  // got count bytes (in one write or, decompressed, in pieces) and their length.
  bool Send(Database& db, const char16_t* method, size_t count) {
    response().calls.clear();
    response().binary.clear();
    ScopedVariant rows;
    ScopedVariant fields;
    ScopedVariant field;
    if (!download_ || db.Execute(u"SELECT content FROM files", &rows) != S_OK ||
        rows.Type() != VT_DISPATCH ||
        Get(rows.Get().pdispVal, u"Fields", {}, fields.Receive()) != S_OK ||
        fields.Type() != VT_DISPATCH ||
        Get(fields.Get().pdispVal, u"Item", {I4(0)}, field.Receive()) != S_OK ||
        field.Type() != VT_DISPATCH)
      return false;
    if (Call(download_.Get(), method, DISPATCH_METHOD,
             {Unknown(field.Get().pdispVal), Str(u"a.bin")}, nullptr) != S_OK)
      return false;
    const std::u16string write = u"BinaryWrite=" + wide(std::to_string(VT_ARRAY | VT_UI1)) + u" 0 ";
    size_t written = 0;
    for (const std::u16string& call : response().calls)
      if (call.starts_with(write))
        written += std::stoull(std::string(call.begin() + write.size(), call.end()));
    return written == count && !response().calls.empty() &&
           response().calls.back() == u"AddHeader(Content-Length)=" + wide(std::to_string(count));
  }

 private:
  fake_page::Context* page_ = nullptr;
  ComPtr<IDispatch> download_;
};

// A connection of SQLite's own, opened as the database module opens its files.
sqlite3* open_sqlite(const std::string& path) {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
      SQLITE_OK) {
    sqlite3_close_v2(db);
    return nullptr;
  }
  sqlite3_busy_timeout(db, kBusyTimeoutMs);
  return db;
}

std::string sqlite_value(sqlite3* db, const char* sql) {
  sqlite3_stmt* stmt = nullptr;
  std::string out = "<failed>";
  if (sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) == SQLITE_OK &&
      sqlite3_step(stmt) == SQLITE_ROW)
    out = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
  sqlite3_finalize(stmt);
  return out;
}

bool sqlite_insert(sqlite3* db, const std::string& bytes) {
  sqlite3_stmt* stmt = nullptr;
  const bool ok =
      sqlite3_prepare_v2(db, "INSERT INTO files (content) VALUES (?)", -1, &stmt, nullptr) ==
          SQLITE_OK &&
      sqlite3_bind_blob64(stmt, 1, bytes.data(), bytes.size(), SQLITE_STATIC) == SQLITE_OK &&
      sqlite3_step(stmt) == SQLITE_DONE;
  sqlite3_finalize(stmt);
  return ok;
}

// True when the one row of files at path holds exactly bytes; read by a connection of its own.
bool stored_equals(const std::string& path, const std::string& bytes) {
  sqlite3* db = open_sqlite(path);
  sqlite3_stmt* stmt = nullptr;
  bool ok =
      db && sqlite3_prepare_v2(db, "SELECT content FROM files", -1, &stmt, nullptr) == SQLITE_OK;
  ok = ok && sqlite3_step(stmt) == SQLITE_ROW &&
       static_cast<size_t>(sqlite3_column_bytes(stmt, 0)) == bytes.size() &&
       memcmp(sqlite3_column_blob(stmt, 0), bytes.data(), bytes.size()) == 0 &&
       sqlite3_step(stmt) == SQLITE_DONE;
  sqlite3_finalize(stmt);
  sqlite3_close_v2(db);
  return ok;
}

// A fresh schema of the PostgreSQL server, as libpq's connection string; "" (with the reason on
// standard error) when there is none.
std::string pg_schema() {
  std::string error;
  const std::string conninfo = pg_test::NewSchema(&error);
  if (conninfo.empty())
    fprintf(stderr, "%s\n", error.c_str());
  return conninfo;
}

// libpq's own connection; null when it cannot be opened.
PGconn* open_pg(const std::string& conninfo) {
  PGconn* db = PQconnectdb(conninfo.c_str());
  if (PQstatus(db) != CONNECTION_OK) {
    PQfinish(db);
    return nullptr;
  }
  return db;
}

bool pg_command(PGconn* db, const char* sql) {
  PGresult* result = PQexec(db, sql);
  const bool ok = PQresultStatus(result) == PGRES_COMMAND_OK;
  PQclear(result);
  return ok;
}

// The bytes inserted as one bytea parameter in binary format, as the module sends a byte array.
bool pg_insert(PGconn* db, const std::string& bytes) {
  const Oid bytea = 17;
  const char* value = bytes.data();
  const int length = static_cast<int>(bytes.size());
  const int binary = 1;
  PGresult* result = PQexecParams(db, "INSERT INTO files (content) VALUES ($1)", 1, &bytea, &value,
                                  &length, &binary, binary);
  const bool ok = PQresultStatus(result) == PGRES_COMMAND_OK;
  PQclear(result);
  return ok;
}

// The one row's content selected in binary format and copied to `to`, as a program must that
// hands a response a buffer of its own (the result's value is gone when it is cleared); false
// when there is no such row or it has another size.
bool pg_read(PGconn* db, char* to) {
  PGresult* result =
      PQexecParams(db, "SELECT content FROM files", 0, nullptr, nullptr, nullptr, nullptr, 1);
  const bool ok = PQresultStatus(result) == PGRES_TUPLES_OK && PQntuples(result) == 1 &&
                  static_cast<size_t>(PQgetlength(result, 0, 0)) == kSize;
  if (ok)
    memcpy(to, PQgetvalue(result, 0, 0), kSize);
  PQclear(result);
  return ok;
}

// True when the one row of files in the schema holds exactly bytes; read by a connection of its
// own.
bool pg_stored_equals(const std::string& conninfo, const std::string& bytes) {
  PGconn* db = open_pg(conninfo);
  std::unique_ptr<char[]> read(new char[kSize]);
  const bool ok = db && bytes.size() == kSize && pg_read(db, read.get()) &&
                  memcmp(read.get(), bytes.data(), kSize) == 0;
  PQfinish(db);
  return ok;
}

void finish(benchmark::State& state, int which) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kSize));
  state.SetLabel(label(which));
}

// SQLite's own insert of the bytes, bound in place as the module binds a byte array.
void BM_SqliteWrite(benchmark::State& state) {
  const int which = static_cast<int>(state.range(0));
  const std::string& bytes = content(which);
  const std::string path = g_dir + "/sqlite_write.db";
  sqlite3* db = open_sqlite(path);
  if (!db || sqlite3_exec(db, kCreate, nullptr, nullptr, nullptr) != SQLITE_OK) {
    state.SkipWithError("cannot create the table");
    sqlite3_close_v2(db);
    return;
  }
  for (auto _ : state) {
    state.PauseTiming();
    sqlite3_exec(db, "DELETE FROM files", nullptr, nullptr, nullptr);
    state.ResumeTiming();
    if (!sqlite_insert(db, bytes)) {
      state.SkipWithError(sqlite3_errmsg(db));
      break;
    }
  }
  sqlite3_close_v2(db);
  if (!state.error_occurred() && !stored_equals(path, bytes))
    state.SkipWithError("the stored blob differs from the source");
  finish(state, which);
}

// libpq's own insert of the bytes into the same kind of table on the same server.
void BM_PgWrite(benchmark::State& state) {
  const int which = static_cast<int>(state.range(0));
  const std::string& bytes = content(which);
  const std::string conninfo = pg_schema();
  PGconn* db = conninfo.empty() ? nullptr : open_pg(conninfo);
  if (!db || !pg_command(db, kCreatePg)) {
    state.SkipWithError("cannot reach the PostgreSQL server or create the table");
    PQfinish(db);
    return;
  }
  for (auto _ : state) {
    state.PauseTiming();
    pg_command(db, "DELETE FROM files");
    state.ResumeTiming();
    if (!pg_insert(db, bytes)) {
      state.SkipWithError(PQerrorMessage(db));
      break;
    }
  }
  PQfinish(db);
  if (!state.error_occurred() && !pg_stored_equals(conninfo, bytes))
    state.SkipWithError("the stored bytea differs from the source");
  finish(state, which);
}

// SaveDb of random bytes or SaveDbByZip of text from an uploaded attachment, the command's one
// row replacing the last; on SQLite, or on PostgreSQL.
void BM_SaveDb(benchmark::State& state, const char16_t* method, bool postgres) {
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  const int which = static_cast<int>(state.range(0));
  const bool zip = std::u16string_view(method) == u"SaveDbByZip";
  {
    const std::string conninfo = postgres ? pg_schema() : "";
    Database db =
        postgres ? Database(PostgresSchema{conninfo}) : Database(zip ? "save_zip.db" : "save.db");
    Upload upload(content(which));
    if (!db.ok() || !upload.file())
      state.SkipWithError("cannot open the database or upload the file");
    for (auto _ : state) {
      state.PauseTiming();
      db.Execute(u"DELETE FROM files");
      state.ResumeTiming();
      if (Call(upload.file(), method, DISPATCH_METHOD, {Unknown(db.connection()), Str(kInsert)},
               nullptr) != S_OK) {
        state.SkipWithError("the save failed");
        break;
      }
    }
    if (!state.error_occurred()) {
      ScopedVariant zip_size;
      Get(upload.file(), u"ZipSize", {}, zip_size.Receive());
      const std::string expected =
          zip ? std::to_string(zip_size.Type() == VT_I4 ? zip_size.Get().lVal : -1)
              : std::to_string(kSize);
      if (db.Value(u"SELECT count(*) FROM files") != "1" ||
          db.Value(u"SELECT length(content) FROM files") != expected)
        state.SkipWithError("the stored blob has the wrong size");
      else if (!zip && !(postgres ? pg_stored_equals(conninfo, content(which))
                                  : stored_equals(db.path(), content(which))))
        state.SkipWithError("the stored blob differs from the source");
      else if (zip)
        state.counters["compressed"] = zip_size.Get().lVal;
    }
  }
  CoUninitialize();
  finish(state, which);
}

// Where a reference reader puts the bytes: a new block each time, paying a page fault for every
// 4 KiB as a fresh allocation does, or one block kept and touched beforehand. The objects'
// large arrays come from task memory, which keeps freed large blocks for reuse, so the kept
// block is the like-for-like reference and the new one shows what the reuse is worth.
enum Buffer { kNewBlock, kKeptBlock };

class ReadBuffer {
 public:
  explicit ReadBuffer(Buffer kind) : kind_(kind) {
    if (kind_ == kKeptBlock) {
      block_.reset(new char[kSize]);
      memset(block_.get(), 0, kSize);
    }
  }
  // The block for the next read.
  char* Next() {
    if (kind_ == kNewBlock)
      block_.reset(new char[kSize]);
    return block_.get();
  }
  const char* last() const { return block_.get(); }

 private:
  Buffer kind_;
  std::unique_ptr<char[]> block_;
};

// SQLite's own read of the blob by the same query: step, sqlite3_column_blob and a copy of the
// bytes out, as a program must that hands a response a buffer of its own (the statement's value
// is gone at finalize). This is what DownFromDb does, and the reference for it.
void BM_SqliteRead(benchmark::State& state, Buffer buffer) {
  const int which = static_cast<int>(state.range(0));
  const std::string& bytes = content(which);
  sqlite3* db = open_sqlite(g_dir + "/sqlite_read.db");
  if (!db || sqlite3_exec(db, kCreate, nullptr, nullptr, nullptr) != SQLITE_OK ||
      !sqlite_insert(db, bytes)) {
    state.SkipWithError("cannot fill the table");
    sqlite3_close_v2(db);
    return;
  }
  ReadBuffer out(buffer);
  for (auto _ : state) {
    char* to = out.Next();
    sqlite3_stmt* stmt = nullptr;
    const bool ok =
        sqlite3_prepare_v2(db, "SELECT content FROM files", -1, &stmt, nullptr) == SQLITE_OK &&
        sqlite3_step(stmt) == SQLITE_ROW;
    const void* data = ok ? sqlite3_column_blob(stmt, 0) : nullptr;
    const bool sized = ok && static_cast<size_t>(sqlite3_column_bytes(stmt, 0)) == kSize;
    if (sized)
      memcpy(to, data, kSize);
    sqlite3_finalize(stmt);
    if (!sized) {
      state.SkipWithError("the blob has the wrong size");
      break;
    }
    benchmark::DoNotOptimize(to);
  }
  sqlite3_close_v2(db);
  if (!state.error_occurred() && memcmp(out.last(), bytes.data(), kSize) != 0)
    state.SkipWithError("the bytes read differ from the source");
  finish(state, which);
}

// The least a reader can do: sqlite3_blob_read copies the bytes from the pages straight into
// its buffer, without the statement's own copy of the value. A lower bound, not the reference:
// a page selects its row by a query and the objects read the value of a recordset's field.
void BM_SqliteBlobRead(benchmark::State& state, Buffer buffer) {
  const int which = static_cast<int>(state.range(0));
  const std::string& bytes = content(which);
  sqlite3* db = open_sqlite(g_dir + "/sqlite_blob_read.db");
  if (!db || sqlite3_exec(db, kCreate, nullptr, nullptr, nullptr) != SQLITE_OK ||
      !sqlite_insert(db, bytes)) {
    state.SkipWithError("cannot fill the table");
    sqlite3_close_v2(db);
    return;
  }
  const sqlite3_int64 row = sqlite3_last_insert_rowid(db);
  ReadBuffer out(buffer);
  for (auto _ : state) {
    char* to = out.Next();
    sqlite3_blob* blob = nullptr;
    const bool ok = sqlite3_blob_open(db, "main", "files", "content", row, 0, &blob) == SQLITE_OK &&
                    static_cast<size_t>(sqlite3_blob_bytes(blob)) == kSize &&
                    sqlite3_blob_read(blob, to, static_cast<int>(kSize), 0) == SQLITE_OK;
    sqlite3_blob_close(blob);
    if (!ok) {
      state.SkipWithError("the blob cannot be read");
      break;
    }
    benchmark::DoNotOptimize(to);
  }
  sqlite3_close_v2(db);
  if (!state.error_occurred() && memcmp(out.last(), bytes.data(), kSize) != 0)
    state.SkipWithError("the bytes read differ from the source");
  finish(state, which);
}

std::string joined(const std::vector<std::string>& pieces) {
  std::string out;
  for (const std::string& piece : pieces)
    out += piece;
  return out;
}

// libpq's own select of the bytes from the same kind of table on the same server, copied out.
void BM_PgRead(benchmark::State& state) {
  const int which = static_cast<int>(state.range(0));
  const std::string& bytes = content(which);
  const std::string conninfo = pg_schema();
  PGconn* db = conninfo.empty() ? nullptr : open_pg(conninfo);
  if (!db || !pg_command(db, kCreatePg) || !pg_insert(db, bytes)) {
    state.SkipWithError("cannot reach the PostgreSQL server or fill the table");
    PQfinish(db);
    return;
  }
  ReadBuffer out(kKeptBlock);
  for (auto _ : state) {
    char* to = out.Next();
    if (!pg_read(db, to)) {
      state.SkipWithError("the bytea cannot be read");
      break;
    }
    benchmark::DoNotOptimize(to);
  }
  PQfinish(db);
  if (!state.error_occurred() && memcmp(out.last(), bytes.data(), kSize) != 0)
    state.SkipWithError("the bytes read differ from the source");
  finish(state, which);
}

// DownFromDb of a row saved by SaveDb, or DownFromUnzipDb of one saved by SaveDbByZip: the
// query, the recordset's field and the send into the response; on SQLite, or on PostgreSQL.
// The bytes sent are compared with the source once before the timed runs, as keeping them costs
// a copy of its own.
void BM_DownFromDb(benchmark::State& state, const char16_t* method, bool postgres) {
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  const int which = static_cast<int>(state.range(0));
  const bool unzip = std::u16string_view(method) == u"DownFromUnzipDb";
  {
    Database db = postgres ? Database(PostgresSchema{pg_schema()})
                           : Database(unzip ? "down_zip.db" : "down.db");
    Downloader downloader;
    bool ready = false;
    if (db.ok()) {
      Upload upload(content(which));
      ready =
          upload.file() && Call(upload.file(), unzip ? u"SaveDbByZip" : u"SaveDb", DISPATCH_METHOD,
                                {Unknown(db.connection()), Str(kInsert)}, nullptr) == S_OK;
    }
    downloader.response().keep_binary = true;
    if (!ready || !downloader.Send(db, method, kSize)) {
      state.SkipWithError("cannot save the file or send it");
    } else if (joined(downloader.response().binary) != content(which)) {
      state.SkipWithError("the bytes sent differ from the source");
    } else {
      downloader.response().keep_binary = false;
      downloader.response().binary.clear();
      for (auto _ : state) {
        if (!downloader.Send(db, method, kSize)) {
          state.SkipWithError("the send failed");
          break;
        }
      }
    }
  }
  CoUninitialize();
  finish(state, which);
}

BENCHMARK(BM_SqliteWrite)->Arg(kRandom)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_SaveDb, SaveDb, u"SaveDb", false)
    ->Arg(kRandom)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_SaveDb, SaveDbByZip, u"SaveDbByZip", false)
    ->Arg(kText)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_SqliteRead, KeptBlock, kKeptBlock)
    ->Arg(kRandom)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_SqliteRead, NewBlock, kNewBlock)
    ->Arg(kRandom)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_SqliteBlobRead, KeptBlock, kKeptBlock)
    ->Arg(kRandom)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_DownFromDb, DownFromDb, u"DownFromDb", false)
    ->Arg(kRandom)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_DownFromDb, DownFromUnzipDb, u"DownFromUnzipDb", false)
    ->Arg(kText)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_PgWrite)->Arg(kRandom)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_SaveDb, PostgreSQL, u"SaveDb", true)
    ->Arg(kRandom)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_PgRead)->Arg(kRandom)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_DownFromDb, PostgreSQL, u"DownFromDb", true)
    ->Arg(kRandom)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The journal mode and sync level of a file opened by the module and of one opened by the
// reference connection, as "journal_mode/synchronous"; the run stops when they differ.
bool same_settings(std::string* settings) {
  const char* const pragmas[] = {"PRAGMA journal_mode", "PRAGMA synchronous"};
  std::string module_settings;
  std::string own_settings;
  {
    Database db("settings_module.db");
    for (const char* pragma : pragmas)
      module_settings += (module_settings.empty() ? "" : "/") + db.Value(wide(pragma).c_str());
  }
  sqlite3* db = open_sqlite(g_dir + "/settings_own.db");
  for (const char* pragma : pragmas)
    own_settings += (own_settings.empty() ? "" : "/") + sqlite_value(db, pragma);
  sqlite3_close_v2(db);
  *settings = module_settings;
  if (module_settings != own_settings)
    fprintf(stderr, "journal/sync settings differ: module %s, SQLite %s\n", module_settings.c_str(),
            own_settings.c_str());
  return module_settings == own_settings && module_settings.find("<failed>") == std::string::npos;
}

}  // namespace

int main(int argc, char** argv) {
  char dir[] = "/tmp/dbbenchXXXXXX";
  if (!mkdtemp(dir))
    return 1;
  g_dir = dir;
  const std::string registry = g_dir + "/registry.reg";
  for (const char* module : {VTRLSRV_PATH, ADO_MODULE}) {
    const std::string command =
        "PLATFORM_REGISTRY='" + registry + "' '" + REGSVR_PATH + "' -s '" + module + "'";
    if (std::system(command.c_str()) != 0)
      return 1;
  }
  PlatformSetRegistryPath(registry.c_str());
  benchmark::Initialize(&argc, argv);
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  std::string settings;
  const bool same = same_settings(&settings);
  CoUninitialize();
  int status = 1;
  if (same) {
    benchmark::AddCustomContext("journal_mode/synchronous", settings);
    benchmark::RunSpecifiedBenchmarks();
    status = 0;
  }
  benchmark::Shutdown();
  CoFreeUnusedLibraries();
  std::system(("rm -rf '" + g_dir + "'").c_str());
  return status;
}
