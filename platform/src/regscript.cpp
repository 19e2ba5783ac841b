// The registry-script (.rgs) interpreter: PlatformRunRegScriptW and PlatformRunRegScriptA.
// A script runs in three steps: %NAME% replacement over the whole text, parsing into a tree of
// entries (so a malformed script is refused before the registry is touched), then registration
// or unregistration through the registry API. Script errors give DISP_E_EXCEPTION, as the
// platform's registrar does, with "line N: ..." saying where.
#include "regscript.h"

#include <algorithm>
#include <new>
#include <string_view>
#include <vector>

#include "sim_allocator.h"
#include "winnls.h"
#include "winreg.h"
#include "wtypes.h"

namespace {

using ScriptString = std::basic_string<WCHAR, std::char_traits<WCHAR>, SimAllocator<WCHAR>>;
using ScriptView = std::basic_string_view<WCHAR>;
using ScriptBytes = std::vector<BYTE, SimAllocator<BYTE>>;
template <typename T>
using ScriptVector = std::vector<T, SimAllocator<T>>;

// Longest token quoted in an error message.
constexpr size_t kQuotedTokenLimit = 64;

bool is_space(WCHAR c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

WCHAR fold(WCHAR c) {
  return c >= 'a' && c <= 'z' ? static_cast<WCHAR>(c - 'a' + 'A') : c;
}

bool equal_nocase(ScriptView a, ScriptView b) {
  if (a.size() != b.size())
    return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (fold(a[i]) != fold(b[i]))
      return false;
  return true;
}

void append_ascii(ScriptString& out, const char* text) {
  while (*text)
    out.push_back(static_cast<WCHAR>(*text++));
}

void append_number(ScriptString& out, unsigned long long n) {
  char buf[24];
  int len = 0;
  do {
    buf[len++] = static_cast<char>('0' + n % 10);
    n /= 10;
  } while (n);
  while (len)
    out.push_back(static_cast<WCHAR>(buf[--len]));
}

// The outcome of a run: the status and, on failure, "line N: message".
class Outcome {
 public:
  bool failed() const { return FAILED(status_); }
  HRESULT status() const { return status_; }
  const ScriptString& message() const { return message_; }

  // Records the first failure; returns false for one-line call sites.
  bool fail(HRESULT status, size_t line, const char* what, ScriptView token = {},
            const char* after = nullptr) {
    if (failed())
      return false;
    status_ = status;
    append_ascii(message_, "line ");
    append_number(message_, line);
    append_ascii(message_, ": ");
    append_ascii(message_, what);
    if (token.data()) {
      append_ascii(message_, " '");
      message_.append(token.substr(0, kQuotedTokenLimit));
      if (token.size() > kQuotedTokenLimit)
        append_ascii(message_, "...");
      message_.push_back('\'');
    }
    if (after)
      append_ascii(message_, after);
    return false;
  }

  bool fail_script(size_t line, const char* what, ScriptView token = {}) {
    return fail(DISP_E_EXCEPTION, line, what, token);
  }

  bool fail_registry(LONG status, size_t line, const char* what, ScriptView name) {
    if (failed())
      return false;
    fail(HRESULT_FROM_WIN32(static_cast<DWORD>(status)), line, what, name);
    append_ascii(message_, " (error ");
    append_number(message_, static_cast<unsigned long long>(status));
    message_.push_back(')');
    return false;
  }

 private:
  HRESULT status_ = S_OK;
  ScriptString message_;
};

struct Replacement {
  ScriptView name;
  ScriptView value;
};

// Phase 1 output: the replaced text and where each line of the original begins in it, so that
// errors name the script's own lines even when a replacement holds a line break.
struct Expanded {
  ScriptString text;
  ScriptVector<size_t> line_starts{0};

  size_t line_at(size_t offset) const {
    return static_cast<size_t>(std::upper_bound(line_starts.begin(), line_starts.end(), offset) -
                               line_starts.begin());
  }
};

bool expand(ScriptView script, const ScriptVector<Replacement>& replacements, Expanded& out,
            Outcome& outcome) {
  size_t line = 1;
  for (size_t i = 0; i < script.size(); ++i) {
    WCHAR c = script[i];
    if (c == '\n') {
      out.text.push_back(c);
      out.line_starts.push_back(out.text.size());
      ++line;
      continue;
    }
    if (c != '%') {
      out.text.push_back(c);
      continue;
    }
    size_t close = script.find(OLESTR('%'), i + 1);
    if (close == script.npos)
      return outcome.fail_script(line, "'%' without its closing '%'");
    ScriptView name = script.substr(i + 1, close - i - 1);
    if (name.empty()) {
      out.text.push_back('%');
    } else {
      auto found = std::find_if(replacements.begin(), replacements.end(),
                                [&](const Replacement& r) { return equal_nocase(r.name, name); });
      if (found == replacements.end())
        return outcome.fail_script(line, "unknown replacement", name);
      out.text.append(found->value);
    }
    i = close;
  }
  return true;
}

struct Token {
  ScriptString text;
  bool quoted = false;
  bool end = false;
  size_t line = 0;

  bool is(WCHAR punctuation) const {
    return !quoted && !end && text.size() == 1 && text[0] == punctuation;
  }
  bool is_word(ScriptView word) const { return !quoted && equal_nocase(text, word); }
};

// Phase 2 tokens: '}' and '=' alone, 'quoted text' ('' is one quote), or a run of non-space
// characters (so "{" alone opens a block, while {GUID} is a name).
class Lexer {
 public:
  Lexer(const Expanded& in, Outcome& outcome) : in_(in), outcome_(outcome) {}

  bool next(Token& t) {
    const ScriptString& s = in_.text;
    while (pos_ < s.size() && is_space(s[pos_]))
      ++pos_;
    t.text.clear();
    t.quoted = false;
    t.end = pos_ == s.size();
    t.line = in_.line_at(pos_);
    if (t.end)
      return true;
    if (s[pos_] == '}' || s[pos_] == '=') {
      t.text.push_back(s[pos_++]);
    } else if (s[pos_] == '\'') {
      t.quoted = true;
      for (++pos_;; ++pos_) {
        if (pos_ == s.size())
          return outcome_.fail_script(t.line, "quoted text without its closing quote");
        if (s[pos_] == '\'') {
          if (pos_ + 1 < s.size() && s[pos_ + 1] == '\'') {
            t.text.push_back('\'');
            ++pos_;
            continue;
          }
          ++pos_;
          break;
        }
        t.text.push_back(s[pos_]);
      }
    } else {
      size_t start = pos_;
      while (pos_ < s.size() && !is_space(s[pos_]))
        ++pos_;
      t.text.assign(s, start, pos_ - start);
    }
    return true;
  }

 private:
  const Expanded& in_;
  Outcome& outcome_;
  size_t pos_ = 0;
};

enum class EntryKind { kKey, kDelete, kValue };
enum class KeyFlag { kPlain, kNoRemove, kForceRemove };

struct Entry {
  EntryKind kind = EntryKind::kKey;
  KeyFlag flag = KeyFlag::kPlain;
  ScriptString name;
  bool has_data = false;
  DWORD type = REG_NONE;
  ScriptBytes data;
  std::vector<Entry, SimAllocator<Entry>> children;
  size_t line = 0;
};

struct RootBlock {
  HKEY root = nullptr;
  std::vector<Entry, SimAllocator<Entry>> entries;
};

HKEY root_key(const Token& t) {
  static const struct {
    const WCHAR* long_name;
    const WCHAR* short_name;
    HKEY key;
  } roots[] = {
      {OLESTR("HKEY_CLASSES_ROOT"), OLESTR("HKCR"), HKEY_CLASSES_ROOT},
      {OLESTR("HKEY_CURRENT_USER"), OLESTR("HKCU"), HKEY_CURRENT_USER},
      {OLESTR("HKEY_LOCAL_MACHINE"), OLESTR("HKLM"), HKEY_LOCAL_MACHINE},
      {OLESTR("HKEY_USERS"), OLESTR("HKU"), HKEY_USERS},
      {OLESTR("HKEY_PERFORMANCE_DATA"), OLESTR("HKPD"), HKEY_PERFORMANCE_DATA},
      {OLESTR("HKEY_DYN_DATA"), OLESTR("HKDD"), HKEY_DYN_DATA},
      {OLESTR("HKEY_CURRENT_CONFIG"), OLESTR("HKCC"), HKEY_CURRENT_CONFIG},
  };
  for (const auto& r : roots)
    if (equal_nocase(t.text, r.long_name) || equal_nocase(t.text, r.short_name))
      return r.key;
  return nullptr;
}

int hex_digit(WCHAR c) {
  if (c >= '0' && c <= '9')
    return c - '0';
  if (c >= 'a' && c <= 'f')
    return c - 'a' + 10;
  if (c >= 'A' && c <= 'F')
    return c - 'A' + 10;
  return -1;
}

class Parser {
 public:
  Parser(const Expanded& in, Outcome& outcome) : lexer_(in, outcome), outcome_(outcome) {}

  bool script(ScriptVector<RootBlock>& blocks) {
    while (true) {
      Token t;
      if (!lexer_.next(t))
        return false;
      if (t.end)
        return true;
      RootBlock block;
      block.root = root_key(t);
      if (!block.root)
        return outcome_.fail_script(t.line, "unknown root key", t.text);
      if (!lexer_.next(t))
        return false;
      if (!t.is('{'))
        return outcome_.fail_script(t.line, "expected '{' after the root key");
      if (!body(0, block.entries))
        return false;
      blocks.push_back(std::move(block));
    }
  }

 private:
  // The entries of a block up to its '}'; depth counts the key blocks around it.
  bool body(int depth, ScriptVector<Entry>& entries) {
    while (true) {
      Token t;
      if (!next(t))
        return false;
      if (t.end)
        return outcome_.fail_script(t.line, "missing '}' at the end of the script");
      if (t.is('}'))
        return true;
      Entry e;
      e.line = t.line;
      if (t.is_word(OLESTR("val"))) {
        e.kind = EntryKind::kValue;
        if (!name(e, /*allow_empty=*/true) || !next(t))
          return false;
        if (!t.is('='))
          return outcome_.fail_script(t.line, "expected '= type data' after 'val'", e.name);
        if (!data(e))
          return false;
        entries.push_back(std::move(e));
        continue;
      }
      if (t.is_word(OLESTR("Delete"))) {
        e.kind = EntryKind::kDelete;
        if (!name(e, /*allow_empty=*/false))
          return false;
        entries.push_back(std::move(e));
        continue;
      }
      if (t.is_word(OLESTR("NoRemove")) || t.is_word(OLESTR("ForceRemove"))) {
        e.flag = t.is_word(OLESTR("NoRemove")) ? KeyFlag::kNoRemove : KeyFlag::kForceRemove;
        if (!name(e, /*allow_empty=*/false))
          return false;
      } else if (!name_from(t, e, /*allow_empty=*/false)) {
        return false;
      }
      if (!peek())
        return false;
      if (lookahead_.is('=')) {
        have_lookahead_ = false;
        if (!data(e) || !peek())
          return false;
      }
      if (lookahead_.is('{')) {
        have_lookahead_ = false;
        if (depth + 1 > REGSCRIPT_MAX_DEPTH)
          return outcome_.fail_script(lookahead_.line, "key blocks nested deeper than 64 levels");
        if (!body(depth + 1, e.children))
          return false;
      }
      entries.push_back(std::move(e));
    }
  }

  bool next(Token& t) {
    if (have_lookahead_) {
      have_lookahead_ = false;
      t = std::move(lookahead_);
      return true;
    }
    return lexer_.next(t);
  }

  bool peek() {
    if (!have_lookahead_)
      have_lookahead_ = lexer_.next(lookahead_);
    return have_lookahead_;
  }

  bool name(Entry& e, bool allow_empty) {
    Token t;
    return next(t) && name_from(t, e, allow_empty);
  }

  bool name_from(Token& t, Entry& e, bool allow_empty) {
    if (t.end || t.is('{') || t.is('}') || t.is('='))
      return outcome_.fail_script(t.line, "expected a key or value name");
    // An empty key name would stand for the enclosing key itself.
    if (t.text.empty() && !allow_empty)
      return outcome_.fail_script(t.line, "empty key name");
    e.name = std::move(t.text);
    return true;
  }

  // "type data" after '='.
  bool data(Entry& e) {
    Token type;
    Token value;
    if (!next(type) || !next(value))
      return false;
    if (type.end || type.text.size() != 1 || type.quoted)
      return outcome_.fail_script(type.line, "expected a value type s, d or b, found", type.text);
    if (value.end || value.is('{') || value.is('}') || value.is('='))
      return outcome_.fail_script(value.line, "missing value data");
    e.has_data = true;
    switch (fold(type.text[0])) {
      case 'S':
        e.type = REG_SZ;
        for (WCHAR c : value.text) {
          e.data.push_back(static_cast<BYTE>(c & 0xFF));
          e.data.push_back(static_cast<BYTE>(c >> 8));
        }
        e.data.insert(e.data.end(), 2, 0);
        return true;
      case 'D': {
        // Decimal only, as the platform reads it, but refused rather than wrapped or cut at
        // the first non-digit.
        uint64_t n = 0;
        for (WCHAR c : value.text) {
          if (c < '0' || c > '9' || (n = n * 10 + (c - '0')) > 0xFFFFFFFFu)
            return outcome_.fail_script(
                value.line, "d data must be a decimal number from 0 to 4294967295", value.text);
        }
        if (value.text.empty())
          return outcome_.fail_script(value.line, "empty d data");
        e.type = REG_DWORD;
        for (int i = 0; i < 4; ++i)
          e.data.push_back(static_cast<BYTE>(n >> (8 * i)));
        return true;
      }
      case 'B':
        e.type = REG_BINARY;
        if (value.text.size() % 2)
          return outcome_.fail_script(value.line, "b data must be pairs of hex digits", value.text);
        for (size_t i = 0; i < value.text.size(); i += 2) {
          int hi = hex_digit(value.text[i]);
          int lo = hex_digit(value.text[i + 1]);
          if (hi < 0 || lo < 0)
            return outcome_.fail_script(value.line, "b data must be pairs of hex digits",
                                        value.text);
          e.data.push_back(static_cast<BYTE>(hi << 4 | lo));
        }
        return true;
      default:
        return outcome_.fail_script(type.line, "expected a value type s, d or b, found", type.text);
    }
  }

  Lexer lexer_;
  Outcome& outcome_;
  Token lookahead_;
  bool have_lookahead_ = false;
};

class KeyHolder {
 public:
  KeyHolder() = default;
  ~KeyHolder() {
    if (key_)
      RegCloseKey(key_);
  }
  KeyHolder(const KeyHolder&) = delete;
  KeyHolder& operator=(const KeyHolder&) = delete;
  HKEY get() const { return key_; }
  HKEY* receive() { return &key_; }

 private:
  HKEY key_ = nullptr;
};

constexpr REGSAM kAccess = KEY_READ | KEY_WRITE;

bool register_entries(HKEY parent, const ScriptVector<Entry>& entries, Outcome& outcome) {
  for (const Entry& e : entries) {
    const BYTE* data = e.data.empty() ? nullptr : e.data.data();
    DWORD size = static_cast<DWORD>(e.data.size());
    LONG status = ERROR_SUCCESS;
    switch (e.kind) {
      case EntryKind::kValue:
        status = RegSetValueExW(parent, e.name.c_str(), 0, e.type, data, size);
        if (status != ERROR_SUCCESS)
          return outcome.fail_registry(status, e.line, "cannot set value", e.name);
        break;
      case EntryKind::kDelete:
        status = RegDeleteTreeW(parent, e.name.c_str());
        if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND)
          return outcome.fail_registry(status, e.line, "cannot delete key", e.name);
        break;
      case EntryKind::kKey: {
        if (e.flag == KeyFlag::kForceRemove) {
          status = RegDeleteTreeW(parent, e.name.c_str());
          if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND)
            return outcome.fail_registry(status, e.line, "cannot delete key", e.name);
        }
        KeyHolder key;
        status = RegCreateKeyExW(parent, e.name.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                 kAccess, nullptr, key.receive(), nullptr);
        if (status != ERROR_SUCCESS)
          return outcome.fail_registry(status, e.line, "cannot create key", e.name);
        if (e.has_data) {
          status = RegSetValueExW(key.get(), nullptr, 0, e.type, data, size);
          if (status != ERROR_SUCCESS)
            return outcome.fail_registry(status, e.line, "cannot set the default value of key",
                                         e.name);
        }
        if (!register_entries(key.get(), e.children, outcome))
          return false;
        break;
      }
    }
  }
  return true;
}

bool unregister_entries(HKEY parent, const ScriptVector<Entry>& entries, Outcome& outcome) {
  for (const Entry& e : entries) {
    if (e.kind != EntryKind::kKey)
      continue;
    if (!e.children.empty()) {
      KeyHolder key;
      LONG status = RegOpenKeyExW(parent, e.name.c_str(), 0, kAccess, key.receive());
      if (status == ERROR_FILE_NOT_FOUND)
        continue;  // nothing of it is registered
      if (status != ERROR_SUCCESS)
        return outcome.fail_registry(status, e.line, "cannot open key", e.name);
      if (!unregister_entries(key.get(), e.children, outcome))
        return false;
    }
    if (e.flag == KeyFlag::kNoRemove)
      continue;
    // Not recursive: a key that still has subkeys (someone else's) stays.
    LONG status = RegDeleteKeyW(parent, e.name.c_str());
    if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND && status != ERROR_ACCESS_DENIED)
      return outcome.fail_registry(status, e.line, "cannot delete key", e.name);
  }
  return true;
}

void run(ScriptView script, const ScriptVector<Replacement>& replacements, bool do_register,
         Outcome& outcome) {
  Expanded expanded;
  if (!expand(script, replacements, expanded, outcome))
    return;
  ScriptVector<RootBlock> blocks;
  Parser parser(expanded, outcome);
  if (!parser.script(blocks))
    return;
  if (!do_register) {
    for (const RootBlock& b : blocks)
      if (!unregister_entries(b.root, b.entries, outcome))
        return;
    return;
  }
  for (const RootBlock& b : blocks) {
    if (!register_entries(b.root, b.entries, outcome)) {
      // Undo what this run wrote; the registration's failure is what the caller hears.
      Outcome undo;
      for (const RootBlock& done : blocks)
        unregister_entries(done.root, done.entries, undo);
      return;
    }
  }
}

template <typename Char>
void give_message(const Char* text, size_t length, Char* out, DWORD size) {
  if (!out || size == 0)
    return;
  length = std::min<size_t>(length, size - 1);
  std::copy(text, text + length, out);
  out[length] = 0;
}

bool to_wide(LPCSTR text, ScriptString& out) {
  out.clear();
  size_t n = std::char_traits<char>::length(text);
  if (n == 0)
    return true;
  if (n > 0x7FFFFFFE)
    return false;
  int units = MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(n), nullptr, 0);
  if (units <= 0)
    return false;
  out.resize(static_cast<size_t>(units));
  return MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(n), out.data(), units) == units;
}

// The message in the ANSI code page, cut at a character boundary to fit size bytes.
void give_message_ansi(const ScriptString& message, LPSTR out, DWORD size) {
  if (!out || size == 0)
    return;
  out[0] = 0;
  for (size_t units = message.size(); units > 0; --units) {
    int n = WideCharToMultiByte(CP_ACP, 0, message.data(), static_cast<int>(units), nullptr, 0,
                                nullptr, nullptr);
    if (n > 0 && static_cast<DWORD>(n) < size) {
      WideCharToMultiByte(CP_ACP, 0, message.data(), static_cast<int>(units), out, n, nullptr,
                          nullptr);
      out[n] = 0;
      return;
    }
  }
}

}  // namespace

HRESULT PlatformRunRegScriptW(LPCWSTR pszScript, const REGSCRIPT_REPLACEMENTW* pReplacements,
                              DWORD cReplacements, BOOL bRegister, LPWSTR pszError,
                              DWORD cchError) {
  give_message(OLESTR(""), 0, pszError, cchError);
  if (!pszScript || (cReplacements && !pReplacements))
    return E_INVALIDARG;
  for (DWORD i = 0; i < cReplacements; ++i)
    if (!pReplacements[i].pszName || !pReplacements[i].pszValue)
      return E_INVALIDARG;
  try {
    ScriptVector<Replacement> replacements;
    for (DWORD i = 0; i < cReplacements; ++i)
      replacements.push_back({pReplacements[i].pszName, pReplacements[i].pszValue});
    Outcome outcome;
    run(pszScript, replacements, bRegister != FALSE, outcome);
    give_message(outcome.message().data(), outcome.message().size(), pszError, cchError);
    return outcome.status();
  } catch (const std::exception&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT PlatformRunRegScriptA(LPCSTR pszScript, const REGSCRIPT_REPLACEMENTA* pReplacements,
                              DWORD cReplacements, BOOL bRegister, LPSTR pszError, DWORD cchError) {
  give_message("", 0, pszError, cchError);
  if (!pszScript || (cReplacements && !pReplacements))
    return E_INVALIDARG;
  for (DWORD i = 0; i < cReplacements; ++i)
    if (!pReplacements[i].pszName || !pReplacements[i].pszValue)
      return E_INVALIDARG;
  try {
    ScriptString script;
    ScriptVector<ScriptString> texts(2 * static_cast<size_t>(cReplacements));
    if (!to_wide(pszScript, script))
      return E_INVALIDARG;
    ScriptVector<Replacement> replacements;
    for (DWORD i = 0; i < cReplacements; ++i) {
      if (!to_wide(pReplacements[i].pszName, texts[2 * i]) ||
          !to_wide(pReplacements[i].pszValue, texts[2 * i + 1]))
        return E_INVALIDARG;
      replacements.push_back({texts[2 * i], texts[2 * i + 1]});
    }
    Outcome outcome;
    run(script, replacements, bRegister != FALSE, outcome);
    give_message_ansi(outcome.message(), pszError, cchError);
    return outcome.status();
  } catch (const std::exception&) {
    return E_OUTOFMEMORY;
  }
}
