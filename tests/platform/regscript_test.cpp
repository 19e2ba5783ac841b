// Tests of the registry-script interpreter: what a script registers and unregisters, each
// keyword and value type, replacements, error lines, and hostile scripts.
#include "regscript.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "faultsim.h"
#include "registry_test_support.h"

namespace {

const char16_t kServerScript[] =
    u"HKCR\n"
    u"{\n"
    u"\tSample.Widget.1 = s 'Widget Class'\n"
    u"\t{\n"
    u"\t\tCLSID = s '{0C7A4F9E-1D2B-4E8A-9F00-00000000A001}'\n"
    u"\t}\n"
    u"\tSample.Widget = s 'Widget Class'\n"
    u"\t{\n"
    u"\t\tCLSID = s '{0C7A4F9E-1D2B-4E8A-9F00-00000000A001}'\n"
    u"\t\tCurVer = s 'Sample.Widget.1'\n"
    u"\t}\n"
    u"\tNoRemove CLSID\n"
    u"\t{\n"
    u"\t\tForceRemove {0C7A4F9E-1D2B-4E8A-9F00-00000000A001} = s 'Widget Class'\n"
    u"\t\t{\n"
    u"\t\t\tProgID = s 'Sample.Widget.1'\n"
    u"\t\t\tVersionIndependentProgID = s 'Sample.Widget'\n"
    u"\t\t\tForceRemove 'Programmable'\n"
    u"\t\t\tInprocServer32 = s '%MODULE%'\n"
    u"\t\t\t{\n"
    u"\t\t\t\tval ThreadingModel = s 'Apartment'\n"
    u"\t\t\t}\n"
    u"\t\t\t'TypeLib' = s '{0C7A4F9E-1D2B-4E8A-9F00-00000000B001}'\n"
    u"\t\t}\n"
    u"\t}\n"
    u"}\n";

const char kServerKeys[] =
    "HKCR\\CLSID\n"
    "HKCR\\CLSID\\{0C7A4F9E-1D2B-4E8A-9F00-00000000A001}\n"
    "HKCR\\CLSID\\{0C7A4F9E-1D2B-4E8A-9F00-00000000A001}\\@ = 1: \"Widget Class\"\n"
    "HKCR\\CLSID\\{0C7A4F9E-1D2B-4E8A-9F00-00000000A001}\\InprocServer32\n"
    "HKCR\\CLSID\\{0C7A4F9E-1D2B-4E8A-9F00-00000000A001}\\InprocServer32\\@ = 1: "
    "\"/opt/sample/lib widget.so\"\n"
    "HKCR\\CLSID\\{0C7A4F9E-1D2B-4E8A-9F00-00000000A001}\\InprocServer32\\ThreadingModel = 1: "
    "\"Apartment\"\n"
    "HKCR\\CLSID\\{0C7A4F9E-1D2B-4E8A-9F00-00000000A001}\\ProgID\n"
    "HKCR\\CLSID\\{0C7A4F9E-1D2B-4E8A-9F00-00000000A001}\\ProgID\\@ = 1: \"Sample.Widget.1\"\n"
    "HKCR\\CLSID\\{0C7A4F9E-1D2B-4E8A-9F00-00000000A001}\\Programmable\n"
    "HKCR\\CLSID\\{0C7A4F9E-1D2B-4E8A-9F00-00000000A001}\\TypeLib\n"
    "HKCR\\CLSID\\{0C7A4F9E-1D2B-4E8A-9F00-00000000A001}\\TypeLib\\@ = 1: "
    "\"{0C7A4F9E-1D2B-4E8A-9F00-00000000B001}\"\n"
    "HKCR\\CLSID\\{0C7A4F9E-1D2B-4E8A-9F00-00000000A001}\\VersionIndependentProgID\n"
    "HKCR\\CLSID\\{0C7A4F9E-1D2B-4E8A-9F00-00000000A001}\\VersionIndependentProgID\\@ = 1: "
    "\"Sample.Widget\"\n"
    "HKCR\\Sample.Widget\n"
    "HKCR\\Sample.Widget\\@ = 1: \"Widget Class\"\n"
    "HKCR\\Sample.Widget\\CLSID\n"
    "HKCR\\Sample.Widget\\CLSID\\@ = 1: \"{0C7A4F9E-1D2B-4E8A-9F00-00000000A001}\"\n"
    "HKCR\\Sample.Widget\\CurVer\n"
    "HKCR\\Sample.Widget\\CurVer\\@ = 1: \"Sample.Widget.1\"\n"
    "HKCR\\Sample.Widget.1\n"
    "HKCR\\Sample.Widget.1\\@ = 1: \"Widget Class\"\n"
    "HKCR\\Sample.Widget.1\\CLSID\n"
    "HKCR\\Sample.Widget.1\\CLSID\\@ = 1: \"{0C7A4F9E-1D2B-4E8A-9F00-00000000A001}\"\n";

const REGSCRIPT_REPLACEMENTW kModule[] = {{u"MODULE", u"/opt/sample/lib widget.so"}};

class RegScriptTest : public ::testing::Test {
 protected:
  HRESULT Run(const std::u16string& script, bool do_register,
              const REGSCRIPT_REPLACEMENTW* replacements = kModule, DWORD count = 1) {
    char16_t message[256] = u"unset";
    HRESULT hr =
        PlatformRunRegScriptW(script.c_str(), replacements, count, do_register, message, 256);
    message_ = Utf8(message);
    return hr;
  }
  HRESULT Register(const std::u16string& script) { return Run(script, true); }
  HRESULT Unregister(const std::u16string& script) { return Run(script, false); }
  std::string Hkcr() { return ListRegistry(HKEY_CLASSES_ROOT, "HKCR"); }
  std::string Hkcu() { return ListRegistry(HKEY_CURRENT_USER, "HKCU"); }

  TempRegistry registry_;
  std::string message_;
};

TEST_F(RegScriptTest, ServerScriptRegistersAndUnregisters) {
  ASSERT_EQ(S_OK, Register(kServerScript)) << message_;
  EXPECT_EQ("", message_);
  EXPECT_EQ(kServerKeys, Hkcr());
  // Registering again changes nothing.
  ASSERT_EQ(S_OK, Register(kServerScript)) << message_;
  EXPECT_EQ(kServerKeys, Hkcr());

  // Another class's key under CLSID survives, and so does CLSID itself.
  HKEY other = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CLASSES_ROOT, u"CLSID\\{other}", 0, nullptr, 0,
                                           KEY_ALL_ACCESS, nullptr, &other, nullptr));
  RegCloseKey(other);
  ASSERT_EQ(S_OK, Unregister(kServerScript)) << message_;
  EXPECT_EQ("HKCR\\CLSID\nHKCR\\CLSID\\{other}\n", Hkcr());
  ASSERT_EQ(ERROR_SUCCESS, RegDeleteKeyW(HKEY_CLASSES_ROOT, u"CLSID\\{other}"));

  // Unregistering what is not registered is no error.
  ASSERT_EQ(S_OK, Unregister(kServerScript)) << message_;
  EXPECT_EQ("HKCR\\CLSID\n", Hkcr());
}

TEST_F(RegScriptTest, ForceRemoveAndPlainKeysOnRegistration) {
  ASSERT_EQ(S_OK, Register(u"HKCU { Forced { Stale { } } Plain { Stale } }")) << message_;
  ASSERT_EQ(S_OK, Register(u"HKCU { ForceRemove Forced { Fresh } Plain { Fresh } }")) << message_;
  EXPECT_EQ(
      "HKCU\\Forced\nHKCU\\Forced\\Fresh\n"
      "HKCU\\Plain\nHKCU\\Plain\\Fresh\nHKCU\\Plain\\Stale\n",
      Hkcu());
  // Unregistration removes keys only once they are empty of subkeys: Plain keeps Stale.
  ASSERT_EQ(S_OK, Unregister(u"HKCU { ForceRemove Forced { Fresh } Plain { Fresh } }"));
  EXPECT_EQ("HKCU\\Plain\nHKCU\\Plain\\Stale\n", Hkcu());
}

TEST_F(RegScriptTest, DeleteAndValEntries) {
  ASSERT_EQ(S_OK, Register(u"HKCU { Old { Deep { Deeper } } Kept }")) << message_;
  const std::u16string script =
      u"hkey_current_user {\n"
      u"  DELETE Old\n"
      u"  delete Missing\n"
      u"  Kept { VAL Name = s 'text' val '' = d 7 }\n"
      u"}\n";
  ASSERT_EQ(S_OK, Register(script)) << message_;
  EXPECT_EQ("HKCU\\Kept\nHKCU\\Kept\\Name = 1: \"text\"\nHKCU\\Kept\\@ = 4: 07000000\n", Hkcu());
  // On unregistration val and Delete entries do nothing; Kept, now empty of subkeys, goes.
  ASSERT_EQ(S_OK, Register(u"HKCU { Old }")) << message_;
  ASSERT_EQ(S_OK, Unregister(script)) << message_;
  EXPECT_EQ("HKCU\\Old\n", Hkcu());
}

TEST_F(RegScriptTest, ValueTypesAndQuoting) {
  ASSERT_EQ(S_OK, Register(u"HKCU { T {\n"
                           u"  val s1 = s 'it''s {a} = b'\n"
                           u"  val s2 = s bare\\path\"x\n"
                           u"  val s3 = s ''\n"
                           u"  val d1 = d '0'\n"
                           u"  val d2 = d 4294967295\n"
                           u"  val d3 = D '0010'\n"
                           u"  val b1 = b 'DEADbeef'\n"
                           u"  val b2 = b 0a\n"
                           u"  val b3 = b ''\n"
                           u"  'key with spaces' = s '}'\n"
                           u"} }"))
      << message_;
  EXPECT_EQ(
      "HKCU\\T\n"
      "HKCU\\T\\s1 = 1: \"it's {a} = b\"\n"
      "HKCU\\T\\s2 = 1: \"bare\\path\"x\"\n"
      "HKCU\\T\\s3 = 1: \"\"\n"
      "HKCU\\T\\d1 = 4: 00000000\n"
      "HKCU\\T\\d2 = 4: ffffffff\n"
      "HKCU\\T\\d3 = 4: 0a000000\n"
      "HKCU\\T\\b1 = 3: deadbeef\n"
      "HKCU\\T\\b2 = 3: 0a\n"
      "HKCU\\T\\b3 = 3: \n"
      "HKCU\\T\\key with spaces\n"
      "HKCU\\T\\key with spaces\\@ = 1: \"}\"\n",
      Hkcu());
}

TEST_F(RegScriptTest, Replacements) {
  const REGSCRIPT_REPLACEMENTW replacements[] = {
      {u"MODULE", u"/lib/x.so"}, {u"Name", u"Value"}, {u"spaced", u"two words"}};
  ASSERT_EQ(S_OK, Run(u"HKCU { K = s '%module% 100%% %NAME%%name%' { %Spaced% } }", true,
                      replacements, 3))
      << message_;
  // Replacement is textual: an unquoted value with a space makes two entries.
  EXPECT_EQ(
      "HKCU\\K\nHKCU\\K\\@ = 1: \"/lib/x.so 100% ValueValue\"\nHKCU\\K\\two\nHKCU\\K\\words\n",
      Hkcu());
}

TEST_F(RegScriptTest, ErrorsNameTheLineAndChangeNothing) {
  struct Case {
    const char16_t* script;
    const char* message;
  } cases[] = {
      {u"HKCU { A }\nHKXX { B }", "line 2: unknown root key 'HKXX'"},
      {u"HKCU\nA { }", "line 2: expected '{' after the root key"},
      {u"HKCU{ A }", "line 1: unknown root key 'HKCU{'"},
      {u"HKCU {\n A = x 'v'\n}", "line 2: expected a value type s, d or b, found 'x'"},
      {u"HKCU {\n A = sz 'v'\n}", "line 2: expected a value type s, d or b, found 'sz'"},
      {u"HKCU {\n A = s\n}", "line 3: missing value data"},
      {u"HKCU {\n A = d '0x10'\n}", "line 2: d data must be a decimal number"},
      {u"HKCU {\n A = d -1\n}", "line 2: d data must be a decimal number"},
      {u"HKCU {\n A = d 4294967296\n}", "line 2: d data must be a decimal number"},
      {u"HKCU {\n A = d 99999999999999999999999999999\n}", "line 2: d data must be a decimal"},
      {u"HKCU {\n A = d ''\n}", "line 2: empty d data"},
      {u"HKCU {\n A = b abc\n}", "line 2: b data must be pairs of hex digits 'abc'"},
      {u"HKCU {\n A = b 'zz'\n}", "line 2: b data must be pairs of hex digits"},
      {u"HKCU {\n val A\n}", "line 3: expected '= type data' after 'val' 'A'"},
      {u"HKCU {\n val = s x\n}", "line 2: expected a key or value name"},
      {u"HKCU {\n Delete\n}", "line 3: expected a key or value name"},
      {u"HKCU {\n Delete A { }\n}", "line 2: expected a key or value name"},
      {u"HKCU {\n '' = s x\n}", "line 2: empty key name"},
      {u"HKCU {\n\n A = s 'open\n\n}", "line 3: quoted text without its closing quote"},
      {u"HKCU {\n A {\n B\n}", "line 4: missing '}' at the end of the script"},
      {u"HKCU {\n A = s '%UNKNOWN%'\n}", "line 2: unknown replacement 'UNKNOWN'"},
      {u"HKCU {\n\n A = s '50% off'\n}", "line 3: '%' without its closing '%'"},
      {u"HKCU {\n A = m 'x'\n}", "line 2: expected a value type s, d or b, found 'm'"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DISP_E_EXCEPTION, Register(c.script)) << Utf8(c.script);
    EXPECT_EQ(0u, message_.find(c.message)) << "got: " << message_;
    EXPECT_EQ("", Hkcu()) << Utf8(c.script);
    EXPECT_EQ(DISP_E_EXCEPTION, Unregister(c.script)) << Utf8(c.script);
  }
}

TEST_F(RegScriptTest, FailedRegistrationIsUndone) {
  ASSERT_EQ(S_OK, Register(u"HKCU { Before }")) << message_;
  // The second block's root is refused by the registry after the first block was written.
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_INVALID_HANDLE),
            Register(u"HKCU { NoRemove Before { New } Fresh { Sub } }\nHKPD { X }"));
  EXPECT_EQ("line 2: cannot create key 'X' (error 6)", message_);
  EXPECT_EQ("HKCU\\Before\n", Hkcu());
}

TEST_F(RegScriptTest, RegistryFailuresNameTheEntry) {
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_INVALID_HANDLE), Register(u"HKPD {\n val V = d 1 }"));
  EXPECT_EQ("line 2: cannot set value 'V' (error 6)", message_);
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_INVALID_HANDLE), Register(u"HKDD { Delete K }"));
  EXPECT_EQ("line 1: cannot delete key 'K' (error 6)", message_);
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_INVALID_HANDLE), Unregister(u"HKDD { K }"));
  EXPECT_EQ("line 1: cannot delete key 'K' (error 6)", message_);

  // A damaged registry file stops both directions at the first entry.
  ASSERT_EQ(S_OK, Register(u"HKCU { A { B } }")) << message_;
  registry_.ReplaceFile(Utf16le(u"damaged"));
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_BADDB), Unregister(u"HKCU { A { B } }"));
  EXPECT_EQ("line 1: cannot open key 'A' (error 1009)", message_);
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_BADDB), Register(u"HKCU {\n ForceRemove A }"));
  EXPECT_EQ("line 2: cannot delete key 'A' (error 1009)", message_);
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_BADDB), Register(u"HKCU { A }"));
  EXPECT_EQ("line 1: cannot create key 'A' (error 1009)", message_);
  ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(Utf16le(u"damaged"), registry_.ReadFile());
}

TEST_F(RegScriptTest, ArgumentsAndMessageBuffer) {
  EXPECT_EQ(E_INVALIDARG, PlatformRunRegScriptW(nullptr, nullptr, 0, TRUE, nullptr, 0));
  EXPECT_EQ(E_INVALIDARG, PlatformRunRegScriptW(u"", nullptr, 1, TRUE, nullptr, 0));
  const REGSCRIPT_REPLACEMENTW no_value[] = {{u"A", nullptr}};
  EXPECT_EQ(E_INVALIDARG, PlatformRunRegScriptW(u"", no_value, 1, TRUE, nullptr, 0));
  EXPECT_EQ(S_OK, PlatformRunRegScriptW(u"  \n ", nullptr, 0, TRUE, nullptr, 0));

  char16_t small[8];
  EXPECT_EQ(DISP_E_EXCEPTION, PlatformRunRegScriptW(u"nowhere", nullptr, 0, TRUE, small, 8));
  EXPECT_EQ(u"line 1:", std::u16string(small));
  EXPECT_EQ(DISP_E_EXCEPTION, PlatformRunRegScriptW(u"nowhere", nullptr, 0, TRUE, nullptr, 0));
}

TEST_F(RegScriptTest, AnsiScriptsUseTheAnsiCodePage) {
  UINT saved = GetACP();
  ASSERT_TRUE(PlatformSetACP(949));
  // 한국어 in code page 949, as a key name and in a replacement.
  const char korean[] = "\xC7\xD1\xB1\xB9\xBE\xEE";
  const REGSCRIPT_REPLACEMENTA replacements[] = {{"MODULE", korean}};
  std::string script = std::string("HKCU { '") + korean + "' = s '%MODULE%.so' }";
  EXPECT_EQ(S_OK, PlatformRunRegScriptA(script.c_str(), replacements, 1, TRUE, nullptr, 0));
  EXPECT_EQ("HKCU\\한국어\nHKCU\\한국어\\@ = 1: \"한국어.so\"\n", Hkcu());

  char message[64];
  std::string bad = std::string("HKCU { A = s '%") + korean + "%' }";
  EXPECT_EQ(DISP_E_EXCEPTION,
            PlatformRunRegScriptA(bad.c_str(), replacements, 1, TRUE, message, sizeof message));
  EXPECT_EQ(std::string("line 1: unknown replacement '") + korean + "'", message);
  // Cut to fit, never in the middle of a two-byte character.
  EXPECT_EQ(DISP_E_EXCEPTION,
            PlatformRunRegScriptA(bad.c_str(), replacements, 1, TRUE, message, 32));
  EXPECT_EQ(std::string("line 1: unknown replacement '") + "\xC7\xD1", message);
  EXPECT_EQ(S_OK, PlatformRunRegScriptA(script.c_str(), replacements, 1, FALSE, message, 8));
  EXPECT_EQ("", std::string(message));
  EXPECT_EQ("", Hkcu());
  PlatformSetACP(saved);
}

TEST_F(RegScriptTest, HostileScriptsFailCleanly) {
  // 64 nested key blocks are allowed, 65 are not.
  auto nested = [](int depth) {
    std::u16string s = u"HKCU {";
    for (int i = 0; i < depth; ++i)
      s += u" k {";
    for (int i = 0; i <= depth; ++i)
      s += u" }";
    return s;
  };
  EXPECT_EQ(S_OK, Register(nested(64))) << message_;
  EXPECT_EQ(S_OK, Unregister(nested(64))) << message_;
  EXPECT_EQ("", Hkcu());
  EXPECT_EQ(DISP_E_EXCEPTION, Register(nested(65)));
  EXPECT_EQ("line 1: key blocks nested deeper than 64 levels", message_);
  EXPECT_EQ(DISP_E_EXCEPTION, Register(u"HKCU" + std::u16string(100000, u'{')));
  EXPECT_EQ(DISP_E_EXCEPTION,
            Register(u"HKCU {" + std::u16string(100000, u' ') + std::u16string(100000, u'{')));

  // A name longer than the registry allows is the registry's refusal.
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_INVALID_PARAMETER),
            Register(u"HKCU { '" + std::u16string(100000, u'n') + u"' }"));
  EXPECT_NE(std::string::npos, message_.find("...' (error 87)")) << message_;

  // Random text from the script's alphabet: a status, never a crash.
  std::mt19937 random(777);
  static const char16_t kAlphabet[] = u"HKCU{}='%% \n\tsdbvalNoRemoveForceDelete0123456789abxyz";
  for (int round = 0; round < 300; ++round) {
    std::u16string script = round % 2 ? u"HKCU { " : u"";
    size_t length = random() % 200;
    for (size_t i = 0; i < length; ++i)
      script.push_back(random() % 8 ? kAlphabet[random() % (std::size(kAlphabet) - 1)]
                                    : static_cast<char16_t>(1 + random() % 0xFFFE));
    HRESULT hr = Register(script);
    EXPECT_TRUE(hr == S_OK || hr == DISP_E_EXCEPTION || HRESULT_FACILITY(hr) == FACILITY_WIN32)
        << std::hex << hr;
    hr = Unregister(script);
    EXPECT_TRUE(hr == S_OK || hr == DISP_E_EXCEPTION || HRESULT_FACILITY(hr) == FACILITY_WIN32)
        << std::hex << hr;
  }
}

// Any allocation may fail: the call reports E_OUTOFMEMORY (or the registry's
// ERROR_OUTOFMEMORY) and a later run without faults still gives exactly the script's keys.
TEST_F(RegScriptTest, OutOfMemory) {
  const std::u16string script =
      u"HKCU { ForceRemove A = s '%MODULE%' { val V = d 1 B } NoRemove C { D = b 00 } }";
  const std::string keys =
      "HKCU\\A\nHKCU\\A\\@ = 1: \"/opt/sample/lib widget.so\"\nHKCU\\A\\V = 4: 01000000\n"
      "HKCU\\A\\B\nHKCU\\C\nHKCU\\C\\D\nHKCU\\C\\D\\@ = 3: 00\n";
  for (BOOL persistent : {FALSE, TRUE}) {
    for (int n = 1;; ++n) {
      FaultSimConfig(n, persistent);
      HRESULT hr = Register(script);
      int faults = FaultSimFaults();
      FaultSimConfig(0, FALSE);
      EXPECT_TRUE(hr == S_OK || hr == E_OUTOFMEMORY || hr == HRESULT_FROM_WIN32(ERROR_OUTOFMEMORY))
          << std::hex << hr << " n=" << std::dec << n;
      ASSERT_EQ(S_OK, Register(script)) << message_;
      EXPECT_EQ(keys, Hkcu());
      ASSERT_EQ(S_OK, Unregister(script)) << message_;
      EXPECT_EQ("HKCU\\C\n", Hkcu());
      if (faults == 0)
        break;
    }
  }
}

}  // namespace
