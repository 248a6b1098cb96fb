#include <curl/curl.h>

#include <chrono>
#include <memory>
#include <thread>
#include <utility>

#include "authenticode/root_program/http_fetcher.h"

namespace sealprobe {
namespace {

struct CurlDeleter {
  void operator()(CURL* curl) const noexcept { curl_easy_cleanup(curl); }
};
using CurlPtr = std::unique_ptr<CURL, CurlDeleter>;

// Where a transfer's bytes go: at most `max` of them, and only a file's,
// never an error page's.
struct Sink {
  CURL* curl = nullptr;
  std::vector<uint8_t>* bytes = nullptr;
  size_t max = 0;
  bool over = false;
};

size_t Collect(char* data, size_t size, size_t count, void* user) {
  Sink* sink = static_cast<Sink*>(user);
  const size_t n = size * count;
  long status = 0;
  curl_easy_getinfo(sink->curl, CURLINFO_RESPONSE_CODE, &status);
  if (status != 200) return n;
  if (n > sink->max - sink->bytes->size()) {
    sink->over = true;
    return 0;  // libcurl stops the transfer
  }
  sink->bytes->insert(sink->bytes->end(), data, data + n);
  return n;
}

// Failures a later attempt may not meet: the network's, not the file's.
bool Transient(CURLcode code) {
  switch (code) {
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_CONNECT:
    case CURLE_OPERATION_TIMEDOUT:
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_PARTIAL_FILE:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
      return true;
    default:
      return false;
  }
}

class HttpFetcher : public Fetcher {
 public:
  HttpFetcher(HttpFetcherSettings settings, CurlPtr curl)
      : settings_(std::move(settings)), curl_(std::move(curl)) {}

  std::string source() const override { return settings_.base_url; }

  Fetched Fetch(const std::string& name, size_t max_bytes) override {
    Fetched got;
    long backoff = settings_.first_backoff_ms;
    for (int attempt = 1;; ++attempt) {
      bool transient = false;
      got = Once(settings_.base_url + name, max_bytes, &transient);
      if (!transient || attempt >= settings_.attempts) return got;
      std::this_thread::sleep_for(std::chrono::milliseconds(backoff));
      backoff *= 2;
    }
  }

 private:
  Fetched Once(const std::string& url, size_t max_bytes, bool* transient) {
    Fetched got;
    CURL* curl = curl_.get();
    Sink sink{curl, &got.bytes, max_bytes, false};
    char words[CURL_ERROR_SIZE] = "";
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &sink);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, words);
    curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE,
                     static_cast<curl_off_t>(max_bytes));
    const CURLcode code = curl_easy_perform(curl);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, nullptr);
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    if (sink.over || code == CURLE_FILESIZE_EXCEEDED) {
      got.outcome = Fetched::Outcome::kOverCap;
    } else if (code != CURLE_OK) {
      got.outcome = Fetched::Outcome::kFailed;
      got.detail = words[0] != '\0' ? words : curl_easy_strerror(code);
      *transient = Transient(code);
    } else if (status == 200) {
      got.outcome = Fetched::Outcome::kOk;
      return got;
    } else if (status == 404 || status == 410) {
      got.outcome = Fetched::Outcome::kNotFound;
    } else {
      got.outcome = Fetched::Outcome::kFailed;
      got.detail = "the server answered HTTP " + std::to_string(status);
      *transient = status >= 500 || status == 408 || status == 429;
    }
    got.bytes.clear();
    return got;
  }

  HttpFetcherSettings settings_;
  CurlPtr curl_;
};

// The options every transfer shares; false when libcurl refuses one.
bool SetUp(CURL* curl, const HttpFetcherSettings& s) {
  bool ok = true;
  const auto set = [&ok](CURLcode code) { ok = ok && code == CURLE_OK; };
  set(curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https"));
  set(curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https"));
  set(curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L));
  set(curl_easy_setopt(curl, CURLOPT_MAXREDIRS, s.max_redirects));
  set(curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT,
                       s.connect_timeout_seconds));
  set(curl_easy_setopt(curl, CURLOPT_TIMEOUT, s.timeout_seconds));
  set(curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L));
  set(curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, s.stall_seconds));
  // No signals: a timeout must not interrupt anything but the transfer.
  set(curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L));
  set(curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Collect));
  if (!s.user_agent.empty()) {
    set(curl_easy_setopt(curl, CURLOPT_USERAGENT, s.user_agent.c_str()));
  }
  return ok;
}

}  // namespace

std::unique_ptr<Fetcher> MakeHttpFetcher(const HttpFetcherSettings& settings,
                                         std::string* error) {
  // Once per process, before any handle; a program of one thread.
  static const CURLcode kInit = curl_global_init(CURL_GLOBAL_DEFAULT);
  HttpFetcherSettings s = settings;
  if (s.base_url.empty() || s.base_url.back() != '/') s.base_url += '/';
  CurlPtr curl(kInit == CURLE_OK ? curl_easy_init() : nullptr);
  if (!curl || !SetUp(curl.get(), s)) {
    *error = kInit != CURLE_OK ? curl_easy_strerror(kInit)
                               : "libcurl cannot be set up";
    return nullptr;
  }
  return std::make_unique<HttpFetcher>(std::move(s), std::move(curl));
}

}  // namespace sealprobe
