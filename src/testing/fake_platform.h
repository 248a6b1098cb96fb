// Recording fakes of the platform operations, for the unit tests. Every fake
// appends to one shared event log, so a test can assert the order in which a
// run touched files, the trust service, the console and the dialog.
#ifndef SEALPROBE_TESTING_FAKE_PLATFORM_H_
#define SEALPROBE_TESTING_FAKE_PLATFORM_H_

#include <map>
#include <set>
#include <vector>

#include "console.h"
#include "driver/run.h"
#include "notice/error_dialog.h"
#include "product_files/file_opener.h"
#include "trust/trust_service.h"

namespace sealprobe::fakes {

using EventLog = std::vector<NativeString>;

inline NativeString Event(NativeStringView kind, NativeStringView detail) {
  NativeString event(kind);
  event.append(SP_TEXT(" "));
  event.append(detail);
  return event;
}

class FakeConsole final : public Console {
 public:
  explicit FakeConsole(EventLog& log) : log_(log) {}
  void Write(NativeStringView text) override {
    log_.push_back(Event(SP_TEXT("write"), text));
    output.append(text);
  }
  NativeString output;

 private:
  EventLog& log_;
};

// Files "exist" when their full path is in `present`. Opens and closes are
// logged, so handle lifetimes can be checked.
class FakeFileOpener final : public FileOpener {
 public:
  explicit FakeFileOpener(EventLog& log) : log_(log) {}
  std::unique_ptr<OpenFile> OpenForReading(const NativeString& path) override {
    const bool found = present.count(path) != 0;
    log_.push_back(Event(found ? SP_TEXT("open") : SP_TEXT("miss"), path));
    if (!found) return nullptr;
    return std::make_unique<Handle>(log_, path);
  }
  std::set<NativeString> present;

 private:
  class Handle final : public OpenFile {
   public:
    Handle(EventLog& log, NativeString path)
        : log_(log), path_(std::move(path)) {}
    ~Handle() override { log_.push_back(Event(SP_TEXT("close"), path_)); }

   private:
    EventLog& log_;
    NativeString path_;
  };
  EventLog& log_;
};

// Every file is valid unless `results` says otherwise.
class FakeTrustService final : public TrustService {
 public:
  explicit FakeTrustService(EventLog& log) : log_(log) {}
  TrustResult Verify(const NativeString& path) override {
    log_.push_back(Event(SP_TEXT("verify"), path));
    const auto it = results.find(path);
    return it == results.end() ? TrustResult{} : it->second;
  }
  std::map<NativeString, TrustResult> results;

 private:
  EventLog& log_;
};

class FakeErrorDialog final : public ErrorDialog {
 public:
  explicit FakeErrorDialog(EventLog& log) : log_(log) {}
  void Show(const NativeString& caption, const NativeString& text) override {
    NativeString detail = caption;
    detail.append(SP_TEXT("|"));
    detail.append(text);
    log_.push_back(Event(SP_TEXT("dialog"), detail));
  }

 private:
  EventLog& log_;
};

// All four fakes over one log, ready to hand to RunSealProbe.
struct FakePlatform {
  EventLog log;
  FakeConsole console{log};
  FakeFileOpener files{log};
  FakeTrustService trust{log};
  FakeErrorDialog dialog{log};
  Platform platform{files, trust, dialog, console};
};

}  // namespace sealprobe::fakes

#endif  // SEALPROBE_TESTING_FAKE_PLATFORM_H_
