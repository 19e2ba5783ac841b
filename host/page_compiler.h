// Turns a script page (literal text with <% code %>, <%= expression %>, <%@ directives %> and
// <!-- #include file|virtual="..." --> directives) into one JavaScript program. Literal text is
// written by __lit(n) and expressions by __w(value); every line of the program knows the file
// and line it came from, so that errors name the page's own line.
#pragma once

#include <string>
#include <vector>

namespace vhost {

struct CompiledPage {
  std::string script;                 // UTF-8 JavaScript
  std::vector<std::string> literals;  // the page's literal text, as bytes of the file
  std::vector<std::string> files;     // virtual paths: the page and what it includes
  struct Origin {
    int file;
    int line;
  };
  std::vector<Origin> lines;  // lines[i] is where script line i + 1 came from
  unsigned code_page = 0;     // from <%@ CODEPAGE=n %>, 0 when not given

  // The page file and line of script line script_line (1-based).
  std::pair<std::string, int> origin(int script_line) const;
};

struct CompileError {
  std::string file;
  int line = 0;
  std::string message;
};

// Reads the page at virtual path page_path under site_root and compiles it. Include paths that
// leave the site, include cycles deeper than 16 levels, unknown languages and unclosed blocks
// are errors.
bool compile_page(const std::string& site_root, const std::string& page_path, CompiledPage* out,
                  CompileError* error);

// Normalises a virtual path (relative paths are taken from base_dir, a virtual folder ending
// in '/'); false when ".." would leave the root.
bool normalize_virtual(const std::string& base_dir, const std::string& path, std::string* out);

}  // namespace vhost
