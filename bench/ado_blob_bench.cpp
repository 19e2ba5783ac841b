// Writing and reading one 64 MiB blob through the database access objects (the calls a
// component makes: a Command with one long binary parameter given by AppendChunk; a field read
// by ActualSize and one GetChunk), against SQLite's own sqlite3_bind_blob and
// sqlite3_column_blob of the same bytes in the same run. Prints each time as a ratio to its
// reference.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "adoint.h"
#include "com_ptr.h"
#include "objbase.h"
#include "platform_config.h"
#include "scoped_bstr.h"
#include "scoped_variant.h"

namespace {

constexpr size_t kBlobBytes = 64u << 20;

std::string g_dir;

std::vector<BYTE>& blob() {
  static std::vector<BYTE> bytes = [] {
    std::vector<BYTE> b(kBlobBytes);
    for (size_t i = 0; i < b.size(); ++i)
      b[i] = static_cast<BYTE>(i * 2654435761u >> 24);
    return b;
  }();
  return bytes;
}

// The byte array a component hands to AppendChunk.
ScopedVariant blob_variant() {
  ScopedVariant v;
  VARIANT raw;
  VariantInit(&raw);
  raw.vt = VT_ARRAY | VT_UI1;
  raw.parray = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(kBlobBytes));
  void* data = nullptr;
  SafeArrayAccessData(raw.parray, &data);
  std::memcpy(data, blob().data(), kBlobBytes);
  SafeArrayUnaccessData(raw.parray);
  v.Reset(raw);
  return v;
}

void check(bool ok, const char* what, benchmark::State& state) {
  if (!ok)
    state.SkipWithError(what);
}

ComPtr<_Connection> open_ado(const std::string& file) {
  ComPtr<_Connection> connection;
  CoCreateInstance(CLSID_Connection, nullptr, CLSCTX_ALL, IID__Connection,
                   reinterpret_cast<void**>(connection.Receive()));
  std::string text = "Provider=SQLite;Data Source=" + g_dir + "/" + file;
  ScopedBstr bstr;
  if (!connection || !bstr.AllocateLen(nullptr, static_cast<UINT>(text.size())))
    return {};
  for (size_t i = 0; i < text.size(); ++i)
    bstr.Get()[i] = static_cast<OLECHAR>(text[i] == '/' ? '\\' : text[i]);
  if (FAILED(connection->Open(bstr.Get(), nullptr, nullptr, adConnectUnspecified)))
    return {};
  return connection;
}

HRESULT ado_run(_Connection* connection, const char16_t* sql) {
  ScopedBstr text;
  if (!text.Allocate(sql))
    return E_OUTOFMEMORY;
  ComPtr<_Recordset> none;
  return connection->Execute(text.Get(), nullptr, static_cast<LONG>(adCmdText) | adExecuteNoRecords,
                             none.Receive());
}

sqlite3* open_sqlite(const std::string& file) {
  sqlite3* db = nullptr;
  sqlite3_open_v2((g_dir + "/" + file).c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                  nullptr);
  return db;
}

void BM_AdoWrite(benchmark::State& state) {
  ComPtr<_Connection> connection = open_ado("ado_write.db");
  check(connection && SUCCEEDED(ado_run(connection.Get(),
                                        u"CREATE TABLE IF NOT EXISTS files (content BLOB)")),
        "open", state);
  const ScopedVariant bytes = blob_variant();
  ScopedBstr text;
  ScopedBstr name;
  check(text.Allocate(u"INSERT INTO files (content) VALUES (?)") && name.Allocate(u"Param1"),
        "memory", state);
  VARIANT missing;
  VariantInit(&missing);
  missing.vt = VT_ERROR;
  missing.scode = DISP_E_PARAMNOTFOUND;
  for (auto _ : state) {
    ComPtr<Command25> command;
    ComPtr<_Parameter> parameter;
    ComPtr<Parameters> parameters;
    ComPtr<_Recordset> recordset;
    const bool ok = SUCCEEDED(CoCreateInstance(CLSID_Command, nullptr, CLSCTX_ALL, IID_Command25,
                                               reinterpret_cast<void**>(command.Receive()))) &&
                    SUCCEEDED(command->putref_ActiveConnection(connection.Get())) &&
                    SUCCEEDED(command->put_CommandType(adCmdText)) &&
                    SUCCEEDED(command->put_CommandText(text.Get())) &&
                    SUCCEEDED(command->CreateParameter(name.Get(), adLongVarBinary, adParamInput,
                                                       kBlobBytes, missing, parameter.Receive())) &&
                    SUCCEEDED(parameter->AppendChunk(bytes.Get())) &&
                    SUCCEEDED(command->get_Parameters(parameters.Receive())) &&
                    SUCCEEDED(parameters->Append(parameter.Get())) &&
                    SUCCEEDED(command->Execute(nullptr, nullptr, adCmdText, recordset.Receive()));
    check(ok, "save", state);
    state.PauseTiming();
    ado_run(connection.Get(), u"DELETE FROM files");
    state.ResumeTiming();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBlobBytes));
}

void BM_SqliteWrite(benchmark::State& state) {
  sqlite3* db = open_sqlite("sqlite_write.db");
  check(sqlite3_exec(db, "CREATE TABLE IF NOT EXISTS files (content BLOB)", nullptr, nullptr,
                     nullptr) == SQLITE_OK,
        "open", state);
  for (auto _ : state) {
    sqlite3_stmt* stmt = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO files (content) VALUES (?)", -1, &stmt, nullptr);
    sqlite3_bind_blob64(stmt, 1, blob().data(), kBlobBytes, SQLITE_STATIC);
    check(sqlite3_step(stmt) == SQLITE_DONE, "insert", state);
    sqlite3_finalize(stmt);
    state.PauseTiming();
    sqlite3_exec(db, "DELETE FROM files", nullptr, nullptr, nullptr);
    state.ResumeTiming();
  }
  sqlite3_close_v2(db);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBlobBytes));
}

void BM_AdoRead(benchmark::State& state) {
  ComPtr<_Connection> connection = open_ado("ado_read.db");
  check(connection && SUCCEEDED(ado_run(connection.Get(),
                                        u"DROP TABLE IF EXISTS files; "
                                        u"CREATE TABLE files (content BLOB)")),
        "open", state);
  {
    sqlite3* db = open_sqlite("ado_read.db");
    sqlite3_stmt* stmt = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO files (content) VALUES (?)", -1, &stmt, nullptr);
    sqlite3_bind_blob64(stmt, 1, blob().data(), kBlobBytes, SQLITE_STATIC);
    check(sqlite3_step(stmt) == SQLITE_DONE, "fill", state);
    sqlite3_finalize(stmt);
    sqlite3_close_v2(db);
  }
  ScopedBstr sql;
  check(sql.Allocate(u"SELECT content FROM files"), "memory", state);
  VARIANT zero;
  VariantInit(&zero);
  zero.vt = VT_I4;
  for (auto _ : state) {
    ComPtr<_Recordset> rows;
    ComPtr<Fields> fields;
    ComPtr<Field> field;
    LONG attributes = 0;
    LONGLONG size = 0;
    DataTypeEnum type = adEmpty;
    ScopedVariant chunk;
    const bool ok = SUCCEEDED(connection->Execute(sql.Get(), nullptr, adCmdText, rows.Receive())) &&
                    SUCCEEDED(rows->get_Fields(fields.Receive())) &&
                    SUCCEEDED(fields->get_Item(zero, field.Receive())) &&
                    SUCCEEDED(field->get_Attributes(&attributes)) &&
                    SUCCEEDED(field->get_ActualSize(&size)) && SUCCEEDED(field->get_Type(&type)) &&
                    SUCCEEDED(field->GetChunk(static_cast<LONG>(size), chunk.Receive()));
    check(ok && size == static_cast<LONGLONG>(kBlobBytes), "read", state);
    benchmark::DoNotOptimize(chunk.Get().parray);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBlobBytes));
}

// The reference reader copies the bytes out into memory of its own, as every reader that keeps
// them must (the objects hand out a new array each time).
void BM_SqliteRead(benchmark::State& state) {
  sqlite3* db = open_sqlite("sqlite_read.db");
  sqlite3_exec(db, "DROP TABLE IF EXISTS files; CREATE TABLE files (content BLOB)", nullptr,
               nullptr, nullptr);
  sqlite3_stmt* insert = nullptr;
  sqlite3_prepare_v2(db, "INSERT INTO files (content) VALUES (?)", -1, &insert, nullptr);
  sqlite3_bind_blob64(insert, 1, blob().data(), kBlobBytes, SQLITE_STATIC);
  check(sqlite3_step(insert) == SQLITE_DONE, "fill", state);
  sqlite3_finalize(insert);
  for (auto _ : state) {
    std::unique_ptr<BYTE[]> out(new BYTE[kBlobBytes]);
    sqlite3_stmt* stmt = nullptr;
    sqlite3_prepare_v2(db, "SELECT content FROM files", -1, &stmt, nullptr);
    check(sqlite3_step(stmt) == SQLITE_ROW, "select", state);
    const void* data = sqlite3_column_blob(stmt, 0);
    const int size = sqlite3_column_bytes(stmt, 0);
    check(size == static_cast<int>(kBlobBytes), "size", state);
    std::memcpy(out.get(), data, static_cast<size_t>(size));
    benchmark::DoNotOptimize(out.get());
    sqlite3_finalize(stmt);
  }
  sqlite3_close_v2(db);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBlobBytes));
}

BENCHMARK(BM_SqliteWrite)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_AdoWrite)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SqliteRead)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_AdoRead)->Unit(benchmark::kMillisecond)->UseRealTime();

// Prints every run as usual, then each database-object time as a ratio to its reference: the
// medians when runs are repeated, the mean of the runs otherwise.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.error_occurred)
        continue;
      const std::string name = run.run_name.str();
      if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median") {
        medians_[name] = run.GetAdjustedRealTime();
      } else if (run.run_type == Run::RT_Iteration) {
        sums_[name] += run.GetAdjustedRealTime();
        ++counts_[name];
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    ratio("write", "BM_AdoWrite/real_time", "BM_SqliteWrite/real_time");
    ratio("read", "BM_AdoRead/real_time", "BM_SqliteRead/real_time");
  }

 private:
  double time_of(const std::string& name) {
    if (medians_.count(name))
      return medians_[name];
    return counts_[name] ? sums_[name] / counts_[name] : 0;
  }
  void ratio(const char* what, const std::string& measured, const std::string& reference) {
    const double m = time_of(measured);
    const double r = time_of(reference);
    if (m > 0 && r > 0)
      std::printf(
          "64 MiB %s through the database objects: %.2f x SQLite's own (%.0f ms / %.0f ms)\n", what,
          m / r, m, r);
  }
  std::map<std::string, double> medians_;
  std::map<std::string, double> sums_;
  std::map<std::string, int> counts_;
};

}  // namespace

int main(int argc, char** argv) {
  char dir[] = "/tmp/adobenchXXXXXX";
  if (!mkdtemp(dir))
    return 1;
  g_dir = dir;
  const std::string registry = g_dir + "/registry.reg";
  const std::string command =
      "PLATFORM_REGISTRY='" + registry + "' '" + REGSVR_PATH + "' -s '" + ADO_MODULE + "'";
  if (std::system(command.c_str()) != 0)
    return 1;
  PlatformSetRegistryPath(registry.c_str());
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  CoUninitialize();
  std::system(("rm -rf '" + g_dir + "'").c_str());
  return 0;
}
