// Script page compiler (see page_compiler.h).
#include "page_compiler.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "text.h"

namespace vhost {

std::pair<std::string, int> CompiledPage::origin(int script_line) const {
  if (script_line < 1 || lines.empty())
    return {files.empty() ? std::string() : files[0], script_line};
  const size_t i = std::min(static_cast<size_t>(script_line - 1), lines.size() - 1);
  return {files[static_cast<size_t>(lines[i].file)], lines[i].line};
}

bool normalize_virtual(const std::string& base_dir, const std::string& path, std::string* out) {
  std::vector<std::string> parts;
  const std::string full =
      (!path.empty() && (path[0] == '/' || path[0] == '\\')) ? path : base_dir + path;
  size_t start = 0;
  while (start <= full.size()) {
    size_t end = full.find_first_of("/\\", start);
    if (end == std::string::npos)
      end = full.size();
    const std::string part = full.substr(start, end - start);
    start = end + 1;
    if (part.empty() || part == ".")
      continue;
    if (part == "..") {
      if (parts.empty())
        return false;
      parts.pop_back();
      continue;
    }
    if (part.find(':') != std::string::npos || part.find('\0') != std::string::npos)
      return false;
    parts.push_back(part);
  }
  std::string result;
  for (const std::string& p : parts)
    result += "/" + p;
  *out = result.empty() ? "/" : result;
  return true;
}

namespace {

class Compiler {
 public:
  Compiler(const std::string& site_root, CompiledPage* out, CompileError* error)
      : root_(site_root), out_(out), error_(error) {}

  bool compile_file(const std::string& path, int depth) {
    if (depth > 16)
      return fail(path, 1, "includes are nested more than 16 levels deep (a cycle?)");
    std::ifstream in(root_ + path, std::ios::binary);
    if (!in)
      return fail(path, 0, "the file cannot be read");
    std::stringstream buffer;
    buffer << in.rdbuf();
    std::string text = buffer.str();
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0)
      text.erase(0, 3);
    const int file = static_cast<int>(out_->files.size());
    out_->files.push_back(path);
    return compile_text(text, path, file, depth);
  }

 private:
  bool fail(const std::string& file, int line, const std::string& message) {
    error_->file = file;
    error_->line = line;
    error_->message = message;
    return false;
  }

  // Appends text to the script; each line break starts a script line from (file, line + k).
  void emit(const std::string& text, int file, int* line) {
    if (out_->lines.empty())
      out_->lines.push_back({file, *line});
    for (char c : text) {
      out_->script.push_back(c);
      if (c == '\n') {
        ++*line;
        out_->lines.push_back({file, *line});
      }
    }
  }
  // A line break that belongs to no page line break (ends a // comment safely).
  void emit_break(int file, int line) {
    if (out_->lines.empty())
      out_->lines.push_back({file, line});
    out_->script.push_back('\n');
    out_->lines.push_back({file, line});
  }

  // An include directive at pos: <!-- #include file="x" --> (or virtual=). Returns its end.
  static size_t match_include(const std::string& t, size_t pos, std::string* kind,
                              std::string* target) {
    size_t i = pos + 4;
    auto skip = [&] {
      while (i < t.size() && std::isspace(static_cast<unsigned char>(t[i])))
        ++i;
    };
    skip();
    if (t.compare(i, 8, "#include") != 0 && !iequals(t.substr(i, 8), "#include"))
      return std::string::npos;
    i += 8;
    skip();
    size_t k = i;
    while (k < t.size() && std::isalpha(static_cast<unsigned char>(t[k])))
      ++k;
    *kind = t.substr(i, k - i);
    i = k;
    skip();
    if (i >= t.size() || t[i] != '=')
      return std::string::npos;
    ++i;
    skip();
    if (i >= t.size() || t[i] != '"')
      return std::string::npos;
    const size_t close = t.find('"', i + 1);
    if (close == std::string::npos)
      return std::string::npos;
    *target = t.substr(i + 1, close - i - 1);
    i = close + 1;
    skip();
    if (t.compare(i, 3, "-->") != 0)
      return std::string::npos;
    return i + 3;
  }

  bool directive(const std::string& body, const std::string& path, int line) {
    std::string s = body;
    size_t i = 0;
    while (i < s.size()) {
      while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i])))
        ++i;
      size_t k = i;
      while (k < s.size() && (std::isalnum(static_cast<unsigned char>(s[k])) || s[k] == '_'))
        ++k;
      const std::string key = s.substr(i, k - i);
      i = k;
      while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i])))
        ++i;
      if (key.empty())
        break;
      if (i >= s.size() || s[i] != '=')
        return fail(path, line, "malformed directive near '" + key + "'");
      ++i;
      while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i])))
        ++i;
      std::string value;
      if (i < s.size() && s[i] == '"') {
        const size_t close = s.find('"', i + 1);
        if (close == std::string::npos)
          return fail(path, line, "unclosed quote in directive");
        value = s.substr(i + 1, close - i - 1);
        i = close + 1;
      } else {
        k = i;
        while (k < s.size() && !std::isspace(static_cast<unsigned char>(s[k])))
          ++k;
        value = s.substr(i, k - i);
        i = k;
      }
      if (iequals(key, "language")) {
        if (!iequals(value, "jscript") && !iequals(value, "javascript") &&
            !iequals(value, "ecmascript"))
          return fail(
              path, line,
              "the page language '" + value + "' is not supported; this host runs JScript pages");
      } else if (iequals(key, "codepage")) {
        out_->code_page = static_cast<unsigned>(std::strtoul(value.c_str(), nullptr, 10));
        if (out_->code_page == 0)
          return fail(path, line, "CODEPAGE needs a number");
      } else if (!iequals(key, "enablesessionstate") && !iequals(key, "lcid") &&
                 !iequals(key, "transaction")) {
        return fail(path, line, "unknown directive '" + key + "'");
      }
    }
    return true;
  }

  bool compile_text(const std::string& t, const std::string& path, int file, int depth) {
    int line = 1;
    size_t pos = 0;
    const std::string dir = path.substr(0, path.rfind('/') + 1);
    while (pos < t.size()) {
      size_t code = t.find("<%", pos);
      size_t include = t.find("<!--", pos);
      std::string kind, target;
      size_t include_end = std::string::npos;
      while (include != std::string::npos && include < code) {
        include_end = match_include(t, include, &kind, &target);
        if (include_end != std::string::npos)
          break;
        include = t.find("<!--", include + 4);
      }
      const bool is_include = include_end != std::string::npos && include < code;
      const size_t next = is_include ? include : (code == std::string::npos ? t.size() : code);
      literal(t.substr(pos, next - pos), file, &line);
      if (next >= t.size())
        break;
      if (is_include) {
        const std::string directive_text = t.substr(include, include_end - include);
        std::string resolved;
        const bool is_virtual = iequals(kind, "virtual");
        if (!is_virtual && !iequals(kind, "file"))
          return fail(path, line, "#include needs file= or virtual=");
        if (!normalize_virtual(is_virtual ? "/" : dir, target, &resolved))
          return fail(path, line, "the include '" + target + "' leaves the site");
        const int saved_line = line;
        if (!compile_file(resolved, depth + 1)) {
          if (error_->line == 0) {
            error_->file = path;
            error_->line = saved_line;
            error_->message = "the include '" + target + "' cannot be read";
          }
          return false;
        }
        int scratch = saved_line;
        for (char c : directive_text)
          if (c == '\n')
            ++scratch;
        line = scratch;
        emit_break(file, line);
        pos = include_end;
        continue;
      }
      const size_t close = t.find("%>", code + 2);
      if (close == std::string::npos)
        return fail(path, line, "a <% block is not closed with %>");
      std::string body = t.substr(code + 2, close - code - 2);
      if (!body.empty() && body[0] == '@') {
        if (!directive(body.substr(1), path, line))
          return false;
        for (char c : body)
          if (c == '\n')
            emit_break(file, ++line);
      } else if (!body.empty() && body[0] == '=') {
        emit("__w(", file, &line);
        emit(body.substr(1), file, &line);
        emit_break(file, line);
        emit(");", file, &line);
      } else {
        emit(body, file, &line);
        emit_break(file, line);
        emit(";", file, &line);
      }
      pos = close + 2;
    }
    return true;
  }

  void literal(const std::string& text, int file, int* line) {
    if (text.empty())
      return;
    out_->literals.push_back(text);
    emit("__lit(" + std::to_string(out_->literals.size() - 1) + ");", file, line);
    for (char c : text)
      if (c == '\n')
        emit("\n", file, line);
  }

  const std::string& root_;
  CompiledPage* out_;
  CompileError* error_;
};

}  // namespace

bool compile_page(const std::string& site_root, const std::string& page_path, CompiledPage* out,
                  CompileError* error) {
  Compiler compiler(site_root, out, error);
  return compiler.compile_file(page_path, 0);
}

}  // namespace vhost
