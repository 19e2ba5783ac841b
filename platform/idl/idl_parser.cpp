// Recursive-descent parser of the project's IDL subset. Errors are thrown inside as ParseError
// and turned into "file:line: message" at the entry point. Nesting is shallow by grammar; the
// only recursion on input is in constant expressions and skipped attribute arguments, both
// bounded.
#include "idl_parser.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <new>
#include <set>

#include "idl_tokens.h"

namespace idl {
namespace {

using namespace detail;

constexpr int kMaxNesting = 32;

// "6b29fc40-CA47-1067-B31D-00DD010662DA" → upper-case canonical text; throws when malformed.
std::string canonical_uuid(const std::string& raw, int line) {
  std::string s;
  for (char c : raw)
    if (c != ' ' && c != '\t')
      s += c;
  if (s.size() >= 2 && s.front() == '{' && s.back() == '}')
    s = s.substr(1, s.size() - 2);
  static const int kGroups[] = {8, 4, 4, 4, 12};
  size_t at = 0;
  for (int g = 0; g < 5; ++g) {
    for (int k = 0; k < kGroups[g]; ++k, ++at) {
      if (at >= s.size() || !std::isxdigit(static_cast<unsigned char>(s[at])))
        fail(line, "malformed uuid '" + raw.substr(0, 60) + "'");
      s[at] = static_cast<char>(std::toupper(static_cast<unsigned char>(s[at])));
    }
    if (g < 4) {
      if (at >= s.size() || s[at] != '-')
        fail(line, "malformed uuid '" + raw.substr(0, 60) + "'");
      ++at;
    }
  }
  if (at != s.size())
    fail(line, "malformed uuid '" + raw.substr(0, 60) + "'");
  return s;
}

struct Attribute {
  std::string name;
  std::vector<Token> args;       // the argument tokens, outer parentheses removed
  std::optional<Literal> value;  // evaluated argument where one was expected
  int line = 0;
};

class Parser {
 public:
  Parser(std::vector<Token> tokens, Library& library) : tokens_(std::move(tokens)), lib_(library) {}

  void parse_file() {
    while (!at_end())
      parse_item(/*in_library=*/false);
    finish();
  }

 private:
  // --- token access ---------------------------------------------------------------------------
  const Token& peek(size_t ahead = 0) const {
    const size_t at = pos_ + ahead;
    return at < tokens_.size() ? tokens_[at] : tokens_.back();
  }
  bool at_end() const { return peek().kind == Tok::kEnd; }
  Token take() {
    Token t = peek();
    if (pos_ < tokens_.size() - 1)
      ++pos_;
    return t;
  }
  bool is_punct(const char* p, size_t ahead = 0) const {
    return peek(ahead).kind == Tok::kPunct && peek(ahead).text == p;
  }
  bool is_ident(const char* word, size_t ahead = 0) const {
    return peek(ahead).kind == Tok::kIdent && peek(ahead).text == word;
  }
  bool accept(const char* p) {
    if (!is_punct(p))
      return false;
    take();
    return true;
  }
  void expect(const char* p) {
    if (!accept(p))
      fail(peek().line, std::string("expected '") + p + "' but found " + describe(peek()));
  }
  std::string expect_ident(const char* what) {
    if (peek().kind != Tok::kIdent)
      fail(peek().line, std::string("expected ") + what + " but found " + describe(peek()));
    return take().text;
  }
  static std::string describe(const Token& t) {
    switch (t.kind) {
      case Tok::kEnd:
        return "end of file";
      case Tok::kString:
        return "a string";
      default:
        return "'" + t.text.substr(0, 40) + "'";
    }
  }

  // --- attributes -----------------------------------------------------------------------------
  std::vector<Attribute> parse_attributes() {
    std::vector<Attribute> attrs;
    if (!accept("["))
      return attrs;
    if (accept("]"))
      return attrs;
    do {
      Attribute a;
      a.line = peek().line;
      a.name = expect_ident("an attribute name");
      if (accept("(")) {
        int depth = 1;
        while (depth > 0) {
          if (at_end())
            fail(a.line, "unterminated attribute '" + a.name + "'");
          if (is_punct("(")) {
            if (++depth > kMaxNesting)
              fail(peek().line, "nesting too deep");
          } else if (is_punct(")") && --depth == 0) {
            take();
            break;
          }
          a.args.push_back(take());
        }
      }
      attrs.push_back(std::move(a));
    } while (accept(","));
    expect("]");
    return attrs;
  }

  static const Attribute* find(const std::vector<Attribute>& attrs, const char* name) {
    for (const Attribute& a : attrs)
      if (a.name == name)
        return &a;
    return nullptr;
  }

  std::string string_arg(const Attribute& a) {
    if (a.args.size() != 1 || a.args[0].kind != Tok::kString)
      fail(a.line, a.name + " needs one string argument");
    return a.args[0].text;
  }

  std::string uuid_arg(const Attribute& a) {
    if (a.args.size() != 1 || a.args[0].kind != Tok::kRaw)
      fail(a.line, "uuid needs one argument");
    return canonical_uuid(a.args[0].text, a.line);
  }

  Literal expression_arg(const Attribute& a) {
    if (a.args.empty())
      fail(a.line, a.name + " needs an argument");
    ExprReader reader{a.args, 0, this};
    Literal value = reader.expression(0);
    if (reader.pos != a.args.size())
      fail(a.line, "unexpected text in " + a.name + "(...)");
    return value;
  }

  // Constant expressions: literals, names of known constants, unary - ~, binary | & + - <<.
  struct ExprReader {
    const std::vector<Token>& toks;
    size_t pos;
    Parser* parser;

    const Token* peek() const { return pos < toks.size() ? &toks[pos] : nullptr; }
    bool punct(const char* p) const {
      return peek() && peek()->kind == Tok::kPunct && peek()->text == p;
    }
    Literal expression(int depth) {
      if (depth > kMaxNesting)
        fail(toks.front().line, "expression nested too deep");
      Literal left = unary(depth);
      while (punct("|") || punct("&") || punct("+") || punct("-") || punct("<<")) {
        const std::string op = toks[pos++].text;
        Literal right = unary(depth);
        if (left.kind != Literal::Kind::kInteger || right.kind != Literal::Kind::kInteger)
          fail(toks.front().line, "operator " + op + " needs integers");
        if (op == "|")
          left.integer |= right.integer;
        if (op == "&")
          left.integer &= right.integer;
        if (op == "+")
          left.integer = static_cast<int64_t>(static_cast<uint64_t>(left.integer) +
                                              static_cast<uint64_t>(right.integer));
        if (op == "-")
          left.integer = static_cast<int64_t>(static_cast<uint64_t>(left.integer) -
                                              static_cast<uint64_t>(right.integer));
        if (op == "<<") {
          if (right.integer < 0 || right.integer > 62)
            fail(toks.front().line, "shift out of range");
          left.integer = static_cast<int64_t>(static_cast<uint64_t>(left.integer) << right.integer);
        }
      }
      return left;
    }
    Literal unary(int depth) {
      if (depth > kMaxNesting)
        fail(toks.front().line, "expression nested too deep");
      const Token* t = peek();
      if (!t)
        fail(toks.empty() ? 0 : toks.back().line, "expression expected");
      if (punct("-") || punct("~") || punct("+")) {
        const std::string op = toks[pos++].text;
        Literal v = unary(depth + 1);
        if (op == "-") {
          if (v.kind == Literal::Kind::kInteger)
            v.integer = static_cast<int64_t>(0 - static_cast<uint64_t>(v.integer));
          else if (v.kind == Literal::Kind::kFloat)
            v.floating = -v.floating;
          else
            fail(t->line, "cannot negate this value");
        } else if (op == "~") {
          if (v.kind != Literal::Kind::kInteger)
            fail(t->line, "~ needs an integer");
          v.integer = ~v.integer;
        }
        return v;
      }
      if (punct("(")) {
        ++pos;
        Literal v = expression(depth + 1);
        if (!punct(")"))
          fail(t->line, "expected ')'");
        ++pos;
        return v;
      }
      ++pos;
      Literal v;
      if (t->kind == Tok::kString) {
        v.kind = Literal::Kind::kString;
        v.text = t->text;
        return v;
      }
      if (t->kind == Tok::kNumber)
        return number(*t);
      if (t->kind == Tok::kIdent) {
        if (t->text == "TRUE" || t->text == "VARIANT_TRUE" || t->text == "true") {
          v.kind = Literal::Kind::kBool;
          v.integer = -1;
          return v;
        }
        if (t->text == "FALSE" || t->text == "VARIANT_FALSE" || t->text == "false") {
          v.kind = Literal::Kind::kBool;
          v.integer = 0;
          return v;
        }
        auto known = parser->constants_.find(t->text);
        if (known == parser->constants_.end())
          fail(t->line, "unknown constant '" + t->text + "'");
        v.kind = Literal::Kind::kInteger;
        v.integer = known->second;
        return v;
      }
      fail(t->line, "unexpected " + describe(*t) + " in expression");
    }
    static Literal number(const Token& t) {
      Literal v;
      std::string s = t.text;
      const bool hex = s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X');
      if (!hex && (s.find('.') != std::string::npos || s.find('e') != std::string::npos ||
                   s.find('E') != std::string::npos)) {
        char* end = nullptr;
        errno = 0;
        v.floating = std::strtod(s.c_str(), &end);
        if (*end || errno == ERANGE)
          fail(t.line, "bad number '" + s.substr(0, 40) + "'");
        v.kind = Literal::Kind::kFloat;
        return v;
      }
      while (!s.empty() &&
             (s.back() == 'L' || s.back() == 'l' || s.back() == 'U' || s.back() == 'u'))
        s.pop_back();
      char* end = nullptr;
      errno = 0;
      const unsigned long long u = std::strtoull(s.c_str(), &end, hex ? 16 : 10);
      if (s.empty() || *end || errno == ERANGE || u > 0xFFFFFFFFull)
        fail(t.line, "bad or too large number '" + t.text.substr(0, 40) + "'");
      v.kind = Literal::Kind::kInteger;
      // Hex constants above 0x7FFFFFFF are 32-bit patterns (0x80020003 is a negative DISPID).
      v.integer = hex && u > 0x7FFFFFFFull ? static_cast<int32_t>(static_cast<uint32_t>(u))
                                           : static_cast<int64_t>(u);
      return v;
    }
  };

  // --- items ----------------------------------------------------------------------------------
  void parse_item(bool in_library) {
    if (accept(";"))
      return;
    const int line = peek().line;
    if (is_ident("import")) {
      take();
      do {
        if (peek().kind != Tok::kString)
          fail(peek().line, "import needs a file name");
        lib_.imports.push_back(take().text);
      } while (accept(","));
      expect(";");
      return;
    }
    if (is_ident("importlib")) {
      take();
      expect("(");
      if (peek().kind != Tok::kString)
        fail(peek().line, "importlib needs a file name");
      lib_.importlibs.push_back(take().text);
      expect(")");
      accept(";");
      return;
    }
    if (is_ident("cpp_quote") || is_ident("midl_pragma")) {
      take();
      expect("(");
      int depth = 1;
      while (depth > 0) {
        if (at_end())
          fail(line, "unterminated cpp_quote");
        if (is_punct("("))
          ++depth;
        if (is_punct(")"))
          --depth;
        take();
      }
      accept(";");
      return;
    }
    std::vector<Attribute> attrs = parse_attributes();
    const Token word = peek();
    if (word.kind != Tok::kIdent)
      fail(word.line, "expected a declaration but found " + describe(word));
    if (word.text == "interface" || word.text == "dispinterface") {
      take();
      parse_interface(attrs, word.text == "dispinterface", word.line);
    } else if (word.text == "library") {
      if (in_library || lib_.has_library)
        fail(word.line, "only one library block is allowed");
      take();
      parse_library(attrs, word.line);
    } else if (word.text == "coclass") {
      take();
      parse_coclass(attrs, word.line);
    } else if (word.text == "typedef") {
      take();
      std::vector<Attribute> inner = parse_attributes();
      for (Attribute& a : inner)
        attrs.push_back(std::move(a));
      if (is_ident("enum")) {
        take();
        parse_enum(attrs, /*typedef_form=*/true, word.line);
      } else {
        parse_alias(word.line);
      }
    } else if (word.text == "enum") {
      take();
      parse_enum(attrs, /*typedef_form=*/false, word.line);
    } else {
      fail(word.line, "unexpected '" + word.text.substr(0, 40) + "'");
    }
  }

  // typedef <type> Name; the name stands for the type wherever it is used afterwards.
  void parse_alias(int line) {
    Type type = parse_type();
    if (type.safearray)
      fail(line, "only enums and plain types can be typedef'd");
    const std::string name = expect_ident("the typedef name");
    expect(";");
    if (aliases_.count(name) || known_type_name(name))
      fail(line, "type " + name + " is defined twice");
    aliases_[name] = type;
  }

  void parse_library(const std::vector<Attribute>& attrs, int line) {
    lib_.has_library = true;
    lib_.name = expect_ident("a library name");
    for (const Attribute& a : attrs) {
      if (a.name == "uuid") {
        lib_.uuid = uuid_arg(a);
      } else if (a.name == "version") {
        std::string v;
        for (const Token& t : a.args)
          v += t.text;
        unsigned major = 0;
        unsigned minor = 0;
        char dot = 0;
        char extra = 0;
        const int got = std::sscanf(v.c_str(), "%5u%c%5u%c", &major, &dot, &minor, &extra);
        if (!((got == 1) || (got == 3 && dot == '.')) || major > 0xFFFF || minor > 0xFFFF)
          fail(a.line, "bad version '" + v.substr(0, 20) + "'");
        lib_.version_major = static_cast<int>(major);
        lib_.version_minor = static_cast<int>(minor);
      } else if (a.name == "helpstring") {
        lib_.helpstring = string_arg(a);
      } else if (a.name == "lcid") {
        Literal l = expression_arg(a);
        if (l.kind != Literal::Kind::kInteger || l.integer < 0 || l.integer > 0xFFFFFFFF)
          fail(a.line, "bad lcid");
        lib_.lcid = static_cast<uint32_t>(l.integer);
      }
    }
    if (lib_.uuid.empty())
      fail(line, "library " + lib_.name + " has no uuid");
    expect("{");
    while (!accept("}")) {
      if (at_end())
        fail(line, "unterminated library block");
      parse_item(/*in_library=*/true);
    }
    accept(";");
  }

  void parse_interface(const std::vector<Attribute>& attrs, bool dispinterface, int line) {
    Interface itf;
    itf.line = line;
    itf.dispinterface = dispinterface;
    itf.name = expect_ident("an interface name");
    for (const Attribute& a : attrs) {
      if (a.name == "uuid")
        itf.uuid = uuid_arg(a);
      else if (a.name == "helpstring")
        itf.helpstring = string_arg(a);
      else if (a.name == "dual")
        itf.dual = true;
      else if (a.name == "oleautomation")
        itf.oleautomation = true;
      else if (a.name == "object")
        itf.object = true;
      else if (a.name == "hidden")
        itf.hidden = true;
      else if (a.name == "nonextensible")
        itf.nonextensible = true;
    }
    if (accept(";")) {
      itf.forward_only = true;
      declare_interface(std::move(itf));
      return;
    }
    if (dispinterface)
      fail(line, "dispinterface bodies are not supported");
    if (accept(":"))
      itf.base = expect_ident("a base interface name");
    if (itf.uuid.empty())
      fail(line, "interface " + itf.name + " has no uuid");
    if (itf.base.empty() && itf.name != "IUnknown")
      fail(line, "interface " + itf.name + " has no base interface");
    expect("{");
    while (!accept("}")) {
      if (at_end())
        fail(line, "unterminated interface " + itf.name);
      itf.methods.push_back(parse_method());
    }
    accept(";");
    declare_interface(std::move(itf));
  }

  void declare_interface(Interface itf) {
    // Definitions keep their order of definition; a forward declaration only holds a place
    // until its definition comes.
    for (auto it = lib_.interfaces.begin(); it != lib_.interfaces.end(); ++it) {
      if (it->name != itf.name)
        continue;
      if (itf.forward_only)
        return;
      if (!it->forward_only)
        fail(itf.line, "interface " + itf.name + " is defined twice");
      lib_.interfaces.erase(it);
      break;
    }
    lib_.interfaces.push_back(std::move(itf));
  }

  Method parse_method() {
    Method m;
    std::vector<Attribute> attrs = parse_attributes();
    m.line = peek().line;
    int kinds = 0;
    for (const Attribute& a : attrs) {
      if (a.name == "id") {
        Literal l = expression_arg(a);
        if (l.kind != Literal::Kind::kInteger || l.integer < INT32_MIN || l.integer > INT32_MAX)
          fail(a.line, "bad id");
        m.id = static_cast<int32_t>(l.integer);
      } else if (a.name == "propget") {
        m.kind = MemberKind::kPropGet, ++kinds;
      } else if (a.name == "propput") {
        m.kind = MemberKind::kPropPut, ++kinds;
      } else if (a.name == "propputref") {
        m.kind = MemberKind::kPropPutRef, ++kinds;
      } else if (a.name == "helpstring") {
        m.helpstring = string_arg(a);
      } else if (a.name == "restricted") {
        m.restricted = true;
      } else if (a.name == "hidden") {
        m.hidden = true;
      } else if (a.name == "vararg") {
        m.vararg = true;
      }
    }
    if (kinds > 1)
      fail(m.line, "a member can be only one of propget, propput, propputref");
    m.result = parse_type();
    m.name = expect_ident("a method name");
    expect("(");
    if (is_ident("void") && is_punct(")", 1))
      take();
    if (!accept(")")) {
      do {
        m.params.push_back(parse_param());
      } while (accept(","));
      expect(")");
    }
    expect(";");
    check_method(m);
    return m;
  }

  Param parse_param() {
    Param p;
    std::vector<Attribute> attrs = parse_attributes();
    for (const Attribute& a : attrs) {
      if (a.name == "in")
        p.in = true;
      else if (a.name == "out")
        p.out = true;
      else if (a.name == "retval")
        p.retval = true;
      else if (a.name == "optional")
        p.optional = true;
      else if (a.name == "lcid")
        p.lcid = true;
      else if (a.name == "defaultvalue")
        p.default_value = expression_arg(a);
    }
    p.type = parse_type();
    p.name = expect_ident("a parameter name");
    if (accept("[")) {
      // An array declarator: passed as a pointer.
      expect("]");
      ++p.type.pointer_level;
    }
    if (!p.in && !p.out)
      p.in = true;
    return p;
  }

  void check_method(const Method& m) {
    bool seen_optional = false;
    for (size_t i = 0; i < m.params.size(); ++i) {
      const Param& p = m.params[i];
      if (p.retval && (!p.out || i + 1 != m.params.size()))
        fail(m.line, m.name + ": retval must be the last parameter and out");
      if (p.out && p.type.pointer_level < 1)
        fail(m.line, m.name + ": out parameter " + p.name + " must be a pointer");
      if (p.optional || p.default_value) {
        seen_optional = true;
      } else if (seen_optional && !p.retval && !p.lcid &&
                 !(m.kind != MemberKind::kMethod && m.kind != MemberKind::kPropGet &&
                   i + 1 == m.params.size())) {
        // (A put's value comes last, after any optional index: that one is allowed.)
        fail(m.line, m.name + ": parameter " + p.name + " follows an optional one");
      }
    }
    if (m.kind == MemberKind::kPropGet && (m.params.empty() || !m.params.back().out))
      fail(m.line, m.name + ": propget needs an out parameter last");
    if ((m.kind == MemberKind::kPropPut || m.kind == MemberKind::kPropPutRef) &&
        (m.params.empty() || m.params.back().out))
      fail(m.line, m.name + ": propput needs an in parameter last");
  }

  Type parse_type() {
    Type t;
    const int line = peek().line;
    if (is_ident("const")) {
      take();
      t.is_const = true;
    }
    if (is_ident("SAFEARRAY")) {
      take();
      expect("(");
      Type element = parse_type();
      expect(")");
      if (element.safearray)
        fail(line, "nested SAFEARRAY is not supported");
      t = element;
      t.safearray = true;
      t.element_pointer_level = element.pointer_level;
      t.pointer_level = 0;
    } else {
      t.base = parse_base_type(t.user_name);
      auto alias = aliases_.find(t.user_name);
      if (t.base == BaseType::kUserDefined && alias != aliases_.end()) {
        const bool is_const = t.is_const;
        t = alias->second;
        t.is_const = t.is_const || is_const;
      }
    }
    while (accept("*")) {
      if (++t.pointer_level > 3)
        fail(line, "too many pointer levels");
      if (is_ident("const"))
        take();
    }
    if ((t.base == BaseType::kUnknown || t.base == BaseType::kDispatch) && !t.safearray &&
        t.pointer_level == 0)
      fail(line, "interfaces are passed by pointer");
    return t;
  }

  BaseType parse_base_type(std::string& user_name) {
    const Token t = peek();
    if (t.kind != Tok::kIdent)
      fail(t.line, "expected a type but found " + describe(t));
    take();
    const std::string& w = t.text;
    if (w == "unsigned" || w == "signed") {
      const bool is_unsigned = w == "unsigned";
      std::string next = peek().kind == Tok::kIdent ? peek().text : "";
      if (next == "long" && is_ident("long", 1)) {
        take();
        take();
        return is_unsigned ? BaseType::kUI8 : BaseType::kI8;
      }
      if (next == "char" || next == "small") {
        take();
        return is_unsigned ? BaseType::kUI1 : BaseType::kI1;
      }
      if (next == "short") {
        take();
        if (is_ident("int"))
          take();
        return is_unsigned ? BaseType::kUI2 : BaseType::kI2;
      }
      if (next == "long") {
        take();
        if (is_ident("int"))
          take();
        return is_unsigned ? BaseType::kUI4 : BaseType::kI4;
      }
      if (next == "int") {
        take();
        return is_unsigned ? BaseType::kUInt : BaseType::kInt;
      }
      if (next == "hyper" || next == "__int64") {
        take();
        return is_unsigned ? BaseType::kUI8 : BaseType::kI8;
      }
      return is_unsigned ? BaseType::kUInt : BaseType::kInt;
    }
    if (w == "long") {
      if (is_ident("long")) {
        take();
        return BaseType::kI8;
      }
      if (is_ident("int"))
        take();
      return BaseType::kI4;
    }
    if (w == "short") {
      if (is_ident("int"))
        take();
      return BaseType::kI2;
    }
    static const std::map<std::string, BaseType> kNames = {
        {"void", BaseType::kVoid},
        {"HRESULT", BaseType::kHresult},
        {"SCODE", BaseType::kScode},
        {"int", BaseType::kInt},
        {"INT", BaseType::kInt},
        {"UINT", BaseType::kUInt},
        {"LONG", BaseType::kI4},
        {"ULONG", BaseType::kUI4},
        {"DWORD", BaseType::kUI4},
        {"BOOL", BaseType::kI4},
        {"SHORT", BaseType::kI2},
        {"USHORT", BaseType::kUI2},
        {"WORD", BaseType::kUI2},
        {"char", BaseType::kI1},
        {"CHAR", BaseType::kI1},
        {"small", BaseType::kI1},
        {"byte", BaseType::kUI1},
        {"BYTE", BaseType::kUI1},
        {"UCHAR", BaseType::kUI1},
        {"boolean", BaseType::kUI1},
        {"hyper", BaseType::kI8},
        {"__int64", BaseType::kI8},
        {"LONGLONG", BaseType::kI8},
        {"ULONGLONG", BaseType::kUI8},
        {"float", BaseType::kR4},
        {"FLOAT", BaseType::kR4},
        {"double", BaseType::kR8},
        {"DOUBLE", BaseType::kR8},
        {"DATE", BaseType::kDate},
        {"CURRENCY", BaseType::kCy},
        {"CY", BaseType::kCy},
        {"DECIMAL", BaseType::kDecimal},
        {"VARIANT_BOOL", BaseType::kBool},
        {"BSTR", BaseType::kBstr},
        {"VARIANT", BaseType::kVariant},
        {"VARIANTARG", BaseType::kVariant},
        {"LPSTR", BaseType::kLpStr},
        {"LPWSTR", BaseType::kLpWStr},
        {"LPOLESTR", BaseType::kLpWStr},
        {"LPCOLESTR", BaseType::kLpWStr},
        {"IUnknown", BaseType::kUnknown},
        {"IDispatch", BaseType::kDispatch},
    };
    auto known = kNames.find(w);
    if (known != kNames.end())
      return known->second;
    user_name = w;
    return BaseType::kUserDefined;
  }

  void parse_coclass(const std::vector<Attribute>& attrs, int line) {
    Coclass c;
    c.line = line;
    c.name = expect_ident("a coclass name");
    for (const Attribute& a : attrs) {
      if (a.name == "uuid")
        c.uuid = uuid_arg(a);
      else if (a.name == "helpstring")
        c.helpstring = string_arg(a);
      else if (a.name == "noncreatable")
        c.noncreatable = true;
    }
    if (c.uuid.empty())
      fail(line, "coclass " + c.name + " has no uuid");
    expect("{");
    while (!accept("}")) {
      if (at_end())
        fail(line, "unterminated coclass " + c.name);
      CoclassMember m;
      for (const Attribute& a : parse_attributes()) {
        if (a.name == "default")
          m.is_default = true;
        if (a.name == "source")
          m.source = true;
      }
      if (!is_ident("interface") && !is_ident("dispinterface"))
        fail(peek().line, "expected interface in coclass " + c.name);
      take();
      m.interface_name = expect_ident("an interface name");
      expect(";");
      c.members.push_back(std::move(m));
    }
    accept(";");
    for (const Coclass& existing : lib_.coclasses)
      if (existing.name == c.name)
        fail(line, "coclass " + c.name + " is defined twice");
    lib_.coclasses.push_back(std::move(c));
  }

  void parse_enum(const std::vector<Attribute>& attrs, bool typedef_form, int line) {
    Enum e;
    e.line = line;
    for (const Attribute& a : attrs) {
      if (a.name == "uuid")
        e.uuid = uuid_arg(a);
      else if (a.name == "helpstring")
        e.helpstring = string_arg(a);
    }
    if (peek().kind == Tok::kIdent)
      e.name = take().text;
    expect("{");
    int64_t next = 0;
    while (!accept("}")) {
      if (at_end())
        fail(line, "unterminated enum");
      EnumMember m;
      for (const Attribute& a : parse_attributes())
        if (a.name == "helpstring")
          m.helpstring = string_arg(a);
      m.name = expect_ident("an enum member");
      if (accept("=")) {
        std::vector<Token> value;
        int depth = 0;
        while (!(depth == 0 && (is_punct(",") || is_punct("}")))) {
          if (at_end())
            fail(line, "unterminated enum");
          if (is_punct("("))
            ++depth;
          if (is_punct(")"))
            --depth;
          value.push_back(take());
        }
        Attribute holder{m.name, std::move(value), std::nullopt, peek().line};
        Literal l = expression_arg(holder);
        if (l.kind != Literal::Kind::kInteger)
          fail(holder.line, "enum values are integers");
        next = l.integer;
      }
      m.value = next++;
      if (constants_.count(m.name))
        fail(line, "constant " + m.name + " is defined twice");
      constants_[m.name] = m.value;
      e.members.push_back(std::move(m));
      if (!accept(",")) {
        expect("}");
        break;
      }
    }
    if (typedef_form)
      e.name = expect_ident("the enum type name");
    expect(";");
    if (e.name.empty())
      fail(line, "an enum needs a name");
    lib_.enums.push_back(std::move(e));
  }

  // --- checks after the whole file is read -----------------------------------------------------
  bool known_type_name(const std::string& name) const {
    for (const Interface& i : lib_.interfaces)
      if (i.name == name)
        return true;
    for (const Enum& e : lib_.enums)
      if (e.name == name)
        return true;
    return false;
  }

  void finish() {
    for (const Interface& itf : lib_.interfaces) {
      if (itf.forward_only)
        continue;
      if (!itf.base.empty() && itf.base != "IUnknown" && itf.base != "IDispatch" &&
          !FindInterface(lib_, itf.base))
        fail(itf.line, "interface " + itf.name + " derives from unknown " + itf.base);
      if (InterfaceLevel(lib_, itf.name) < 0)
        fail(itf.line, "interface " + itf.name + " has a cyclic or broken base chain");
      for (const Method& m : itf.methods) {
        auto check = [&](const Type& t) {
          if (t.base == BaseType::kUserDefined && !known_type_name(t.user_name))
            fail(m.line, "unknown type '" + t.user_name + "'");
        };
        check(m.result);
        for (const Param& p : m.params)
          check(p.type);
      }
    }
    for (const Coclass& c : lib_.coclasses)
      for (const CoclassMember& m : c.members)
        if (!FindInterface(lib_, m.interface_name) && m.interface_name != "IDispatch" &&
            m.interface_name != "IUnknown")
          fail(c.line, "coclass " + c.name + " names unknown interface " + m.interface_name);
  }

  std::vector<Token> tokens_;
  size_t pos_ = 0;
  Library& lib_;
  std::map<std::string, Type> aliases_;
  std::map<std::string, int64_t> constants_ = {
      {"DISPID_UNKNOWN", -1},    {"DISPID_VALUE", 0},     {"DISPID_PROPERTYPUT", -3},
      {"DISPID_NEWENUM", -4},    {"DISPID_EVALUATE", -5}, {"DISPID_CONSTRUCTOR", -6},
      {"DISPID_DESTRUCTOR", -7}, {"DISPID_COLLECT", -8},
  };
};

}  // namespace

bool Parse(std::string_view text, const std::string& file_name, Library& library,
           std::string& error) {
  library = Library{};
  try {
    Parser parser(tokenize(text), library);
    parser.parse_file();
    return true;
  } catch (const ParseError& e) {
    error = file_name + ":" + std::to_string(e.line) + ": " + e.message;
  } catch (const std::bad_alloc&) {
    error = file_name + ": out of memory";
  }
  library = Library{};
  return false;
}

int32_t DefaultDispid(int level, int slot_index) {
  return static_cast<int32_t>(0x60000000u | (static_cast<uint32_t>(level) << 16) |
                              static_cast<uint32_t>(slot_index));
}

const Interface* FindInterface(const Library& library, const std::string& name) {
  for (const Interface& i : library.interfaces)
    if (i.name == name && !i.forward_only)
      return &i;
  return nullptr;
}

int InterfaceLevel(const Library& library, const std::string& name) {
  if (name == "IUnknown")
    return 0;
  if (name == "IDispatch")
    return 1;
  std::set<std::string> seen;
  int level = 0;
  std::string current = name;
  while (current != "IUnknown" && current != "IDispatch") {
    if (!seen.insert(current).second)
      return -1;
    const Interface* itf = FindInterface(library, current);
    if (!itf || itf->base.empty())
      return -1;
    current = itf->base;
    ++level;
  }
  return level + (current == "IDispatch" ? 1 : 0);
}

}  // namespace idl
