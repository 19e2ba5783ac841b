// The state of one script page while it runs: the HTTP request and the response being built,
// the intrinsic objects handed to the script and to components, and the objects whose
// OnEndPage must run when the page ends.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "asptlb.h"
#include "com_ptr.h"
#include "oleauto.h"
#include "response_body.h"
#include "scoped_safearray.h"

namespace vhost {

struct HostConfig {
  std::string site_root;  // absolute Linux path without a trailing '/'
  int script_timeout_seconds = 90;
  unsigned long long max_body = 30ull * 1024 * 1024;
  int client_timeout_seconds = 60;
  unsigned long long max_response = 64ull * 1024 * 1024;  // the largest response body
  // Folders that hold data only, as absolute Linux paths without symbolic links or a
  // trailing '/': no page runs from them and their files are served as data.
  std::vector<std::string> data_dirs;
  // Upload progress: where progress queries are answered (empty: nowhere), and how long the
  // progress of an ended upload is kept.
  std::string progress_path = "/.progress";
  int progress_keep_seconds = 60;
};

using HeaderList = std::vector<std::pair<std::string, std::string>>;

// The value of the first header named name (compared without regard to case), or null.
const std::string* find_header(const HeaderList& headers, std::string_view name);

struct HttpRequestData {
  std::string method;
  std::string path;       // decoded virtual path, starting with '/'
  std::string raw_path;   // as sent
  std::string raw_query;  // after '?', as sent
  std::string protocol;
  std::string remote_addr;
  unsigned remote_port = 0;
  std::string local_addr;
  unsigned local_port = 0;
  HeaderList headers;
  ScopedSafeArray body;  // VT_UI1 vector of body_size bytes until BinaryRead hands it out
  ULONG body_size = 0;

  const std::string* header(std::string_view name) const;
};

struct HttpResponseData {
  unsigned status = 200;
  std::string status_text = "OK";
  std::string content_type = "text/html";
  std::string charset;
  HeaderList headers;
  ResponseBody body;
  bool buffer = true;
  bool headers_sent = false;  // after Flush: headers can no longer change
  bool has_expires = false;
  long expires_minutes = 0;
  std::string log_entry;  // Response.AppendToLog
};

class Session;
class PageBound;
class RequestObject;
class ResponseObject;
class ServerObject;
class SessionObject;
class ApplicationObject;
class ScriptingContextObject;

class PageContext {
 public:
  PageContext(const HostConfig& config, HttpRequestData& request, HttpResponseData& response,
              std::string page_path);
  ~PageContext();
  PageContext(const PageContext&) = delete;
  PageContext& operator=(const PageContext&) = delete;

  // Makes the intrinsic objects. Returns S_OK or E_OUTOFMEMORY.
  HRESULT begin();
  // Calls OnEndPage on the objects that had OnStartPage, releases Application.Lock and detaches
  // the intrinsic objects (later calls through kept references fail with E_UNEXPECTED).
  void end();

  const HostConfig& config;
  HttpRequestData& request;
  HttpResponseData& response;
  const std::string page_path;  // virtual path of the page
  UINT code_page = 65001;
  long script_timeout_seconds;
  std::chrono::steady_clock::time_point started = std::chrono::steady_clock::now();
  bool ended = false;  // Response.End or Redirect ran

  // Request.Form and BinaryRead exclude each other, as script hosts have it.
  bool form_used = false;
  bool binary_read_used = false;
  ULONG read_position = 0;

  std::shared_ptr<Session> session;  // made on first use
  bool session_is_new = false;
  int application_locks = 0;

  std::vector<ComPtr<IDispatch>> page_objects;  // have OnStartPage; get OnEndPage

  IScriptingContext* scripting_context() const;
  IRequest* request_object() const;
  IResponse* response_object() const;
  IServer* server_object() const;
  ISessionObject* session_object() const;
  IApplicationObject* application_object() const;

  // The session of the request's cookie, or a new one (with its cookie set on the response).
  Session* ensure_session();

 private:
  ComPtr<IScriptingContext> context_;
  ComPtr<IRequest> request_object_;
  ComPtr<IResponse> response_object_;
  ComPtr<IServer> server_object_;
  ComPtr<ISessionObject> session_object_;
  ComPtr<IApplicationObject> application_object_;
  std::vector<PageBound*> bound_;  // detached at the end
};

}  // namespace vhost
