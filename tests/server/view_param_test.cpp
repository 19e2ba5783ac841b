// Tests of ViewParam: the strings written into the page for the fields and files received.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "faultsim.h"
#include "file_fixture.h"
#include "platform_memstat.h"

namespace {

using late_bound::Call;
using late_bound::Str;

class ViewParam : public FileFixture {
 protected:
  HRESULT view() { return Call(upload_.Get(), u"ViewParam", DISPATCH_METHOD, {}, nullptr); }
  std::vector<std::u16string>& calls() { return page_->response->calls; }
};

std::vector<std::u16string> line(const std::u16string& name, const std::u16string& value) {
  return {u"Write=<b>", u"Write=" + name, u"Write=</b> = ", u"Write=" + value, u"Write=<br>\r\n"};
}

std::vector<std::u16string> joined(std::initializer_list<std::vector<std::u16string>> parts) {
  std::vector<std::u16string> out;
  for (const auto& part : parts)
    out.insert(out.end(), part.begin(), part.end());
  return out;
}

const std::u16string kHeading = u"Write=<br><br>\r\n@ Attach Files =======================<br>\r\n";

TEST_F(ViewParam, ListsFieldsThenFilesAsTheyCame) {
  ASSERT_EQ(S_OK, start(kContentType,
                        body({{"title", "Hello"}, {"note", "<i>x</i>"}},
                             {{"upfile", "C:\\x\\a.txt", "content"}, {"nofile", "", ""}}),
                        &page_));
  EXPECT_EQ(S_OK, view());
  // A file input left empty arrives without a file name and is listed as a field.
  EXPECT_EQ(joined({line(u"title", u"Hello"),
                    line(u"note", u"<i>x</i>"),
                    line(u"nofile", u""),
                    {kHeading},
                    line(u"upfile", u"a.txt")}),
            calls());
}

TEST_F(ViewParam, FieldValueEndsAtAZeroByte) {
  ASSERT_EQ(S_OK, start(kContentType, body({{"f", std::string("ab\0cd", 5)}}, {}), &page_));
  EXPECT_EQ(S_OK, view());
  // Fields only: no heading.
  EXPECT_EQ(line(u"f", u"ab"), calls());
}

TEST_F(ViewParam, FilesShowTheirSavedNumberedName) {
  start_with_file("x");
  mkdir("up");
  write("up/a.txt", "taken");
  ComPtr<IDispatch> file = attachment();
  ASSERT_TRUE(file);
  ASSERT_EQ(S_OK, Call(file.Get(), u"SaveFile", DISPATCH_METHOD, {Str(u"C:\\up\\a.txt")}, nullptr));
  EXPECT_EQ(S_OK, view());
  EXPECT_EQ(joined({{kHeading}, line(u"upfile", u"a1.txt")}), calls());
}

// A string that cannot be converted stops the listing with E_OUTOFMEMORY; what was written
// before stays written.
TEST_F(ViewParam, AFailedConversionStopsTheListing) {
  ASSERT_EQ(S_OK, start(kContentType, body({{"title", "Hello"}}, {{"f", "a.txt", "x"}}), &page_));
  ASSERT_EQ(S_OK, view());
  const std::vector<std::u16string> full = calls();
  for (int n = 1;; ++n) {
    calls().clear();
    const DISPID id = late_bound::Id(upload_.Get(), u"ViewParam");
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    const LONG blocks = PlatformTaskMemBlocks();
    FaultSimConfig(n, FALSE);
    const HRESULT hr = late_bound::InvokeId(upload_.Get(), id, DISPATCH_METHOD, &none, nullptr);
    const int faults = FaultSimFaults();
    FaultSimConfig(0, FALSE);
    EXPECT_EQ(blocks, PlatformTaskMemBlocks()) << n;
    if (faults == 0) {
      EXPECT_EQ(S_OK, hr);
      EXPECT_EQ(full, calls());
      break;
    }
    EXPECT_EQ(E_OUTOFMEMORY, hr) << n;
    ASSERT_LT(calls().size(), full.size()) << n;
    EXPECT_TRUE(std::equal(calls().begin(), calls().end(), full.begin())) << n;
  }
}

TEST_F(ViewParam, NothingReceivedWritesNothing) {
  EXPECT_EQ(S_OK, view());
  ASSERT_EQ(S_OK, start(u"text/plain", "a=b", &page_));
  late_bound::TakeErrorDescription();
  EXPECT_EQ(S_OK, view());
  EXPECT_TRUE(calls().empty());
}

TEST_F(ViewParam, AfterThePageEndsRecordsAreNotWrittenThroughAMissingResponse) {
  start_with_file("x");
  ASSERT_EQ(S_OK, Call(upload_.Get(), u"OnEndPage", DISPATCH_METHOD, {}, nullptr));
  EXPECT_EQ(E_UNEXPECTED, view());
  EXPECT_TRUE(calls().empty());
}

}  // namespace
