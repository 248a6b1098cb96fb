// Fetching Microsoft's files over HTTP (or HTTPS, from a mirror), by
// libcurl. Only sealprobe-roots links it: the verifier never touches the
// network.
#ifndef SEALPROBE_AUTHENTICODE_ROOT_PROGRAM_HTTP_FETCHER_H_
#define SEALPROBE_AUTHENTICODE_ROOT_PROGRAM_HTTP_FETCHER_H_

#include <memory>
#include <string>

#include "authenticode/root_program/fetcher.h"

namespace sealprobe {

// Where Windows fetches its root program from (its RootDirUrl).
inline constexpr char kMicrosoftRootDirUrl[] =
    "http://ctldl.windowsupdate.com/msdownload/update/v3/static/trustedr/en/";

struct HttpFetcherSettings {
  std::string base_url = kMicrosoftRootDirUrl;  // a file is base + name
  long connect_timeout_seconds = 30;
  long timeout_seconds = 300;  // each attempt at a file, all in all
  // A transfer slower than a byte a second for this long is given up.
  long stall_seconds = 60;
  int attempts = 3;  // for a connection that fails or breaks, or a 5xx
  long first_backoff_ms = 1000;  // before the second attempt; doubled after
  long max_redirects = 5;        // to http or https only
  std::string user_agent;
};

// A Fetcher that GETs base_url + name, keeping the connection between
// files. Proxies are libcurl's from the environment (http_proxy,
// https_proxy, no_proxy, all_proxy). Only a 200 is a file; a 404 or 410 is
// none; a file over its cap is given up as soon as it is (by its
// Content-Length when the server sends one). Null when libcurl cannot be
// set up: `error` says why.
std::unique_ptr<Fetcher> MakeHttpFetcher(const HttpFetcherSettings& settings,
                                         std::string* error);

}  // namespace sealprobe

#endif  // SEALPROBE_AUTHENTICODE_ROOT_PROGRAM_HTTP_FETCHER_H_
