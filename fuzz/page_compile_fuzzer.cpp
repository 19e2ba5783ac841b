// The script host's page compiler on arbitrary pages, with include files beside them. A page
// compiles, or fails naming a file and a line; a compiled page's line map has one entry per
// script line, each pointing at a line that exists in a file the page read.
//
// Input: up to four files separated by lines "#####": the page /p.asp, then /inc/a.inc,
// /b.inc and /inc/c.asp, which the page and each other may include. Files the input does not
// give do not exist.
#include <stddef.h>
#include <stdint.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "page_compiler.h"
#include "scratch_dir.h"

namespace {

const char* const kFiles[] = {"/p.asp", "/inc/a.inc", "/b.inc", "/inc/c.asp"};
constexpr std::string_view kSeparator = "\n#####\n";

const std::string& site() {
  static const std::string root = [] {
    const std::string dir = fuzz::ScratchDir() + "/site";
    std::filesystem::create_directories(dir + "/inc");
    return dir;
  }();
  return root;
}

// Lines of a file as the compiler counts them (a byte order mark is not part of the text).
int line_count(const std::string& text) {
  return 1 + static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  std::map<std::string, std::string> files;
  for (const char* name : kFiles) {
    const std::string path = site() + name;
    if (input.data() == nullptr) {
      unlink(path.c_str());
      continue;
    }
    const size_t end = input.find(kSeparator);
    const std::string text(input.substr(0, end));
    fuzz::WriteFile(path, text.data(), text.size());
    files[name] = text;
    input =
        end == std::string_view::npos ? std::string_view() : input.substr(end + kSeparator.size());
  }

  vhost::CompiledPage page;
  vhost::CompileError error;
  if (!vhost::compile_page(site(), "/p.asp", &page, &error)) {
    FUZZ_CHECK(!error.file.empty() && error.line >= 0 && !error.message.empty(),
               "a failure names a file, a line and what went wrong");
    return 0;
  }
  FUZZ_CHECK(!page.files.empty() && page.files[0] == "/p.asp", "the page is the first file");
  const size_t script_lines =
      page.script.empty() ? 0 : 1 + std::count(page.script.begin(), page.script.end(), '\n');
  FUZZ_CHECK(page.lines.size() == script_lines, "one origin per script line");
  for (const vhost::CompiledPage::Origin& origin : page.lines) {
    FUZZ_CHECK(origin.file >= 0 && static_cast<size_t>(origin.file) < page.files.size(),
               "an origin names a file the page read");
    const auto it = files.find(page.files[static_cast<size_t>(origin.file)]);
    FUZZ_CHECK(it != files.end(), "a file the page read is one of the site's");
    FUZZ_CHECK(origin.line >= 1 && origin.line <= line_count(it->second),
               "an origin names a line of its file");
  }
  for (int line = -1; line <= static_cast<int>(page.lines.size()) + 1; ++line)
    page.origin(line);
  return 0;
}
