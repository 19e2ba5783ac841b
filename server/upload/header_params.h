// Reading the header lines of a multipart body and the request's content type: parameters as
// parameters (a keyword at the start or after ';', quoted strings skipped as units), header names
// without regard to case, and the file name a client sent cut to a bare name.
#pragma once

#include "KaText.h"
#include "windows.h"

// The text a parameter's value is read from never exceeds this many bytes, so no value is longer.
constexpr size_t kParameterWindow = 255;

// Where the value of a parameter may be read from: at most kParameterWindow bytes, counted from
// the keyword (the part headers' name and filename) or from the value itself (the boundary).
enum class ValueWindow { kFromKeyword, kFromValue };

// A parameter to read: its keyword (lower case), where its value's window starts, and where the
// value goes. found tells whether it was there.
struct ParameterWanted {
  const char* keyword;
  ValueWindow window;
  CKaText* value;
  bool found = false;
};

// Reads the wanted parameters of text in one pass. A keyword counts where it stands at the start
// of text or after a ';' (white space allowed before it and around '='), compared without regard
// to case; a ';' inside a quoted string separates nothing, and the first such parameter counts.
// A quoted value is the text up to the next double quote, or up to the line end or the window's
// end when none closes it; an unquoted value is a token and ends at ';', white space, CR or LF.
// A parameter that is absent leaves its value untouched. E_OUTOFMEMORY when a value could not be
// stored.
HRESULT ReadParameters(const char* text, ParameterWanted* wanted, size_t count);

// Whether line starts with the header name nameWithColon ("Content-Type:"), compared without
// regard to case.
bool IsHeaderLine(const char* line, const char* nameWithColon);

// Cuts a file name a client sent to a bare name: what follows its last '\' or '/', without a
// leading drive ("C:"); "." and ".." name no file and give the empty text. E_OUTOFMEMORY when the
// cut name could not be stored.
HRESULT CutClientPath(CKaText* fileName);
