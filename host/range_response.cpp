// Whole, partial and multipart/byteranges responses (see range_response.h).
#include "range_response.h"

#include <algorithm>
#include <cinttypes>
#include <cstring>
#include <ctime>
#include <memory>
#include <new>
#include <random>
#include <vector>

#include "byte_ranges.h"
#include "platform_file.h"
#include "text.h"

namespace vhost {

namespace {

// A stretch of the answer: literal text, or when the text is empty, `length` bytes of the body
// from `from`.
struct Piece {
  std::string text;
  uint64_t from = 0;
  uint64_t length = 0;
  uint64_t size() const { return text.empty() ? length : text.size(); }
};

// How a complete body is answered.
struct Plan {
  unsigned status = 200;
  std::vector<Piece> pieces;  // 206 and 416
  std::string content_type;
  std::string content_range;
  uint64_t length() const {
    uint64_t n = 0;
    for (const Piece& p : pieces)
      n += p.size();
    return n;
  }
};

size_t count_headers(const HeaderList& headers, std::string_view name) {
  return static_cast<size_t>(std::count_if(headers.begin(), headers.end(),
                                           [&](const auto& h) { return iequals(h.first, name); }));
}

std::string_view header_value(const HeaderList& headers, std::string_view name) {
  const std::string* value = find_header(headers, name);
  return value ? std::string_view(*value) : std::string_view();
}

std::string unique_boundary() {
  static thread_local std::mt19937_64 random{std::random_device{}()};
  char text[24];
  std::snprintf(text, sizeof text, "%016" PRIx64, static_cast<uint64_t>(random()));
  return text;
}

std::string content_range(const ByteRange& r, uint64_t size) {
  return "bytes " + std::to_string(r.first) + "-" + std::to_string(r.last) + "/" +
         std::to_string(size);
}

Plan plan_ranges(const HttpRequestData& request, uint64_t size, const std::string& content_type,
                 const Validators& validators) {
  Plan whole;
  whole.content_type = content_type;
  // Range is defined for GET alone; HEAD answers as GET would, without the body. A request
  // with the field twice has no one range set.
  if ((request.method != "GET" && request.method != "HEAD") ||
      count_headers(request.headers, "Range") != 1)
    return whole;
  const size_t if_ranges = count_headers(request.headers, "If-Range");
  if (if_ranges > 1 ||
      (if_ranges == 1 && !if_range_holds(header_value(request.headers, "If-Range"), validators)))
    return whole;
  const RangeRequest asked = parse_range(header_value(request.headers, "Range"), size);
  Plan plan;
  switch (asked.kind) {
    case RangeRequest::kWhole:
      return whole;
    case RangeRequest::kUnsatisfiable:
      plan.status = 416;
      plan.content_type = "text/plain; charset=utf-8";
      plan.content_range = "bytes */" + std::to_string(size);
      plan.pieces.push_back(
          {"The range is not satisfiable: the body has " + std::to_string(size) + " bytes.\n"});
      return plan;
    case RangeRequest::kPartial:
      break;
  }
  plan.status = 206;
  if (asked.ranges.size() == 1) {
    plan.content_type = content_type;
    plan.content_range = content_range(asked.ranges[0], size);
    plan.pieces.push_back({{}, asked.ranges[0].first, asked.ranges[0].length()});
    return plan;
  }
  const std::string boundary = unique_boundary();
  plan.content_type = "multipart/byteranges; boundary=" + boundary;
  for (size_t i = 0; i < asked.ranges.size(); ++i) {
    const ByteRange& r = asked.ranges[i];
    std::string head = (i ? "\r\n--" : "--") + boundary + "\r\n";
    if (!content_type.empty())
      head += "Content-Type: " + content_type + "\r\n";
    head += "Content-Range: " + content_range(r, size) + "\r\n\r\n";
    plan.pieces.push_back({std::move(head)});
    plan.pieces.push_back({{}, r.first, r.length()});
  }
  plan.pieces.push_back({"\r\n--" + boundary + "--\r\n"});
  return plan;
}

// 100-nanosecond ticks between 1601-01-01, where a FILETIME counts from, and 1970-01-01.
constexpr uint64_t kUnixEpochInFileTime = 116444736000000000u;

// The pieces of an answer over an open file, read as the library asks for them.
struct FileBody {
  std::FILE* file = nullptr;
  std::vector<Piece> pieces;
  std::vector<uint64_t> starts;  // where each piece begins in the answer
  ~FileBody() {
    if (file)
      std::fclose(file);
  }
};

ssize_t read_file_body(void* cls, uint64_t pos, char* buf, size_t max) {
  auto* body = static_cast<FileBody*>(cls);
  size_t i = static_cast<size_t>(std::upper_bound(body->starts.begin(), body->starts.end(), pos) -
                                 body->starts.begin());
  if (i == 0)
    return MHD_CONTENT_READER_END_WITH_ERROR;
  --i;
  size_t done = 0;
  for (; done < max && i < body->pieces.size(); ++i) {
    const Piece& piece = body->pieces[i];
    const uint64_t offset = pos + done - body->starts[i];
    if (offset >= piece.size())
      continue;
    const size_t n = static_cast<size_t>(std::min<uint64_t>(max - done, piece.size() - offset));
    if (!piece.text.empty()) {
      std::memcpy(buf + done, piece.text.data() + offset, n);
      done += n;
      continue;
    }
    // A file that shrinks meanwhile ends the answer short, which the library reports to the
    // client by closing the connection.
    if (fseeko(body->file, static_cast<off_t>(piece.from + offset), SEEK_SET) != 0)
      return MHD_CONTENT_READER_END_WITH_ERROR;
    const size_t got = std::fread(buf + done, 1, n, body->file);
    done += got;
    if (got < n)
      break;
  }
  if (done > 0)
    return static_cast<ssize_t>(done);
  return std::ferror(body->file) ? MHD_CONTENT_READER_END_WITH_ERROR
                                 : MHD_CONTENT_READER_END_OF_STREAM;
}

void free_file_body(void* cls) {
  delete static_cast<FileBody*>(cls);
}

void add_range_headers(MHD_Response* response, const Plan& plan) {
  MHD_add_response_header(response, "Content-Type", plan.content_type.c_str());
  MHD_add_response_header(response, "Accept-Ranges", "bytes");
  if (!plan.content_range.empty())
    MHD_add_response_header(response, "Content-Range", plan.content_range.c_str());
}

void free_body(void* body) {
  delete static_cast<ResponseBody*>(body);
}

// A response that sends the blocks of *body where they are; the body is moved out of *body and
// freed by the library when the response is done with. Null when memory runs out.
MHD_Response* body_response(ResponseBody* body) {
  if (body->size() == 0)
    return MHD_create_response_from_buffer(0, nullptr, MHD_RESPMEM_PERSISTENT);
  auto* held = new (std::nothrow) ResponseBody(std::move(*body));
  if (!held)
    return nullptr;
  std::vector<MHD_IoVec> pieces;
  try {
    pieces.reserve(held->blocks().size());
  } catch (const std::bad_alloc&) {
    delete held;
    return nullptr;
  }
  for (const std::string& block : held->blocks())
    pieces.push_back({block.data(), block.size()});
  MHD_Response* response = MHD_create_response_from_iovec(
      pieces.data(), static_cast<unsigned>(pieces.size()), free_body, held);
  if (!response)
    delete held;
  return response;
}

}  // namespace

RangedResponse file_response(const HttpRequestData& request, std::FILE* file, uint64_t size,
                             const std::string& content_type) {
  auto body = std::make_unique<FileBody>();
  body->file = file;
  // The entity tag changes with the modification time (to the nanosecond) and the size. The
  // modification time is a strong validator only once its second has passed: until then the
  // file may change again under the same Last-Modified.
  std::string etag, last_modified;
  bool strong = false;
  WIN32_FILE_ATTRIBUTE_DATA facts;
  if (PlatformGetStreamAttributes(file, &facts)) {
    // The time in 100-nanosecond ticks since 1970.
    const uint64_t ticks = (static_cast<uint64_t>(facts.ftLastWriteTime.dwHighDateTime) << 32 |
                            facts.ftLastWriteTime.dwLowDateTime) -
                           kUnixEpochInFileTime;
    const std::time_t seconds = static_cast<std::time_t>(ticks / 10000000u);
    char text[64];
    std::snprintf(text, sizeof text, "\"%" PRIx64 "-%" PRIx64 "\"", ticks * 100u, size);
    etag = text;
    last_modified = http_date(seconds);
    strong = seconds < std::time(nullptr);
  }
  Plan plan = plan_ranges(request, size, content_type, {etag, last_modified, strong});
  if (plan.status == 200)
    plan.pieces.push_back({{}, 0, size});
  const uint64_t length = plan.length();
  body->pieces = std::move(plan.pieces);
  for (uint64_t at = 0; const Piece& p : body->pieces) {
    body->starts.push_back(at);
    at += p.size();
  }
  MHD_Response* response = MHD_create_response_from_callback(length, 64 * 1024, read_file_body,
                                                             body.get(), free_file_body);
  if (!response)
    return {};
  body.release();
  add_range_headers(response, plan);
  if (!etag.empty()) {
    MHD_add_response_header(response, "ETag", etag.c_str());
    MHD_add_response_header(response, "Last-Modified", last_modified.c_str());
  }
  return {response, plan.status, length};
}

RangedResponse page_response(const HttpRequestData& request, HttpResponseData& page,
                             const std::string& content_type) {
  const bool ranges_apply = page.status == 200 &&
                            (request.method == "GET" || request.method == "HEAD") &&
                            count_headers(page.headers, "Content-Range") == 0 &&
                            count_headers(page.headers, "Accept-Ranges") == 0;
  Plan plan;
  plan.content_type = content_type;
  if (ranges_apply)
    plan = plan_ranges(
        request, page.body.size(), content_type,
        {header_value(page.headers, "ETag"), header_value(page.headers, "Last-Modified"), true});
  MHD_Response* response = nullptr;
  uint64_t length = page.body.size();
  if (plan.status == 200) {
    response = body_response(&page.body);
  } else {
    const std::string whole = page.body.str();
    std::string answer;
    answer.reserve(static_cast<size_t>(plan.length()));
    for (const Piece& p : plan.pieces)
      answer += p.text.empty() ? std::string_view(whole).substr(p.from, p.length) : p.text;
    length = answer.size();
    response = MHD_create_response_from_buffer(answer.size(), answer.data(), MHD_RESPMEM_MUST_COPY);
  }
  if (!response)
    return {};
  if (!ranges_apply) {
    MHD_add_response_header(response, "Content-Type", content_type.c_str());
    return {response, page.status, length};
  }
  add_range_headers(response, plan);
  return {response, plan.status, length};
}

}  // namespace vhost
