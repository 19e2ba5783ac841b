// Command-line options (see options.h).
#include "options.h"

#include <cstdlib>

namespace vhost {

namespace {

// A count with an optional K, M or G suffix (powers of 1024).
bool parse_size(const std::string& text, unsigned long long* out) {
  if (text.empty())
    return false;
  char* end = nullptr;
  unsigned long long value = std::strtoull(text.c_str(), &end, 10);
  if (end == text.c_str())
    return false;
  const std::string suffix(end);
  if (suffix == "K" || suffix == "k")
    value <<= 10;
  else if (suffix == "M" || suffix == "m")
    value <<= 20;
  else if (suffix == "G" || suffix == "g")
    value <<= 30;
  else if (!suffix.empty())
    return false;
  *out = value;
  return true;
}

}  // namespace

std::string usage() {
  return "Usage: vhost [options]\n"
         "Serves a site folder over HTTP: static files, and script pages (*.asp) run as\n"
         "JavaScript with the Request, Response, Server, Session and Application objects.\n"
         "\n"
         "  --root DIR            site folder (default: current folder)\n"
         "  --address ADDR        IPv4 address to listen on (default 127.0.0.1)\n"
         "  --port N              port (default 8080; 0 picks a free one)\n"
         "  --connection-threads N\n"
         "                        threads that hold the connections and run the pages whose\n"
         "                        runs were short (default: one for each processor)\n"
         "  --workers N           threads for the other pages: new, changed, slow ones, and\n"
         "                        bodies over 256K; each runs one page at a time (default 4)\n"
         "  --max-body SIZE       largest request body, e.g. 30M (default 30M); larger bodies\n"
         "                        are refused with 413 before they are read (at most 2G - 1)\n"
         "  --max-response SIZE   largest response body a page may make (default 64M, at\n"
         "                        most 2G - 1); a write past it fails, and a page that\n"
         "                        does not handle the failure gets the 500 error page\n"
         "  --script-timeout S    seconds a page may run (default 90; Server.ScriptTimeout\n"
         "                        changes it for one page)\n"
         "  --client-timeout S    seconds a client may stay silent, and may take to send a\n"
         "                        request body, before its connection is closed (default 60)\n"
         "  --data-dir DIR        a folder of the site (such as files or up/images) that holds\n"
         "                        data only, such as uploads: no page runs from it (403),\n"
         "                        and its files go out with nosniff and a sandbox, as\n"
         "                        attachments unless they are images or plain text; may be\n"
         "                        given several times, and the folder need not exist yet\n"
         "  --app-value NAME=VALUE\n"
         "                        Application(NAME) holds VALUE when the host starts, such as\n"
         "                        a database connection string (repeatable)\n"
         "  --access-log WHERE    '-' standard output (default), 'off', or a file\n"
         "  --typelib FILE        the intrinsic objects' interface description (default:\n"
         "                        asptlb.idl beside the program)\n"
         "  --progress-path PATH  where upload progress is reported (default /.progress;\n"
         "                        'off' for nowhere): PATH?X-Progress-ID=id gives JSON\n"
         "  --progress-keep S     seconds the progress of an ended upload is kept (default 60)\n"
         "  --help                this text\n"
         "\n"
         "Components are created by Server.CreateObject through the registry file named by\n"
         "PLATFORM_REGISTRY. SIGINT or SIGTERM stops the server after the running pages.\n";
}

bool parse_options(const std::vector<std::string>& args, Options* o, std::string* error) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--help" || a == "-h") {
      o->help = true;
      continue;
    }
    if (i + 1 >= args.size()) {
      *error = "unknown option or missing value: " + a;
      return false;
    }
    const std::string& v = args[++i];
    unsigned long long n = 0;
    if (a == "--root") {
      o->root = v;
    } else if (a == "--address") {
      o->address = v == "localhost" ? "127.0.0.1" : v;
    } else if (a == "--port") {
      if (!parse_size(v, &n) || n > 65535) {
        *error = "--port needs a number from 0 to 65535";
        return false;
      }
      o->port = static_cast<unsigned>(n);
    } else if (a == "--workers") {
      if (!parse_size(v, &n) || n < 1 || n > 1024) {
        *error = "--workers needs a number from 1 to 1024";
        return false;
      }
      o->workers = static_cast<unsigned>(n);
    } else if (a == "--connection-threads") {
      if (!parse_size(v, &n) || n < 1 || n > 1024) {
        *error = "--connection-threads needs a number from 1 to 1024";
        return false;
      }
      o->connection_threads = static_cast<unsigned>(n);
    } else if (a == "--max-body") {
      if (!parse_size(v, &n) || n > 0x7FFFFFFFull) {
        *error = "--max-body needs a size below 2G, such as 30M";
        return false;
      }
      o->max_body = n;
    } else if (a == "--max-response") {
      if (!parse_size(v, &n) || n < 1 || n > 0x7FFFFFFFull) {
        *error = "--max-response needs a size from 1 byte to below 2G, such as 64M";
        return false;
      }
      o->max_response = n;
    } else if (a == "--script-timeout") {
      if (!parse_size(v, &n) || n < 1 || n > 86400) {
        *error = "--script-timeout needs a number of seconds from 1 to 86400";
        return false;
      }
      o->script_timeout = static_cast<int>(n);
    } else if (a == "--client-timeout") {
      if (!parse_size(v, &n) || n < 1 || n > 86400) {
        *error = "--client-timeout needs a number of seconds from 1 to 86400";
        return false;
      }
      o->client_timeout = static_cast<int>(n);
    } else if (a == "--data-dir") {
      std::string dir = v;
      while (!dir.empty() && dir.front() == '/')
        dir.erase(0, 1);
      while (!dir.empty() && dir.back() == '/')
        dir.pop_back();
      if (dir.empty() || dir.find('\\') != std::string::npos ||
          ("/" + dir + "/").find("/../") != std::string::npos) {
        *error = "--data-dir needs a folder inside the site, such as files";
        return false;
      }
      o->data_dirs.push_back(dir);
    } else if (a == "--app-value") {
      const size_t equals = v.find('=');
      if (equals == std::string::npos || equals == 0) {
        *error = "--app-value needs NAME=VALUE";
        return false;
      }
      o->app_values.emplace_back(v.substr(0, equals), v.substr(equals + 1));
    } else if (a == "--access-log") {
      o->access_log = v;
    } else if (a == "--typelib") {
      o->typelib = v;
    } else if (a == "--progress-path") {
      if (v != "off" && (v.empty() || v[0] != '/')) {
        *error = "--progress-path needs a path starting with '/', or 'off'";
        return false;
      }
      o->progress_path = v == "off" ? "" : v;
    } else if (a == "--progress-keep") {
      if (!parse_size(v, &n) || n < 1 || n > 86400) {
        *error = "--progress-keep needs a number of seconds from 1 to 86400";
        return false;
      }
      o->progress_keep = static_cast<int>(n);
    } else {
      *error = "unknown option: " + a;
      return false;
    }
  }
  return true;
}

}  // namespace vhost
