// The registry's file format: reading and writing "Windows Registry Editor Version 5.00" text
// (UTF-16LE with a byte order mark, CRLF lines, [key] sections, "name"=data value lines).
// Anything the reader does not understand is an error with its line number: the file is the
// only copy of the registry, so a damaged one must be reported, never half-read and rewritten.
#include "registry_private.h"

#include <cstdio>

namespace {

constexpr std::u16string_view kHeader = u"Windows Registry Editor Version 5.00";
constexpr char16_t kByteOrderMark = 0xFEFF;
// Hex data lines are wrapped before this column, leaving room for the ",\" continuation.
constexpr size_t kWrapColumn = 76;

using Line = std::u16string_view;

class Parser {
 public:
  Parser(std::u16string_view text, RegTree& tree, RegFileError& error)
      : text_(text), tree_(tree), error_(error) {}

  bool run() {
    if (!next_line() || strip_cr(line_) != kHeader)
      return fail("the first line must be \"Windows Registry Editor Version 5.00\"");
    while (next_line()) {
      Line line = strip_cr(line_);
      size_t pos = skip_blanks(line, 0);
      if (pos == line.size() || line[pos] == ';' || line[pos] == '#')
        continue;
      if (!(line[pos] == '[' ? section(line.substr(pos)) : value(line, pos)))
        return false;
    }
    return true;
  }

 private:
  bool fail(const char* message) {
    error_.line = line_number_ ? line_number_ : 1;
    error_.message = message;
    return false;
  }

  bool next_line() {
    // The line break that ends the text does not start another line.
    if (offset_ >= text_.size() && line_number_ > 0)
      return false;
    size_t end = text_.find(u'\n', offset_);
    if (end == std::u16string_view::npos)
      end = text_.size();
    line_ = text_.substr(offset_, end - offset_);
    offset_ = end + 1;
    ++line_number_;
    return true;
  }

  static Line strip_cr(Line line) {
    if (!line.empty() && line.back() == u'\r')
      line.remove_suffix(1);
    return line;
  }

  static size_t skip_blanks(Line line, size_t pos) {
    while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t'))
      ++pos;
    return pos;
  }

  // True when only blanks or a comment follow pos.
  static bool at_end(Line line, size_t pos) {
    pos = skip_blanks(line, pos);
    return pos == line.size() || line[pos] == ';';
  }

  // [ROOT\a\b] creates the key; [-ROOT\a\b] deletes it with its subtree.
  bool section(Line line) {
    size_t close = line.rfind(u']');
    if (close == Line::npos)
      return fail("key section without its closing ']'");
    if (skip_blanks(line, close + 1) != line.size())
      return fail("text after the key section's ']'");
    Line path = line.substr(1, close - 1);
    bool remove = !path.empty() && path[0] == '-';
    if (remove)
      path.remove_prefix(1);
    deleted_section_ = remove;
    size_t slash = path.find(u'\\');
    int root = reg_root_from_name(path.substr(0, slash));
    if (root < 0)
      return fail("unknown root key in key section");
    current_ = &tree_.roots[root];
    if (slash == Line::npos) {
      if (remove)
        return fail("a root key cannot be deleted");
      return true;
    }
    path.remove_prefix(slash + 1);
    size_t depth = 0;
    RegKey* parent = nullptr;
    Line last;
    while (true) {
      size_t end = path.find(u'\\');
      Line name = path.substr(0, end);
      if (name.empty())
        return fail("empty key name in key section");
      if (name.size() > kRegMaxKeyName)
        return fail("key name longer than 255 characters");
      // Names the API refuses, so such a key could never be opened: it takes names as
      // terminated strings, and a line break could not be written back into a section.
      if (name.find_first_of(Line(u"\0\r\n", 3)) != Line::npos)
        return fail("NUL or line break in a key name");
      if (++depth > kRegMaxDepth)
        return fail("key path deeper than 512 levels");
      if (end == Line::npos && remove) {
        parent = current_;
        last = name;
        break;
      }
      RegKey* child = reg_find_subkey(*current_, name);
      if (!child) {
        if (remove) {
          current_ = nullptr;  // nothing to delete
          return true;
        }
        RegKeyPtr key = reg_new_key();
        key->name.assign(name);
        child = key.get();
        current_->subkeys.emplace(reg_fold(name), std::move(key));
      }
      current_ = child;
      if (end == Line::npos)
        break;
      path.remove_prefix(end + 1);
    }
    if (remove) {
      auto it = parent->subkeys.find(reg_fold(last));
      if (it != parent->subkeys.end())
        parent->subkeys.erase(it);
      current_ = nullptr;  // values after a deleted section are ignored
    }
    return true;
  }

  // Reads "..." at pos (on the opening quote) into out; pos ends past the closing quote.
  bool quoted(Line line, size_t& pos, RegString& out) {
    out.clear();
    for (++pos; pos < line.size(); ++pos) {
      char16_t c = line[pos];
      if (c == '"') {
        ++pos;
        return true;
      }
      if (c == 0)
        return fail("NUL character in quoted text");
      if (c == '\\') {
        if (++pos == line.size())
          break;
        switch (line[pos]) {
          case '\\':
            c = '\\';
            break;
          case '"':
            c = '"';
            break;
          case 'n':
            c = '\n';
            break;
          case 'r':
            c = '\r';
            break;
          default:
            return fail("unknown escape in quoted text (only \\\\, \\\", \\n, \\r)");
        }
      }
      out.push_back(c);
    }
    return fail("quoted text without its closing '\"'");
  }

  static int hex_digit(char16_t c) {
    if (c >= '0' && c <= '9')
      return c - '0';
    if (c >= 'a' && c <= 'f')
      return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
      return c - 'A' + 10;
    return -1;
  }

  // Reads 1 to max_digits hex digits at pos.
  static bool hex_number(Line line, size_t& pos, size_t max_digits, uint32_t& out) {
    size_t start = pos;
    out = 0;
    while (pos < line.size() && hex_digit(line[pos]) >= 0) {
      if (pos - start == max_digits)
        return false;
      out = out << 4 | static_cast<uint32_t>(hex_digit(line[pos++]));
    }
    return pos > start;
  }

  static bool starts_with_nocase(Line line, size_t pos, std::u16string_view word) {
    return line.size() - pos >= word.size() && reg_names_equal(line.substr(pos, word.size()), word);
  }

  // Comma-separated hex bytes; a line ending in '\' continues on the next line.
  bool hex_list(Line line, size_t pos, RegBytes& out) {
    while (true) {
      pos = skip_blanks(line, pos);
      if (pos < line.size() && line[pos] == '\\' && at_end(line, pos + 1)) {
        if (!next_line())
          return fail("hex data continued past the end of the file");
        line = strip_cr(line_);
        pos = 0;
        continue;
      }
      if (at_end(line, pos))
        return true;
      uint32_t byte = 0;
      if (!hex_number(line, pos, 2, byte))
        return fail("bad byte in hex data (expected two hex digits)");
      out.push_back(static_cast<BYTE>(byte));
      pos = skip_blanks(line, pos);
      if (pos < line.size() && line[pos] == ',')
        ++pos;
      else if (!at_end(line, pos) && line[pos] != '\\')
        return fail("bad separator in hex data (expected ',')");
    }
  }

  // "name"=data or @=data, in the current section.
  bool value(Line line, size_t pos) {
    RegString name;
    if (line[pos] == '@') {
      ++pos;
    } else if (line[pos] == '"') {
      if (!quoted(line, pos, name))
        return false;
      if (name.size() > kRegMaxValueName)
        return fail("value name longer than 16383 characters");
      if (name.find(u'\0') != RegString::npos)
        return fail("NUL character in a value name");
    } else {
      return fail("expected a key section, a \"name\"=data or @=data line");
    }
    pos = skip_blanks(line, pos);
    if (pos == line.size() || line[pos] != '=')
      return fail("expected '=' after the value name");
    pos = skip_blanks(line, pos + 1);

    RegValue v;
    v.name = std::move(name);
    if (pos < line.size() && line[pos] == '-') {
      if (!at_end(line, pos + 1))
        return fail("text after '-'");
      if (current_)
        erase_value(*current_, v.name);
      return true;
    }
    if (pos < line.size() && line[pos] == '"') {
      RegString text;
      if (!quoted(line, pos, text))
        return false;
      if (!at_end(line, pos))
        return fail("text after the closing '\"'");
      v.type = REG_SZ;
      for (char16_t c : text) {
        v.data.push_back(static_cast<BYTE>(c & 0xFF));
        v.data.push_back(static_cast<BYTE>(c >> 8));
      }
      v.data.insert(v.data.end(), 2, 0);
    } else if (starts_with_nocase(line, pos, u"dword:")) {
      pos += 6;
      uint32_t n = 0;
      if (!hex_number(line, pos, 8, n) || !at_end(line, pos))
        return fail("bad dword data (expected 1 to 8 hex digits)");
      v.type = REG_DWORD;
      for (int i = 0; i < 4; ++i)
        v.data.push_back(static_cast<BYTE>(n >> (8 * i)));
    } else if (starts_with_nocase(line, pos, u"hex:")) {
      v.type = REG_BINARY;
      if (!hex_list(line, pos + 4, v.data))
        return false;
    } else if (starts_with_nocase(line, pos, u"hex(")) {
      pos += 4;
      uint32_t type = 0;
      if (!hex_number(line, pos, 8, type) || line.substr(pos, 2) != u"):")
        return fail("bad value type in hex(type): data");
      v.type = type;
      if (!hex_list(line, pos + 2, v.data))
        return false;
    } else {
      return fail("unknown data (expected \"text\", dword:, hex: or hex(type):)");
    }
    if (!current_)
      return deleted_section_ ? true : fail("value line outside a key section");
    erase_value(*current_, v.name);
    current_->values.push_back(std::move(v));
    return true;
  }

  static void erase_value(RegKey& key, const RegString& name) {
    for (auto it = key.values.begin(); it != key.values.end(); ++it) {
      if (reg_names_equal(it->name, name)) {
        key.values.erase(it);
        return;
      }
    }
  }

  std::u16string_view text_;
  RegTree& tree_;
  RegFileError& error_;
  size_t offset_ = 0;
  size_t line_number_ = 0;
  Line line_;
  RegKey* current_ = nullptr;
  bool deleted_section_ = false;
};

void put_ascii(RegString& out, const char* text) {
  while (*text)
    out.push_back(static_cast<char16_t>(*text++));
}

void put_escaped(RegString& out, std::u16string_view text) {
  for (char16_t c : text) {
    switch (c) {
      case '\\':
        put_ascii(out, "\\\\");
        break;
      case '"':
        put_ascii(out, "\\\"");
        break;
      case '\n':
        put_ascii(out, "\\n");
        break;
      case '\r':
        put_ascii(out, "\\r");
        break;
      default:
        out.push_back(c);
    }
  }
}

// REG_SZ data that reads back exactly from "text": whole units, one terminator at the end.
bool is_plain_string(const RegValue& v) {
  size_t n = v.data.size();
  if (v.type != REG_SZ || n < 2 || n % 2)
    return false;
  for (size_t i = 0; i + 2 < n; i += 2)
    if (v.data[i] == 0 && v.data[i + 1] == 0)
      return false;
  return v.data[n - 2] == 0 && v.data[n - 1] == 0;
}

void put_value(RegString& out, const RegValue& v) {
  size_t line_start = out.size();
  if (v.name.empty()) {
    out.push_back('@');
  } else {
    out.push_back('"');
    put_escaped(out, v.name);
    out.push_back('"');
  }
  out.push_back('=');
  char buf[32];
  if (is_plain_string(v)) {
    out.push_back('"');
    for (size_t i = 0; i + 2 < v.data.size(); i += 2) {
      char16_t c = static_cast<char16_t>(v.data[i] | v.data[i + 1] << 8);
      put_escaped(out, std::u16string_view(&c, 1));
    }
    out.push_back('"');
  } else if (v.type == REG_DWORD && v.data.size() == 4) {
    uint32_t n = static_cast<uint32_t>(v.data[0]) | static_cast<uint32_t>(v.data[1]) << 8 |
                 static_cast<uint32_t>(v.data[2]) << 16 | static_cast<uint32_t>(v.data[3]) << 24;
    std::snprintf(buf, sizeof buf, "dword:%08x", n);
    put_ascii(out, buf);
  } else {
    if (v.type == REG_BINARY) {
      put_ascii(out, "hex:");
    } else {
      std::snprintf(buf, sizeof buf, "hex(%x):", v.type);
      put_ascii(out, buf);
    }
    size_t column = out.size() - line_start;
    for (size_t i = 0; i < v.data.size(); ++i) {
      std::snprintf(buf, sizeof buf, "%02x", v.data[i]);
      put_ascii(out, buf);
      column += 2;
      if (i + 1 == v.data.size())
        break;
      out.push_back(',');
      if (++column > kWrapColumn) {
        put_ascii(out, "\\\r\n  ");
        column = 2;
      }
    }
  }
  put_ascii(out, "\r\n");
}

void put_key(RegString& out, const RegKey& key, RegString& path, bool is_root) {
  if (!is_root || !key.values.empty()) {
    put_ascii(out, "\r\n[");
    out += path;
    put_ascii(out, "]\r\n");
    for (const RegValue& v : key.values)
      put_value(out, v);
  }
  for (const auto& [folded, child] : key.subkeys) {
    size_t length = path.size();
    path.push_back('\\');
    path += child->name;
    put_key(out, *child, path, false);
    path.resize(length);
  }
}

}  // namespace

bool reg_file_parse(const RegBytes& bytes, RegTree& tree, RegFileError& error) {
  if (bytes.empty())
    return true;
  if (bytes.size() < 2 || bytes[0] != 0xFF || bytes[1] != 0xFE) {
    error.line = 1;
    error.message = "not UTF-16LE text with a byte order mark";
    return false;
  }
  RegString text;
  text.reserve(bytes.size() / 2);
  for (size_t i = 2; i + 1 < bytes.size(); i += 2)
    text.push_back(static_cast<char16_t>(bytes[i] | bytes[i + 1] << 8));
  Parser parser(text, tree, error);
  if (!parser.run())
    return false;
  if (bytes.size() % 2) {
    error.line = 1;
    for (char16_t c : text)
      error.line += c == '\n';
    error.message = "the file ends in half a UTF-16 character";
    return false;
  }
  return true;
}

void reg_file_format(const RegTree& tree, RegBytes& out) {
  RegString text;
  text.push_back(kByteOrderMark);
  text += kHeader;
  put_ascii(text, "\r\n");
  RegString path;
  for (int root = 0; root < kRegRootCount; ++root) {
    path = reg_root_name(root);
    put_key(text, tree.roots[root], path, true);
  }
  out.clear();
  out.reserve(text.size() * 2);
  for (char16_t c : text) {
    out.push_back(static_cast<BYTE>(c & 0xFF));
    out.push_back(static_cast<BYTE>(c >> 8));
  }
}
