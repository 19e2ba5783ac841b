// Responses the host holds whole (static files, and page responses, which are sent when the
// page ends) answered under the request's Range and If-Range: 200 with the whole body, 206 with
// one range or a multipart/byteranges body, or 416 with "bytes */size".
#pragma once

#include <microhttpd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "page_context.h"

namespace vhost {

struct RangedResponse {
  MHD_Response* response = nullptr;  // null when it cannot be made
  unsigned status = 0;
  uint64_t length = 0;  // body bytes
};

// A static file of `size` bytes, taken (closed on every path). The response carries
// Content-Type, Accept-Ranges, and ETag and Last-Modified from the file's modification time and
// size, against which If-Range is checked.
RangedResponse file_response(const HttpRequestData& request, std::FILE* file, uint64_t size,
                             const std::string& content_type);

// A page's response with its body and status; the response carries Content-Type. A whole body
// is moved out of page.body and sent from its blocks. Ranges apply
// to a 200 on GET or HEAD when the page set neither Content-Range nor Accept-Ranges (a page
// that did answers ranges itself, or refuses them); If-Range is checked against the ETag and
// Last-Modified the page set, and fails when it set none.
RangedResponse page_response(const HttpRequestData& request, HttpResponseData& page,
                             const std::string& content_type);

}  // namespace vhost
