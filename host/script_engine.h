// Runs a compiled script page in a fresh Duktape heap with the intrinsic objects as globals.
// A script error or time-out turns the response into a 500 page that names the page, line and
// message (and the HRESULT and description of a failed automation call); the server goes on.
#pragma once

#include "page_cache.h"
#include "page_context.h"

namespace vhost {

// Runs the page; returns false when it ended in an error (the response is then the error page).
// The program is loaded from the page's bytecode when it has some; otherwise it is compiled
// and its bytecode stored in the page for the next requests.
bool run_script_page(PageContext& page, const CachedPage& cached);

// Replaces the response with the 500 page for an error at file:line.
void write_error_page(HttpResponseData& response, const std::string& file, int line,
                      const std::string& message, const std::string& automation_detail);

}  // namespace vhost
