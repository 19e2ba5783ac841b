// The HTTP side of the host (see http_server.h).
#include "http_server.h"

#include <microhttpd.h>
#include <sched.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <memory>
#include <new>
#include <thread>
#include <utility>
#include <vector>

#include "intrinsics.h"
#include "objbase.h"
#include "path_components.h"
#include "platform_config.h"
#include "range_response.h"
#include "script_engine.h"
#include "text.h"
#include "ws2tcpip.h"

namespace vhost {

namespace {

namespace fs = std::filesystem;

// Handles kept for what pages open, and the bounds of the connection limit.
constexpr DWORD kHandleReserve = 512;
constexpr unsigned kMinConnections = 256;
constexpr unsigned kMaxConnections = 65536;

// A page and what its run made; kept in the request's state while a worker runs it.
struct PageRun {
  std::string virtual_path;
  std::shared_ptr<const CachedPage> compiled;  // null when the page did not compile
  CompileError error;
  HttpResponseData out;
};

// One request from its first line to the end of its response.
struct RequestState {
  std::string uri;
  HttpRequestData request;
  bool started = false;
  bool responded = false;
  bool length_known = false;
  bool too_large = false;  // a chunked body passed the limit: it is dropped, then refused
  unsigned long long received = 0;
  std::string unsized_body;  // a chunked body, gathered until its end
  unsigned status = 0;
  unsigned long long bytes = 0;
  std::string log_extra;
  std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
  std::shared_ptr<UploadProgress::Entry> progress;  // a body tracked by its X-Progress-ID
  std::unique_ptr<PageRun> page;                    // a page handed to a worker
};

void* on_uri(void*, const char* uri, MHD_Connection*) {
  auto* state = new (std::nothrow) RequestState();
  if (state)
    state->uri = uri ? uri : "";
  return state;
}

void on_completed(void* cls, MHD_Connection*, void** req_cls, MHD_RequestTerminationCode code) {
  auto* server = static_cast<HttpServer*>(cls);
  std::unique_ptr<RequestState> state(static_cast<RequestState*>(*req_cls));
  *req_cls = nullptr;
  if (!state || !state->started)
    return;
  if (state->progress) {
    const auto now = std::chrono::steady_clock::now();
    const bool timed_out =
        code == MHD_REQUEST_TERMINATED_TIMEOUT_REACHED ||
        now - state->start >= std::chrono::seconds(server->config().client_timeout_seconds);
    server->progress().finish(*state->progress, state->status, state->too_large, timed_out, now);
  }
  if (!server->log()->writes())
    return;
  const double ms =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - state->start)
          .count();
  std::string extra = state->log_extra;
  if (code != MHD_REQUEST_TERMINATED_COMPLETED_OK)
    extra += (extra.empty() ? "" : " ") + std::string("(connection ended early)");
  server->log()->write(state->request.remote_addr, state->request.method, state->uri,
                       state->request.protocol, state->status, state->bytes, ms, extra);
}

MHD_Result collect_header(void* cls, MHD_ValueKind, const char* key, const char* value) {
  static_cast<HeaderList*>(cls)->emplace_back(key ? key : "", value ? value : "");
  return MHD_YES;
}

// The Date header's text for this second, made again by each thread once a second: the
// library's own takes the C library's time-zone lock, which every thread shares, for each
// response.
const char* date_of_now() noexcept {
  thread_local std::time_t made = -1;
  thread_local char text[40];
  const std::time_t now = std::time(nullptr);
  if (now != made) {
    try {
      std::snprintf(text, sizeof text, "%s", http_date(now).c_str());
    } catch (const std::bad_alloc&) {
      return nullptr;  // the library adds its own
    }
    made = now;
  }
  return text;
}

MHD_Result queue(MHD_Connection* connection, RequestState* state, unsigned status,
                 MHD_Response* response) {
  if (!response)
    return MHD_NO;
  const char* date = date_of_now();
  if (date && !MHD_get_response_header(response, MHD_HTTP_HEADER_DATE))
    MHD_add_response_header(response, MHD_HTTP_HEADER_DATE, date);
  state->status = status;
  state->responded = true;
  const MHD_Result result = MHD_queue_response(connection, status, response);
  MHD_destroy_response(response);
  return result;
}

MHD_Result queue_text(MHD_Connection* connection, RequestState* state, unsigned status,
                      const std::string& title, const std::string& detail) {
  const std::string body = "<!DOCTYPE html>\n<html><head><title>" + title +
                           "</title></head><body><h1>" + title + "</h1><p>" +
                           to_utf8(html_encode(to_u16(detail))) + "</p></body></html>\n";
  MHD_Response* response = MHD_create_response_from_buffer(
      body.size(), const_cast<char*>(body.data()), MHD_RESPMEM_MUST_COPY);
  if (response)
    MHD_add_response_header(response, "Content-Type", "text/html; charset=utf-8");
  state->bytes = body.size();
  return queue(connection, state, status, response);
}

const char* content_type_of(const std::string& path) {
  static const std::pair<const char*, const char*> types[] = {
      {".html", "text/html; charset=utf-8"},
      {".htm", "text/html; charset=utf-8"},
      {".css", "text/css; charset=utf-8"},
      {".js", "text/javascript; charset=utf-8"},
      {".json", "application/json"},
      {".txt", "text/plain; charset=utf-8"},
      {".png", "image/png"},
      {".jpg", "image/jpeg"},
      {".jpeg", "image/jpeg"},
      {".gif", "image/gif"},
      {".svg", "image/svg+xml"},
      {".ico", "image/x-icon"},
      {".pdf", "application/pdf"},
      {".zip", "application/zip"},
      {".gz", "application/gzip"},
      {".webp", "image/webp"}};
  const size_t dot = path.rfind('.');
  if (dot != std::string::npos) {
    const std::string ext = path.substr(dot);
    for (auto& [e, type] : types)
      if (iequals(ext, e))
        return type;
  }
  return "application/octet-stream";
}

// Whether path is folder or inside it (both absolute, without a trailing '/').
bool inside(const std::string& path, const std::string& folder) {
  return path == folder ||
         (path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
          path[folder.size()] == '/');
}

bool in_data_dir(const HostConfig& config, const std::string& real_path) {
  for (const std::string& dir : config.data_dirs)
    if (inside(real_path, dir))
      return true;
  return false;
}

// The type under which a file of a data folder may be shown in the browser: images and plain
// text, which cannot run script. Null for anything else, which goes out as an attachment.
const char* inline_data_type(const std::string& path) {
  const char* type = content_type_of(path);
  for (const char* safe : {"image/png", "image/jpeg", "image/gif", "image/webp", "image/x-icon",
                           "text/plain; charset=utf-8"})
    if (std::strcmp(type, safe) == 0)
      return type;
  return nullptr;
}

bool is_page(const std::string& path) {
  return path.size() > 4 && iequals(std::string_view(path).substr(path.size() - 4), ".asp");
}

// Files that pages include (".inc") and an application's file (global.asa) hold server-side
// script, connection strings among it: they are never sent, as production servers refuse them.
bool is_server_side(const std::string& path) {
  const std::string_view name(path);
  return name.size() > 4 && (iequals(name.substr(name.size() - 4), ".inc") ||
                             iequals(name.substr(name.size() - 4), ".asa"));
}

// Sends a file as it is. A file of a data folder goes out as data: the browser may not guess
// another type (nosniff), a document it opens runs nothing (a sandbox with no sources), and
// anything but an image or plain text is an attachment of no scriptable type, so an uploaded
// page, HTML or SVG file is never shown in the site's origin.
MHD_Result serve_static(MHD_Connection* connection, RequestState* state, const fs::path& file,
                        bool data) {
  std::error_code ec;
  const uintmax_t size = fs::file_size(file, ec);
  std::FILE* f = ec ? nullptr : std::fopen(file.c_str(), "rb");
  if (!f)
    return queue_text(connection, state, 403, "Forbidden", "The file cannot be read.");
  const char* type = data ? inline_data_type(file.string()) : content_type_of(file.string());
  const bool attachment = !type;
  const RangedResponse reply =
      file_response(state->request, f, size, attachment ? "application/octet-stream" : type);
  if (!reply.response)
    return MHD_NO;
  if (data) {
    MHD_add_response_header(reply.response, "X-Content-Type-Options", "nosniff");
    MHD_add_response_header(reply.response, "Content-Security-Policy",
                            "default-src 'none'; sandbox");
    if (attachment)
      MHD_add_response_header(reply.response, "Content-Disposition", "attachment");
  }
  state->bytes = reply.length;
  return queue(connection, state, reply.status, reply.response);
}

// Runs the page into run->out (or writes the error page of its compilation) and notes how
// long the run took, its end included.
void run_page(HttpServer* server, HttpRequestData& request, PageRun* run) {
  if (!run->compiled) {
    write_error_page(run->out, run->error.file, run->error.line, run->error.message, "");
    return;
  }
  const auto begun = std::chrono::steady_clock::now();
  {
    PageContext page(server->config(), request, run->out, run->virtual_path);
    if (FAILED(page.begin())) {
      page.end();
      write_error_page(run->out, run->virtual_path, 0, "out of memory", "");
    } else {
      run_script_page(page, *run->compiled);
    }
  }
  run->compiled->record_run(std::chrono::steady_clock::now() - begun);
}

MHD_Result send_page(MHD_Connection* connection, RequestState* state, HttpResponseData& out) {
  std::string type = out.content_type;
  if (!out.charset.empty())
    type += "; charset=" + out.charset;
  const RangedResponse reply = page_response(state->request, out, type);
  MHD_Response* response = reply.response;
  if (!response)
    return MHD_NO;
  if (out.has_expires)
    MHD_add_response_header(response, "Expires",
                            http_date(std::time(nullptr) + out.expires_minutes * 60).c_str());
  bool has_cache_control = false;
  for (auto& [name, value] : out.headers) {
    has_cache_control |= iequals(name, "Cache-Control");
    if (MHD_add_response_header(response, name.c_str(), value.c_str()) != MHD_YES)
      state->log_extra += "(header " + name + " refused)";
  }
  if (!has_cache_control)
    MHD_add_response_header(response, "Cache-Control", "private");
  state->bytes = reply.length;
  state->log_extra += out.log_entry;
  return queue(connection, state, reply.status, response);
}

// A page whose runs were short, with a body small enough to save at once, runs on the thread
// that holds its connection: handing it to a worker would cost more than running it. Any other
// goes to a worker, so that it does not hold up the other clients of this thread; the
// connection waits, suspended, and the library calls again once the worker is done.
// page_status: the status of the page's file taken for this request, or st_mode 0.
MHD_Result serve_page(HttpServer* server, MHD_Connection* connection, RequestState* state,
                      const std::string& virtual_path, const struct stat& page_status) {
  constexpr ULONG kLargestBodyRunHere = 256 * 1024;
  static thread_local bool apartment = false;
  if (!apartment) {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    apartment = true;
  }
  PageRun run;
  run.virtual_path = virtual_path;
  run.compiled = server->pages().get(server->config().site_root, virtual_path, &run.error,
                                     &page_status, &server->resolutions());
  if (!run.compiled ||
      (run.compiled->runs_short() && state->request.body_size <= kLargestBodyRunHere)) {
    run_page(server, state->request, &run);
    return send_page(connection, state, run.out);
  }
  state->page = std::make_unique<PageRun>(std::move(run));
  PageRun* handed = state->page.get();
  MHD_suspend_connection(connection);
  const auto job = [server, connection, state, handed] {
    run_page(server, state->request, handed);
    MHD_resume_connection(connection);
  };
  if (!server->workers().post(job))
    job();  // the workers are stopping: the page runs here, as the library still waits for it
  return MHD_YES;
}

// A progress query: the JSON report of the id it gives.
MHD_Result answer_progress(HttpServer* server, MHD_Connection* connection, RequestState* state) {
  if (state->request.method != "GET" && state->request.method != "HEAD")
    return queue_text(connection, state, 405, "Method Not Allowed",
                      "Progress queries answer GET and HEAD only.");
  const std::string id = UploadProgress::request_id(state->request);
  if (id.empty())
    return queue_text(connection, state, 400, "Bad Request",
                      "X-Progress-ID needs 1 to 64 letters, digits, '-', '_' or '.'.");
  const std::string body = server->progress().report(id, std::chrono::steady_clock::now());
  MHD_Response* response = MHD_create_response_from_buffer(
      body.size(), const_cast<char*>(body.data()), MHD_RESPMEM_MUST_COPY);
  if (response) {
    MHD_add_response_header(response, "Content-Type", "application/json");
    MHD_add_response_header(response, "Cache-Control", "no-store");
  }
  state->bytes = body.size();
  return queue(connection, state, 200, response);
}

// Resolves a request path (absolute, without "..") in the site folder root: *real is the file
// it names and *status its status (not found when it names nothing, or goes on after a file).
// Without symbolic links on the way, one lstat per component decides, and *last is the status of
// the last one (its st_mode 0 when there was none or a link was followed); a link is followed and
// its end must lie in the site too. False when the path leaves the site.
bool resolve_in_site(const std::string& root, const std::string& path, fs::path* real,
                     fs::file_status* status, struct stat* last) {
  std::string target = root;
  *status = fs::file_status(fs::file_type::directory);
  last->st_mode = 0;
  bool in_site = true;
  const auto not_found = [&] {
    last->st_mode = 0;
    *real = target;
    *status = fs::file_status(fs::file_type::not_found);
    return false;
  };
  // The walk stops at the first component that decides: a missing one, a link, or one after a
  // file.
  const bool walked = for_each_component(path, [&](std::string_view name, bool last_one) {
    // Empty and "." components name the folder they stand in.
    if (name.empty() || name == ".")
      return true;
    if (target.empty() || target.back() != '/')
      target += '/';
    target += name;
    if (lstat(target.c_str(), last) != 0)
      return not_found();
    if (S_ISLNK(last->st_mode)) {
      last->st_mode = 0;
      std::error_code ec;
      *real = fs::weakly_canonical(fs::path(root) / path.substr(1), ec);
      in_site = !ec && inside(real->string(), root);
      if (in_site)
        *status = fs::status(*real, ec);
      return false;
    }
    *status = fs::file_status(S_ISDIR(last->st_mode)   ? fs::file_type::directory
                              : S_ISREG(last->st_mode) ? fs::file_type::regular
                                                       : fs::file_type::unknown);
    // Anything after a file, even "/" or "/.", names nothing: "page.asp/" would otherwise be
    // the page's file without the page's ending, and go out as its source.
    if (!S_ISDIR(last->st_mode) && !last_one)
      return not_found();
    return true;
  });
  if (walked)
    *real = target;
  return in_site;
}

// Whether a decoded request path can name something: absolute, with no backslash (the
// Windows-style namespace would read it as a separator) and no NUL.
bool well_formed(const std::string& path) {
  return !path.empty() && path[0] == '/' && path.find('\0') == std::string::npos &&
         path.find('\\') == std::string::npos;
}

// Whether a component of path is "..".
bool climbs(const std::string& path) {
  return !for_each_component(path, [](std::string_view name, bool) { return name != ".."; });
}

// A folder asked for without its trailing '/': sent to the folder's own address, query kept.
MHD_Result redirect_to_folder(MHD_Connection* connection, RequestState* state) {
  const HttpRequestData& r = state->request;
  const std::string location =
      r.raw_path + "/" +
      (r.raw_query.empty() && state->uri.find('?') == std::string::npos ? "" : "?" + r.raw_query);
  MHD_Response* response = MHD_create_response_from_buffer(0, nullptr, MHD_RESPMEM_PERSISTENT);
  if (response)
    MHD_add_response_header(response, "Location", location.c_str());
  return queue(connection, state, 301, response);
}

// The index page of folder real in *target, its name added to *virtual_path; false when the
// folder has none.
bool find_index(const fs::path& real, fs::path* target, std::string* virtual_path) {
  std::error_code ec;
  for (const char* index : {"index.asp", "default.asp", "index.html", "index.htm"}) {
    if (fs::is_regular_file(real / index, ec)) {
      *target = real / index;
      *virtual_path += index;
      return true;
    }
  }
  return false;
}

// Sends what a request path names: a page runs, a file goes out as it is, a folder sends its
// index page. Paths that leave the site are refused.
MHD_Result dispatch(HttpServer* server, MHD_Connection* connection, RequestState* state) {
  const HttpRequestData& r = state->request;
  if (!well_formed(r.path))
    return queue_text(connection, state, 400, "Bad Request", "The path is not valid.");
  if (climbs(r.path))
    return queue_text(connection, state, 403, "Forbidden", "The path leaves the site.");
  const HostConfig& config = server->config();
  // The path as text: a page needs no fs::path, whose parts cost more to make than the rest of
  // this function.
  std::string real;
  fs::file_status status;
  struct stat page_status;
  ResolutionCache& resolutions = server->resolutions();
  if (const Resolution* kept = resolutions.Find(r.path)) {
    real = kept->real;
    status = fs::file_status(fs::file_type::regular);
    page_status = kept->status;
  } else {
    ResolutionCache::Ticket ticket = resolutions.Prepare(config.site_root, r.path);
    fs::path resolved;
    if (!resolve_in_site(config.site_root, r.path, &resolved, &status, &page_status))
      return queue_text(connection, state, 403, "Forbidden", "The path leaves the site.");
    real = resolved.string();
    // A regular file reached without a symbolic link (resolve_in_site clears the mode after
    // one).
    if (S_ISREG(page_status.st_mode))
      resolutions.Keep(r.path, std::move(ticket), Resolution{real, page_status});
  }
  fs::path target;
  std::error_code ec;
  // Whether the file sent is in a data folder, judged by where it really is: a link from
  // elsewhere in the site to an uploaded page does not run it either.
  bool data = in_data_dir(config, real);
  std::string virtual_path = r.path;
  if (fs::is_directory(status)) {
    if (virtual_path.back() != '/')
      return redirect_to_folder(connection, state);
    if (data)
      return queue_text(connection, state, 403, "Forbidden",
                        "This folder holds data only: it has no index page.");
    if (!find_index(real, &target, &virtual_path))
      return queue_text(connection, state, 403, "Forbidden", "This folder has no index page.");
    data = in_data_dir(config, fs::weakly_canonical(target, ec).string());
    page_status.st_mode = 0;
  } else if (!fs::is_regular_file(status)) {
    return queue_text(connection, state, 404, "Not Found",
                      "There is no " + r.path + " on this server.");
  }
  if (is_page(virtual_path)) {
    // As a production server denies execute access to an upload folder: the page neither runs
    // nor goes out as its source.
    if (data)
      return queue_text(connection, state, 403, "Forbidden",
                        "Pages do not run from a folder that holds data only.");
    return serve_page(server, connection, state, virtual_path, page_status);
  }
  if (target.empty())
    target = real;
  if (is_server_side(virtual_path) || is_server_side(target.string()))
    return queue_text(connection, state, 403, "Forbidden",
                      "Included and application files are not sent.");
  if (r.method != "GET" && r.method != "HEAD")
    return queue_text(connection, state, 405, "Method Not Allowed",
                      "Static files answer GET and HEAD only.");
  return serve_static(connection, state, target, data);
}

void start_request(HttpServer* server, MHD_Connection* connection, RequestState* state,
                   const char* method, const char* version) {
  state->started = true;
  HttpRequestData& r = state->request;
  r.method = method ? method : "";
  r.protocol = version ? version : "";
  MHD_get_connection_values(connection, MHD_HEADER_KIND, collect_header, &r.headers);
  const size_t question = state->uri.find('?');
  r.raw_path = state->uri.substr(0, question);
  r.raw_query = question == std::string::npos ? "" : state->uri.substr(question + 1);
  r.path = url_decode(r.raw_path, false);
  const MHD_ConnectionInfo* info =
      MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
  if (info && info->client_addr && info->client_addr->sa_family == AF_INET) {
    const auto* in = reinterpret_cast<const SOCKADDR_IN*>(info->client_addr);
    char text[INET_ADDRSTRLEN] = "";
    if (InetNtopA(AF_INET, &in->sin_addr, text, sizeof text))
      r.remote_addr = text;
    const auto* port = reinterpret_cast<const unsigned char*>(&in->sin_port);
    r.remote_port = static_cast<unsigned>(port[0] << 8 | port[1]);  // network byte order
  }
  r.local_addr = server->address();
  r.local_port = server->port();
}

MHD_Result refuse_too_large(MHD_Connection* connection, RequestState* state,
                            unsigned long long limit) {
  return queue_text(
      connection, state, 413, "Payload Too Large",
      "The request body is larger than this server accepts (" + std::to_string(limit) + " bytes).");
}

// Content-Length announced the body: its array is made now, so that the pieces go straight
// into it. A length that is not a number, or above the limit, refuses the request before its
// body is read.
MHD_Result expect_body(HttpServer* server, MHD_Connection* connection, RequestState* state,
                       const std::string& length) {
  const unsigned long long limit = server->config().max_body;
  char* end = nullptr;
  const unsigned long long n = std::strtoull(length.c_str(), &end, 10);
  if (end == length.c_str() || *end != '\0')
    return queue_text(connection, state, 400, "Bad Request", "Content-Length is not a number.");
  if (n > limit)
    return refuse_too_large(connection, state, limit);
  state->length_known = true;
  if (n > 0) {
    HttpRequestData& r = state->request;
    r.body.Reset(SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(n)));
    if (!r.body.Get())
      return queue_text(connection, state, 503, "Service Unavailable",
                        "There is no memory for the request body.");
    r.body_size = static_cast<ULONG>(n);
  }
  return MHD_YES;
}

// The first call for a request: its line and headers. A progress query is answered at once;
// any other request is tracked and waits for its body.
MHD_Result on_headers(HttpServer* server, MHD_Connection* connection, RequestState* state,
                      const char* method, const char* version) {
  start_request(server, connection, state, method, version);
  const HttpRequestData& r = state->request;
  if (!server->config().progress_path.empty() && r.path == server->config().progress_path)
    return answer_progress(server, connection, state);
  state->progress = server->progress().track(r, state->start);
  const std::string* length = r.header("Content-Length");
  return length ? expect_body(server, connection, state, *length) : MHD_YES;
}

// A piece of the body: copied into the announced array, or gathered when the body is chunked.
// Once the request is refused the rest is counted and dropped. MHD_NO closes the connection: a
// client too slow, or sending more than it announced.
MHD_Result on_body_piece(HttpServer* server, RequestState* state, const char* piece, size_t n) {
  const unsigned long long limit = server->config().max_body;
  if (state->progress)
    state->progress->received.fetch_add(n, std::memory_order_relaxed);
  // The library's time-out only catches a silent client: one that trickles its body is
  // cut off here.
  if (std::chrono::steady_clock::now() - state->start >
      std::chrono::seconds(server->config().client_timeout_seconds)) {
    state->log_extra += (state->log_extra.empty() ? "" : " ") + std::string("(body too slow)");
    return MHD_NO;
  }
  if (state->responded)
    return MHD_YES;  // the rest of a refused body
  if (state->too_large) {
    // The library cannot answer in the middle of a body: the rest is read and dropped so
    // that the client sees the 413, but a body past twice the limit only gets closed.
    state->received += n;
    return state->received > 2 * limit + 1 ? MHD_NO : MHD_YES;
  }
  HttpRequestData& r = state->request;
  if (state->received + n > (state->length_known ? r.body_size : limit)) {
    if (state->length_known)
      return MHD_NO;  // more than announced: the client is broken
    state->too_large = true;
    state->received += n;
    std::string().swap(state->unsized_body);
    return MHD_YES;
  }
  if (state->length_known) {
    const SafeArrayDataScope data(r.body.Get());
    if (FAILED(data.status()))
      return MHD_NO;
    std::memcpy(data.data() + state->received, piece, n);
  } else {
    state->unsized_body.append(piece, n);
  }
  state->received += n;
  return MHD_YES;
}

// A gathered (chunked) body becomes the request's array; false when there is no memory for it.
bool take_gathered_body(RequestState* state) {
  HttpRequestData& r = state->request;
  r.body.Reset(SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(state->unsized_body.size())));
  const SafeArrayDataScope data(r.body.Get());
  if (FAILED(data.status()))
    return false;
  std::memcpy(data.data(), state->unsized_body.data(), state->unsized_body.size());
  r.body_size = static_cast<ULONG>(state->unsized_body.size());
  std::string().swap(state->unsized_body);
  return true;
}

// The last call for a request: its body, if any, is whole. A refused request has its answer
// already, or now its 413; any other goes to what its path names. A page handed to a worker
// brings one call more, when it has run.
MHD_Result on_body_end(HttpServer* server, MHD_Connection* connection, RequestState* state) {
  if (state->page)
    return send_page(connection, state, state->page->out);  // a worker ran it
  if (state->responded)
    return MHD_YES;
  if (state->too_large)
    return refuse_too_large(connection, state, server->config().max_body);
  if (!state->length_known && !state->unsized_body.empty() && !take_gathered_body(state))
    return queue_text(connection, state, 503, "Service Unavailable",
                      "There is no memory for the request body.");
  return dispatch(server, connection, state);
}

// The library calls once with the request's headers, once for each piece of its body, and once
// more with no piece when the body is whole.
MHD_Result on_request(void* cls, MHD_Connection* connection, const char*, const char* method,
                      const char* version, const char* upload_data, size_t* upload_data_size,
                      void** req_cls) {
  auto* server = static_cast<HttpServer*>(cls);
  auto* state = static_cast<RequestState*>(*req_cls);
  if (!state)
    return MHD_NO;
  if (!state->started)
    return on_headers(server, connection, state, method, version);
  if (*upload_data_size)
    return on_body_piece(server, state, upload_data, std::exchange(*upload_data_size, 0));
  return on_body_end(server, connection, state);
}

// How many processors the process may run on: the connection threads by default, since more
// threads than processors only take turns.
unsigned processors_allowed() {
  cpu_set_t allowed;
  if (sched_getaffinity(0, sizeof allowed, &allowed) == 0 && CPU_COUNT(&allowed) > 0)
    return static_cast<unsigned>(CPU_COUNT(&allowed));
  return std::max(1u, std::thread::hardware_concurrency());
}

}  // namespace

std::uint64_t HttpServer::next_id() {
  static std::atomic<std::uint64_t> last{0};
  return ++last;
}

// A thread finds its cache through a thread_local that names the server by id, not address:
// another server may later stand where this one stood.
ResolutionCache& HttpServer::resolutions() {
  thread_local std::uint64_t server_id = 0;
  thread_local ResolutionCache* mine = nullptr;
  if (server_id != id_) {
    auto made = std::make_unique<ResolutionCache>();
    std::lock_guard<std::mutex> lock(resolutions_mutex_);
    resolutions_.push_back(std::move(made));
    mine = resolutions_.back().get();
    server_id = id_;
  }
  return *mine;
}

HttpServer::~HttpServer() {
  stop();
}

bool HttpServer::start(const std::string& address, unsigned port, unsigned connection_threads,
                       unsigned workers, std::string* error) {
  SOCKADDR_IN where{};
  where.sin_family = AF_INET;
  auto* port_bytes = reinterpret_cast<unsigned char*>(&where.sin_port);  // network byte order
  port_bytes[0] = static_cast<unsigned char>(port >> 8);
  port_bytes[1] = static_cast<unsigned char>(port);
  if (InetPtonA(AF_INET, address.c_str(), &where.sin_addr) != 1) {
    *error = "not an IPv4 address: " + address;
    return false;
  }
  address_ = address;
  std::error_code ec;
  const fs::path root = fs::canonical(config_.site_root, ec);
  if (ec || !fs::is_directory(root, ec)) {
    *error = "the site folder does not exist: " + config_.site_root;
    return false;
  }
  config_.site_root = root.string();
  for (std::string& dir : config_.data_dirs) {
    const fs::path real = fs::weakly_canonical(dir, ec);
    if (ec || !inside(real.string(), config_.site_root)) {
      *error = "the data folder is not inside the site: " + dir;
      return false;
    }
    dir = real.string();
    while (dir.size() > 1 && dir.back() == '/')
      dir.pop_back();
  }
  // Idle keep-alive clients must not keep new ones out: connections may take every handle the
  // system allows but a reserve for the pages' files, databases and modules.
  const DWORD handles = PlatformRaiseHandleLimit();
  const unsigned connections =
      handles > kHandleReserve + kMinConnections ? handles - kHandleReserve : kMinConnections;
  port_.store(port, std::memory_order_relaxed);
  if (!workers_.start(workers, error))
    return false;
  daemon_ = MHD_start_daemon(
      MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_ERROR_LOG | MHD_USE_AUTO | MHD_ALLOW_SUSPEND_RESUME,
      0, nullptr, nullptr, &on_request, this, MHD_OPTION_SOCK_ADDR, &where,
      MHD_OPTION_THREAD_POOL_SIZE, connection_threads ? connection_threads : processors_allowed(),
      MHD_OPTION_URI_LOG_CALLBACK, &on_uri, this, MHD_OPTION_NOTIFY_COMPLETED, &on_completed, this,
      MHD_OPTION_CONNECTION_TIMEOUT, static_cast<unsigned>(config_.client_timeout_seconds),
      MHD_OPTION_CONNECTION_LIMIT, std::min(connections, kMaxConnections), MHD_OPTION_END);
  if (!daemon_) {
    workers_.stop();
    *error = "cannot listen on " + address + ":" + std::to_string(port);
    return false;
  }
  const MHD_DaemonInfo* info = MHD_get_daemon_info(daemon_, MHD_DAEMON_INFO_BIND_PORT);
  port_.store(info ? info->port : port, std::memory_order_relaxed);
  return true;
}

// The workers finish first: the library must not stop with a connection still suspended.
void HttpServer::stop() {
  workers_.stop();
  if (daemon_)
    MHD_stop_daemon(daemon_);
  daemon_ = nullptr;
}

}  // namespace vhost
