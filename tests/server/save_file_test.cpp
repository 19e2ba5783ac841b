// Tests of the attachment's saves to disk, driven by name as a script drives them: the bytes
// written, the free numbered names, the messages of the failures and two savers racing for
// one name.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>

#include <set>
#include <string>
#include <thread>

#include "faultsim.h"
#include "file_fixture.h"
#include "platform_memstat.h"

namespace {

using late_bound::Call;
using late_bound::I4;
using late_bound::Str;
using late_bound::TakeErrorDescription;

const char16_t kCannotOpenPrefix[] = u"파일이 없거나 경로가 틀립니다. ";
const char16_t kZipFailed[] = u"파일의 경로가 틀리거나 데이터를 압축하는 도중 오류가 발생했습니다.";

std::string binary_bytes(size_t n) {
  std::string out(n, '\0');
  for (size_t i = 0; i < n; ++i)
    out[i] = static_cast<char>((i * 131 + 7) % 251);
  return out;
}

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

class SaveFile : public FileFixture {
 protected:
  HRESULT save(const char16_t* method, const char16_t* path) {
    return Call(file_.Get(), method, DISPATCH_METHOD, {Str(path)}, nullptr);
  }
  HRESULT save(const char16_t* method, const char16_t* path, LONG auto_tag) {
    return Call(file_.Get(), method, DISPATCH_METHOD, {Str(path), I4(auto_tag)}, nullptr);
  }
  void start_saving(const std::string& content, const std::string& name = "C:\\x\\a.txt") {
    start_with_file(content, name);
    file_ = attachment();
    ASSERT_TRUE(file_);
  }
  ComPtr<IDispatch> file_;
};

TEST_F(SaveFile, WritesTheBytesAndTakesTheNameOfTheTarget) {
  const std::string content = binary_bytes(70000);
  start_saving(content, "C:\\Users\\me\\IMG_0001.JPG");
  mkdir("up");
  EXPECT_EQ(S_OK, save(u"SaveFile", u"C:\\up\\photo.jpg"));
  EXPECT_EQ(content, read("up/photo.jpg"));
  EXPECT_EQ(u"photo.jpg", text(file_.Get(), u"FileName"));
  EXPECT_EQ(u"", TakeErrorDescription());
}

TEST_F(SaveFile, NumbersATakenNameWithTheFirstFreeNumber) {
  start_saving("new");
  mkdir("up");
  write("up/photo.jpg", "old");
  EXPECT_EQ(S_OK, save(u"SaveFile", u"C:\\up\\photo.jpg"));
  EXPECT_EQ(u"photo1.jpg", text(file_.Get(), u"FileName"));
  EXPECT_EQ(S_OK, save(u"SaveFile", u"C:\\up\\photo.jpg"));
  EXPECT_EQ(u"photo2.jpg", text(file_.Get(), u"FileName"));
  EXPECT_EQ("old", read("up/photo.jpg"));
  EXPECT_EQ("new", read("up/photo1.jpg"));
  EXPECT_EQ("new", read("up/photo2.jpg"));
  // A gap is filled before the count goes on.
  std::remove(host("up/photo1.jpg").c_str());
  EXPECT_EQ(S_OK, save(u"SaveFile", u"C:\\up\\photo.jpg", 1));
  EXPECT_EQ(u"photo1.jpg", text(file_.Get(), u"FileName"));
  EXPECT_FALSE(exists("up/photo3.jpg"));
}

TEST_F(SaveFile, PutsTheNumberBeforeTheLastDotOfTheFileNameOnly) {
  start_saving("x");
  mkdir("up/my.dir");
  write("up/archive.tar.gz", "");
  write("up/README", "");
  write("up/my.dir/README", "");
  write("up/folder.txt", "");
  mkdir("up/folder1.txt");  // a directory takes a numbered name as well
  EXPECT_EQ(S_OK, save(u"SaveFile", u"C:\\up\\archive.tar.gz"));
  EXPECT_EQ(u"archive.tar1.gz", text(file_.Get(), u"FileName"));
  EXPECT_EQ(S_OK, save(u"SaveFile", u"C:\\up\\README"));
  EXPECT_EQ(u"README1", text(file_.Get(), u"FileName"));
  EXPECT_EQ(S_OK, save(u"SaveFile", u"C:\\up\\my.dir\\README"));
  EXPECT_EQ(u"README1", text(file_.Get(), u"FileName"));
  EXPECT_EQ("x", read("up/my.dir/README1"));
  EXPECT_EQ(S_OK, save(u"SaveFile", u"C:\\up\\folder.txt"));
  EXPECT_EQ("x", read("up/folder2.txt"));
}

// A target that is a folder is refused whole, with or without numbering and plain or
// compressed: no file is written into it or beside it, and the attachment keeps its name and
// compressed size.
TEST_F(SaveFile, TargetThatIsAFolderFailsAndChangesNothing) {
  start_saving("data", "C:\\x\\client.bin");
  mkdir("up/sub");
  write("up/sub/kept.txt", "kept");
  ASSERT_EQ(S_OK, save(u"SaveFileByZip", u"C:\\up\\first.gz"));
  const LONG zip_size = number(file_.Get(), u"ZipSize");
  const std::u16string name = text(file_.Get(), u"FileName");
  for (const char16_t* target :
       {u"C:\\up\\sub", u"C:\\up\\sub\\", u"C:\\up\\sub\\..", u"C:\\up\\sub\\.", u"C:/up/sub"}) {
    for (const char16_t* method : {u"SaveFile", u"SaveFileByZip"}) {
      for (LONG auto_tag : {1, 0}) {
        SCOPED_TRACE(std::string(target, target + std::char_traits<char16_t>::length(target)) +
                     (method[8] ? " ByZip " : " ") + std::to_string(auto_tag));
        EXPECT_EQ(E_FAIL, save(method, target, auto_tag));
        EXPECT_EQ(target + std::u16string(u" 경로는 폴더이므로 파일로 저장할 수 없습니다."),
                  TakeErrorDescription());
        EXPECT_EQ(name, text(file_.Get(), u"FileName"));
        EXPECT_EQ(zip_size, number(file_.Get(), u"ZipSize"));
      }
    }
  }
  EXPECT_EQ("kept", read("up/sub/kept.txt"));
  EXPECT_EQ(std::vector<std::string>({"first.gz", "sub"}), entries("up"));
  EXPECT_EQ(std::vector<std::string>({"kept.txt"}), entries("up/sub"));
  EXPECT_EQ(std::vector<std::string>({"up"}), entries(""));
}

TEST_F(SaveFile, WithoutAutoTagOverwritesAndKeepsTheFileName) {
  start_saving("short", "C:\\x\\client.bin");
  mkdir("up");
  write("up/a.txt", "a much longer earlier content");
  EXPECT_EQ(S_OK, save(u"SaveFile", u"C:\\up\\a.txt", 0));
  EXPECT_EQ("short", read("up/a.txt"));
  EXPECT_EQ(u"client.bin", text(file_.Get(), u"FileName"));
  EXPECT_FALSE(exists("up/a1.txt"));
}

TEST_F(SaveFile, ForwardSlashesSaveButLeaveTheFileName) {
  start_saving("fs", "C:\\x\\client.bin");
  mkdir("up");
  write("up/a.txt", "taken");
  EXPECT_EQ(S_OK, save(u"SaveFile", u"C:/up/a.txt"));
  EXPECT_EQ("fs", read("up/a1.txt"));
  EXPECT_EQ(u"client.bin", text(file_.Get(), u"FileName"));
}

TEST_F(SaveFile, EmptyAttachmentMakesAnEmptyFile) {
  start_saving("");
  mkdir("up");
  EXPECT_EQ(S_OK, save(u"SaveFile", u"C:\\up\\empty.bin"));
  EXPECT_TRUE(exists("up/empty.bin"));
  EXPECT_EQ("", read("up/empty.bin"));
}

TEST_F(SaveFile, MissingDirectoryReportsTheOpenMessageWithTheTarget) {
  start_saving("data", "C:\\x\\client.bin");
  EXPECT_EQ(E_FAIL, save(u"SaveFile", u"C:\\nodir\\a.txt"));
  EXPECT_EQ(std::u16string(kCannotOpenPrefix) + u"C:\\nodir\\a.txt 파일을 오픈할 수 없습니다.",
            TakeErrorDescription());
  // The name was settled before the open failed.
  EXPECT_EQ(u"a.txt", text(file_.Get(), u"FileName"));
  EXPECT_EQ(E_FAIL, save(u"SaveFile", u"C:\\nodir\\b.txt", 0));
  EXPECT_EQ(std::u16string(kCannotOpenPrefix) + u"C:\\nodir\\b.txt 파일을 오픈할 수 없습니다.",
            TakeErrorDescription());
  EXPECT_EQ(u"a.txt", text(file_.Get(), u"FileName"));
}

TEST_F(SaveFile, FailedMappingChangesNothingAndSaysNothing) {
  start_saving("data", "C:\\x\\client.bin");
  page_->server->map_failure = E_ACCESSDENIED;
  EXPECT_EQ(E_ACCESSDENIED, save(u"SaveFile", u"uploads/a.txt"));
  EXPECT_EQ(E_ACCESSDENIED, save(u"SaveFileByZip", u"/files/a.txt"));
  EXPECT_EQ(u"", TakeErrorDescription());
  EXPECT_EQ(u"client.bin", text(file_.Get(), u"FileName"));
  EXPECT_EQ(0, number(file_.Get(), u"ZipSize"));
  EXPECT_EQ(2u, page_->server->mapped.size());
}

TEST_F(SaveFile, AfterThePageEndsOnlyPhysicalPathsSave) {
  start_saving("late", "C:\\x\\client.bin");
  mkdir("up");
  ASSERT_EQ(S_OK, Call(upload_.Get(), u"OnEndPage", DISPATCH_METHOD, {}, nullptr));
  EXPECT_EQ(E_UNEXPECTED, save(u"SaveFile", u"a.txt"));
  EXPECT_EQ(E_UNEXPECTED, save(u"SaveFileByZip", u"/up/a.txt"));
  EXPECT_TRUE(page_->server->mapped.empty());
  EXPECT_EQ(u"client.bin", text(file_.Get(), u"FileName"));
  EXPECT_EQ(S_OK, save(u"SaveFile", u"C:\\up\\a.txt"));
  EXPECT_EQ("late", read("up/a.txt"));
}

TEST_F(SaveFile, ByZipWritesAGzipFileAndItsCompressedSize) {
  const std::string content = std::string(200000, 'z') + binary_bytes(1000);
  start_saving(content);
  mkdir("up");
  write("up/a.gz", "taken");
  EXPECT_EQ(S_OK, save(u"SaveFileByZip", u"C:\\up\\a.gz"));
  EXPECT_EQ(u"a1.gz", text(file_.Get(), u"FileName"));
  const LONG zip_size = number(file_.Get(), u"ZipSize");
  EXPECT_EQ(static_cast<size_t>(zip_size), read("up/a1.gz").size());
  EXPECT_LT(zip_size, 20000);
  EXPECT_EQ("taken", read("up/a.gz"));
  const std::string out = host("out.bin");
  ASSERT_EQ(0, std::system(("gunzip -c '" + host("up/a1.gz") + "' > '" + out + "'").c_str()));
  EXPECT_EQ(content, read("out.bin"));
}

TEST_F(SaveFile, ByZipFailureReportsAndKeepsTheZipSize) {
  start_saving("zip me");
  mkdir("up");
  ASSERT_EQ(S_OK, save(u"SaveFileByZip", u"C:\\up\\first.gz"));
  const LONG first = number(file_.Get(), u"ZipSize");
  EXPECT_GT(first, 0);
  EXPECT_EQ(E_FAIL, save(u"SaveFileByZip", u"C:\\nodir\\a.gz"));
  EXPECT_EQ(kZipFailed, TakeErrorDescription());
  EXPECT_EQ(first, number(file_.Get(), u"ZipSize"));
  EXPECT_EQ(u"a.gz", text(file_.Get(), u"FileName"));
}

// Every allocation a save makes may fail: the save then fails with a status, or writes the
// whole file and shows the name it was saved under; nothing leaks either way.
TEST_F(SaveFile, EveryAllocationOfASaveMayFail) {
  const std::string content = std::string(5000, 's');
  start_saving(content);
  mkdir("up");
  write("up/a.bin", "taken");
  for (const char16_t* method : {u"SaveFile", u"SaveFileByZip"})
    for (BOOL persistent : {FALSE, TRUE})
      for (int n = 1;; ++n) {
        std::system(("rm -f '" + host("up") + "'/a1.bin").c_str());
        VARIANT arg = Str(u"C:\\up\\a.bin");
        DISPPARAMS params{&arg, nullptr, 1, 0};
        const DISPID id = late_bound::Id(file_.Get(), method);
        const LONG blocks = PlatformTaskMemBlocks();
        FaultSimConfig(n, persistent);
        const HRESULT hr = late_bound::InvokeId(file_.Get(), id, DISPATCH_METHOD, &params, nullptr);
        const int faults = FaultSimFaults();
        FaultSimConfig(0, FALSE);
        TakeErrorDescription();
        EXPECT_EQ(blocks, PlatformTaskMemBlocks()) << n;
        VariantClear(&arg);
        // The taken name is never touched; a save lands on the next one.
        EXPECT_EQ("taken", read("up/a.bin")) << n;
        if (hr == S_OK) {
          if (std::u16string(method) == u"SaveFile")
            EXPECT_EQ(content, read("up/a1.bin")) << n;
          else
            EXPECT_TRUE(exists("up/a1.bin")) << n;
          EXPECT_EQ(u"a1.bin", text(file_.Get(), u"FileName")) << "the name saved under, " << n;
        } else {
          EXPECT_TRUE(hr == E_OUTOFMEMORY || hr == E_FAIL || hr == DISP_E_TYPEMISMATCH)
              << n << ": " << std::hex << hr;
          EXPECT_FALSE(exists("up/a1.bin")) << n;
        }
        if (faults == 0) {
          EXPECT_EQ(S_OK, hr);
          break;
        }
        ASSERT_LT(n, 200);
      }
}

// Holds the process's file-size limit at limit bytes (a full disk as a writer sees it: the
// write that passes it fails) and gives the old limit back at the end.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t limit) {
    old_signal_ = signal(SIGXFSZ, SIG_IGN);
    getrlimit(RLIMIT_FSIZE, &old_);
    rlimit lowered = old_;
    lowered.rlim_cur = limit;
    set_ = setrlimit(RLIMIT_FSIZE, &lowered) == 0;
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &old_);
    signal(SIGXFSZ, old_signal_);
  }
  bool set() const { return set_; }

 private:
  rlimit old_{};
  sighandler_t old_signal_;
  bool set_ = false;
};

TEST_F(SaveFile, FullDiskIsAFailureAndLeavesNoPartialFile) {
  const std::string content = noise(300000);
  start_saving(content, "C:\\x\\client.bin");
  mkdir("up");
  write("up/keep.bin", "an earlier file");
  HRESULT plain, plain_over, zipped;
  {
    FileSizeLimit limit(64 * 1024);
    ASSERT_TRUE(limit.set());
    plain = save(u"SaveFile", u"C:\\up\\big.bin");
    plain_over = save(u"SaveFile", u"C:\\up\\keep.bin", 0);
    zipped = save(u"SaveFileByZip", u"C:\\up\\big.gz");
  }
  EXPECT_EQ(E_FAIL, plain);
  EXPECT_EQ(E_FAIL, plain_over);
  EXPECT_EQ(E_FAIL, zipped);
  EXPECT_EQ(kZipFailed, TakeErrorDescription());
  EXPECT_FALSE(exists("up/big.bin"));
  EXPECT_FALSE(exists("up/keep.bin"));
  EXPECT_FALSE(exists("up/big.gz"));
  EXPECT_EQ(0, number(file_.Get(), u"ZipSize"));
  // The open message names the target, as for a file that cannot be opened.
  {
    FileSizeLimit limit(64 * 1024);
    ASSERT_TRUE(limit.set());
    plain = save(u"SaveFile", u"C:\\up\\again.bin");
  }
  EXPECT_EQ(E_FAIL, plain);
  EXPECT_EQ(std::u16string(kCannotOpenPrefix) + u"C:\\up\\again.bin 파일을 오픈할 수 없습니다.",
            TakeErrorDescription());
  EXPECT_EQ(S_OK, save(u"SaveFile", u"C:\\up\\again.bin"));
  EXPECT_EQ(content, read("up/again.bin"));
}

// Each thread has its own page, upload object and attachment, as two pages of a host do.
void save_many(char fill, int count, int* failures) {
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  {
    CLSID clsid{};
    ComPtr<IDispatch> upload;
    fake_page::Context* page = fake_page::MakeContext(
        FileFixture::kContentType,
        FileFixture::body({}, {{"upfile", "photo.jpg", std::string(100, fill)}}));
    ComPtr<IDispatch> list;
    ComPtr<IDispatch> file;
    ScopedVariant v;
    ScopedVariant element;
    if (CLSIDFromProgID(u"Vantrel.FileUpload", &clsid) != S_OK ||
        CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                         reinterpret_cast<void**>(upload.Receive())) != S_OK ||
        Call(upload.Get(), u"OnStartPage", DISPATCH_METHOD, {late_bound::Unknown(page)}, nullptr) !=
            S_OK ||
        late_bound::Get(upload.Get(), u"Attachments", {}, v.Receive()) != S_OK ||
        late_bound::Get(v.Get().pdispVal, u"Item", {I4(1)}, element.Receive()) != S_OK) {
      *failures = count;
    } else {
      for (int i = 0; i < count; ++i)
        if (Call(element.Get().pdispVal, u"SaveFile", DISPATCH_METHOD,
                 {Str(u"C:\\race\\photo.jpg")}, nullptr) != S_OK)
          ++*failures;
    }
    page->Release();
  }
  CoUninitialize();
}

// Each save looks for the first free number from the start, so the saves of one name cost the
// square of their count: 400 each keep the two threads racing for a free name hundreds of times
// at a cost that suits every test run.
constexpr int kRacingSaves = 400;

TEST_F(SaveFile, TwoSaversOfOneNameNeverShareAFile) {
  mkdir("race");
  int failures_a = 0;
  int failures_b = 0;
  std::thread a(save_many, 'A', kRacingSaves, &failures_a);
  std::thread b(save_many, 'B', kRacingSaves, &failures_b);
  a.join();
  b.join();
  EXPECT_EQ(0, failures_a);
  EXPECT_EQ(0, failures_b);
  int from_a = 0;
  int from_b = 0;
  for (int n = 0; n < 2 * kRacingSaves; ++n) {
    const std::string name = "race/photo" + (n == 0 ? std::string() : std::to_string(n)) + ".jpg";
    const std::string content = read(name);
    if (content == std::string(100, 'A'))
      ++from_a;
    else if (content == std::string(100, 'B'))
      ++from_b;
    else
      ADD_FAILURE() << name << " holds " << content.size() << " bytes";
  }
  EXPECT_EQ(kRacingSaves, from_a);
  EXPECT_EQ(kRacingSaves, from_b);
  EXPECT_FALSE(exists("race/photo" + std::to_string(2 * kRacingSaves) + ".jpg"));
}

}  // namespace
