#include "authenticode/root_program/sync.h"

#include <map>
#include <memory>
#include <utility>

#include "authenticode/root_program/cabinet.h"
#include "authenticode/root_program/serialized_store.h"
#include "authenticode/root_program/windows_roots.h"
#include "file_descriptor.h"
#include "hex.h"

namespace sealprobe {
namespace {

using Bytes = std::vector<uint8_t>;

// The file a folder keeps a root's certificate in.
std::string BodyName(const Sha1& sha1) {
  return HexOf(sha1, HexCase::kUpper) + ".crt";
}

std::string PathIn(const std::string& folder, const std::string& name) {
  return folder.empty() || folder.back() == '/' ? folder + name
                                                : folder + "/" + name;
}

const char* ListFileOf(TrustListKind kind) {
  return kind == TrustListKind::kRoots ? kRootListFile : kDisallowedListFile;
}

const char* CabinetOf(TrustListKind kind) {
  return kind == TrustListKind::kRoots ? kRootListCabinet
                                       : kDisallowedListCabinet;
}

// A sequence number's digits, lower case, without leading zeros; nullopt
// when it holds anything but hexadecimal digits.
std::optional<std::string> Canonical(const std::string& hex) {
  std::string out;
  for (const char c : hex) {
    const bool digit = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') ||
                       (c >= 'A' && c <= 'F');
    if (!digit) return std::nullopt;
    if (out.empty() && c == '0') continue;
    out += static_cast<char>(c >= 'A' && c <= 'F' ? c - 'A' + 'a' : c);
  }
  return out;
}

// The sequence number authrootseq.txt holds: hexadecimal digits, perhaps
// after 0x, between white space; nullopt for anything else. Only ever a
// hint: a misread one costs a download, never a check.
std::optional<std::string> ReadHint(const Bytes& bytes) {
  std::string text(bytes.begin(), bytes.end());
  const char* kSpace = " \t\r\n";
  const size_t first = text.find_first_not_of(kSpace);
  if (first == std::string::npos) return std::nullopt;
  text = text.substr(first, text.find_last_not_of(kSpace) + 1 - first);
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
    text = text.substr(2);
  if (text.empty() || text.size() > 64) return std::nullopt;
  return Canonical(text);
}

// Why `body` is not the certificate of the root a list names by `sha1`
// with `properties`: "SHA-1", "SHA-256" (the digest that differs) or
// "certificate" (it is not one DER certificate); null when it is.
const char* BodyFault(const Sha1& sha1, const RootProperties& properties,
                      const Bytes& body) {
  if (Sha1OfBytes(body.data(), body.size()) != sha1) return "SHA-1";
  if (properties.sha256 &&
      Sha256OfBytes(body.data(), body.size()) != *properties.sha256) {
    return "SHA-256";
  }
  std::vector<uint8_t> subject;
  if (!CertificateSubject(body.data(), body.size(), &subject)) {
    return "certificate";
  }
  return nullptr;
}

// What the folder in use holds, as far as the sync compares with it.
struct Held {
  std::optional<Bytes> roots_der;
  std::optional<TrustList> roots;
  std::optional<Bytes> disallowed_der;
  std::optional<TrustList> disallowed;
  std::optional<Bytes> store;
  std::optional<FolderOrigin> origin;
};

// A list taken: its bytes and what they say.
struct Taken {
  Bytes der;
  TrustList list;
};

enum class Need {
  kRequired,  // a missing file fails the sync
  kOptional,  // a missing one does not; any other failure does
  kHint,      // nothing about it fails the sync
};

class SyncRun {
 public:
  SyncRun(const SyncOptions& options, Fetcher& fetcher)
      : o_(options), fetcher_(fetcher) {}

  SyncResult Run();

 private:
  bool Fail(SyncFault fault, const std::string& file, std::string detail = {}) {
    r_.fault = fault;
    r_.file = file;
    r_.detail = std::move(detail);
    return false;
  }
  bool FailFolder(const FolderProblem& problem) {
    r_.folder_problem = problem;
    return Fail(SyncFault::kFolder, problem.path);
  }
  bool failed() const { return r_.fault != SyncFault::kNone; }

  void ReadHeld();
  std::optional<Bytes> Get(const std::string& name, size_t cap, Need need);
  std::optional<Bytes> GetList(TrustListKind kind);
  std::optional<TrustList> ReadList(TrustListKind kind, const Bytes& der);
  bool Authenticate(TrustListKind kind, const Taken& taken,
                    ListSummary* summary);
  bool NotOlder(TrustListKind kind, const TrustList& offered,
                const std::optional<TrustList>& held);
  bool TakeRootList(Bytes der);
  bool TakePinnedRoot(const TrustList& list);
  bool TakeDisallowed();
  std::optional<Bytes> HeldBody(const Sha1& sha1,
                                const RootProperties& properties);
  bool CheckBody(const Sha1& sha1, const RootProperties& properties,
                 const Bytes& body);
  bool Count(size_t bytes);
  bool GatherBodies();
  bool IsCurrent() const;
  bool Put(const std::string& name, const Bytes& bytes);
  bool FetchBody(const Sha1& sha1);
  bool WriteFolder();

  const SyncOptions& o_;
  Fetcher& fetcher_;
  SyncResult r_;
  std::unique_ptr<StagedFolder> staged_;
  Held held_;
  std::optional<Taken> roots_;
  std::optional<Taken> disallowed_;
  Bytes store_;
  Sha1 root_sha1_{};
  Bytes root_body_;  // the pinned root's certificate, once checked
  bool root_fetched_ = false;
  std::map<Sha1, Bytes> have_;  // checked certificates, by SHA-1
  std::vector<Sha1> missing_;   // listed roots the folder lacks
  size_t total_ = 0;            // bytes the new folder would hold
};

void SyncRun::ReadHeld() {
  const size_t cap = o_.limits.list_bytes;
  held_.roots_der = ReadHeldList(o_.folder, TrustListKind::kRoots, cap);
  if (held_.roots_der) {
    held_.roots = ReadTrustList(held_.roots_der->data(),
                                held_.roots_der->size(), TrustListKind::kRoots)
                      .list;
  }
  held_.disallowed_der =
      ReadHeldList(o_.folder, TrustListKind::kDisallowed, cap);
  if (held_.disallowed_der) {
    held_.disallowed =
        ReadTrustList(held_.disallowed_der->data(),
                      held_.disallowed_der->size(), TrustListKind::kDisallowed)
            .list;
  }
  WholeFile store = ReadWholeFile(PathIn(o_.folder, kDisallowedStoreFile), cap);
  if (store.ok()) held_.store = std::move(store.bytes);
  const WholeFile origin = ReadWholeFile(PathIn(o_.folder, kOriginFile), 4096);
  if (origin.ok()) {
    held_.origin =
        ParseOrigin(std::string(origin.bytes.begin(), origin.bytes.end()));
  }
}

std::optional<Bytes> SyncRun::Get(const std::string& name, size_t cap,
                                  Need need) {
  Fetched got = fetcher_.Fetch(name, cap);
  switch (got.outcome) {
    case Fetched::Outcome::kOk:
      return std::move(got.bytes);
    case Fetched::Outcome::kNotFound:
      if (need == Need::kRequired) Fail(SyncFault::kMissing, name);
      break;
    case Fetched::Outcome::kOverCap:
      if (need != Need::kHint) Fail(SyncFault::kOverCap, name);
      break;
    case Fetched::Outcome::kFailed:
      if (need != Need::kHint) Fail(SyncFault::kFetch, name, got.detail);
      break;
  }
  return std::nullopt;
}

std::optional<Bytes> SyncRun::GetList(TrustListKind kind) {
  const size_t cap = o_.limits.list_bytes;
  const std::string cabinet = CabinetOf(kind);
  const std::string bare = ListFileOf(kind);
  const std::optional<Bytes> packed = Get(cabinet, cap, Need::kOptional);
  if (packed) {
    CabinetMember member =
        ReadCabinetMember(packed->data(), packed->size(), bare, cap);
    if (member.ok()) return std::move(member.bytes);
    r_.load_error.file = cabinet;
    r_.load_error.fault = LoadFault::kCabinet;
    r_.load_error.detail = bare;
    r_.load_error.cause = member.error;
    Fail(SyncFault::kRead, cabinet);
    return std::nullopt;
  }
  if (failed()) return std::nullopt;
  std::optional<Bytes> plain = Get(bare, cap, Need::kOptional);
  if (!plain && !failed()) Fail(SyncFault::kMissing, cabinet, bare);
  return plain;
}

std::optional<TrustList> SyncRun::ReadList(TrustListKind kind,
                                           const Bytes& der) {
  TrustListRead read = ReadTrustList(der.data(), der.size(), kind);
  if (!read.list) {
    r_.load_error.file = ListFileOf(kind);
    r_.load_error.fault = LoadFault::kTrustList;
    r_.load_error.cause = read.error;
    Fail(SyncFault::kRead, ListFileOf(kind));
  }
  return std::move(read.list);
}

bool SyncRun::Authenticate(TrustListKind kind, const Taken& taken,
                           ListSummary* summary) {
  r_.signature = AuthenticateTrustList(taken.der.data(), taken.der.size(),
                                       root_body_.data(), root_body_.size(),
                                       taken.list.this_update);
  if (!r_.signature.ok()) return Fail(SyncFault::kSignature, ListFileOf(kind));
  summary->this_update = taken.list.this_update;
  summary->sequence_number = taken.list.sequence_number;
  summary->entries = kind == TrustListKind::kRoots
                         ? taken.list.subjects.size()
                         : taken.list.identifiers.size();
  summary->signer = r_.signature.signer;
  return Count(taken.der.size());
}

// Microsoft's sequence numbers and thisUpdates only grow: a list lower in
// either than the one held is an old one served again, which would undo
// what the newer one withdrew.
bool SyncRun::NotOlder(TrustListKind kind, const TrustList& offered,
                       const std::optional<TrustList>& held) {
  if (!held) return true;
  if (CompareSequenceNumbers(offered.sequence_number, held->sequence_number) <
          0 ||
      offered.this_update < held->this_update) {
    r_.held = held->sequence_number;
    r_.offered = offered.sequence_number;
    return Fail(SyncFault::kRollback, ListFileOf(kind));
  }
  return true;
}

bool SyncRun::TakeRootList(Bytes der) {
  std::optional<TrustList> list = ReadList(TrustListKind::kRoots, der);
  if (!list || !TakePinnedRoot(*list)) return false;
  Taken taken{std::move(der), std::move(*list)};
  if (!Authenticate(TrustListKind::kRoots, taken, &r_.roots) ||
      !NotOlder(TrustListKind::kRoots, taken.list, held_.roots)) {
    return false;
  }
  roots_ = std::move(taken);
  return true;
}

// The root the list names for the pin, whose certificate must be had
// before the list can be believed: the folder's copy, else fetched.
bool SyncRun::TakePinnedRoot(const TrustList& list) {
  const RootProperties* properties = nullptr;
  Sha1 sha1{};
  for (const auto& [listed, listed_properties] : list.subjects) {
    if ((listed_properties.sha256 &&
         *listed_properties.sha256 == o_.pin.sha256) ||
        (o_.pin.sha1 && listed == *o_.pin.sha1)) {
      sha1 = listed;
      properties = &listed_properties;
      break;
    }
  }
  if (properties == nullptr) {
    return Fail(SyncFault::kNoPinnedRoot, kRootListFile);
  }
  if (!root_body_.empty() && root_sha1_ == sha1) return true;
  const std::string name = BodyName(sha1);
  std::optional<Bytes> body = HeldBody(sha1, *properties);
  const bool fetched = !body;
  if (!body) body = Get(name, o_.limits.body_bytes, Need::kRequired);
  if (!body || !CheckBody(sha1, *properties, *body)) return false;
  if (Sha256OfBytes(body->data(), body->size()) != o_.pin.sha256) {
    return Fail(SyncFault::kPinnedRoot, name);
  }
  root_sha1_ = sha1;
  root_body_ = std::move(*body);
  root_fetched_ = fetched;
  return true;
}

bool SyncRun::TakeDisallowed() {
  std::optional<Bytes> der = GetList(TrustListKind::kDisallowed);
  std::optional<TrustList> list =
      der ? ReadList(TrustListKind::kDisallowed, *der) : std::nullopt;
  if (!list) return false;
  Taken taken{std::move(*der), std::move(*list)};
  r_.disallowed.emplace();
  if (!Authenticate(TrustListKind::kDisallowed, taken, &*r_.disallowed) ||
      !NotOlder(TrustListKind::kDisallowed, taken.list, held_.disallowed)) {
    return false;
  }
  disallowed_ = std::move(taken);
  // Not signed: it can only add distrust, and a source that could leave
  // certificates out of it could as well withhold the file.
  std::optional<Bytes> store =
      Get(kDisallowedStoreFile, o_.limits.list_bytes, Need::kRequired);
  if (!store) return false;
  const SerializedStore read =
      ReadSerializedStore(store->data(), store->size());
  if (!read.ok()) {
    r_.load_error.file = kDisallowedStoreFile;
    r_.load_error.fault = LoadFault::kStore;
    r_.load_error.cause = read.error;
    return Fail(SyncFault::kRead, kDisallowedStoreFile);
  }
  store_ = std::move(*store);
  return Count(store_.size());
}

std::optional<Bytes> SyncRun::HeldBody(const Sha1& sha1,
                                       const RootProperties& properties) {
  WholeFile file =
      ReadWholeFile(PathIn(o_.folder, BodyName(sha1)), o_.limits.body_bytes);
  if (!file.ok() || BodyFault(sha1, properties, file.bytes) != nullptr) {
    return std::nullopt;
  }
  return std::move(file.bytes);
}

bool SyncRun::CheckBody(const Sha1& sha1, const RootProperties& properties,
                        const Bytes& body) {
  const char* fault = BodyFault(sha1, properties, body);
  return fault == nullptr || Fail(SyncFault::kBody, BodyName(sha1), fault);
}

bool SyncRun::Count(size_t bytes) {
  if (bytes > o_.limits.folder_bytes - total_) {
    return Fail(SyncFault::kOverCap, o_.folder, "folder");
  }
  total_ += bytes;
  return true;
}

// The certificates of the listed roots the folder holds rightly; the
// others are fetched once the new folder is begun.
bool SyncRun::GatherBodies() {
  for (const auto& [sha1, properties] : roots_->list.subjects) {
    std::optional<Bytes> body = sha1 == root_sha1_
                                    ? std::optional<Bytes>(root_body_)
                                    : HeldBody(sha1, properties);
    if (!body) {
      missing_.push_back(sha1);
      continue;
    }
    if (!Count(body->size())) return false;
    have_.emplace(sha1, std::move(*body));
  }
  r_.bodies = roots_->list.subjects.size();
  r_.fetched = root_fetched_ ? 1 : 0;
  return true;
}

bool SyncRun::IsCurrent() const {
  if (!held_.origin || held_.origin->without_disallowed != !disallowed_ ||
      root_fetched_ || !missing_.empty() || held_.roots_der != roots_->der) {
    return false;
  }
  return !disallowed_ ||
         (held_.disallowed_der == disallowed_->der && held_.store == store_);
}

bool SyncRun::Put(const std::string& name, const Bytes& bytes) {
  FolderProblem problem;
  return staged_->Write(name, bytes, &problem) || FailFolder(problem);
}

bool SyncRun::FetchBody(const Sha1& sha1) {
  const std::string name = BodyName(sha1);
  const std::optional<Bytes> body =
      Get(name, o_.limits.body_bytes, Need::kRequired);
  if (!body || !CheckBody(sha1, roots_->list.subjects.at(sha1), *body) ||
      !Count(body->size()) || !Put(name, *body)) {
    return false;
  }
  ++r_.fetched;
  return true;
}

bool SyncRun::WriteFolder() {
  FolderProblem problem;
  if (!staged_->Begin(&problem)) return FailFolder(problem);
  if (!Put(kRootListFile, roots_->der) ||
      (disallowed_ && (!Put(kDisallowedListFile, disallowed_->der) ||
                       !Put(kDisallowedStoreFile, store_)))) {
    return false;
  }
  for (const auto& [sha1, body] : have_) {
    if (!Put(BodyName(sha1), body)) return false;
  }
  for (const Sha1& sha1 : missing_) {
    if (!FetchBody(sha1)) return false;
  }
  FolderOrigin origin;
  origin.source = fetcher_.source();
  origin.fetched = o_.now;
  origin.without_disallowed = !disallowed_;
  const std::string text = FormatOrigin(origin);
  if (!Put(kOriginFile, Bytes(text.begin(), text.end()))) return false;
  // What is swapped in must load as the verifier will load it.
  TrustLoadError error;
  if (!WindowsRoots::Load(staged_->staging(), &error)) {
    const std::string& staging = staged_->staging();
    if (error.file.compare(0, staging.size(), staging) == 0) {
      error.file = o_.folder + error.file.substr(staging.size());
    }
    r_.load_error = std::move(error);
    return Fail(SyncFault::kLoad, r_.load_error.file);
  }
  return staged_->Commit(&problem) || FailFolder(problem);
}

SyncResult SyncRun::Run() {
  FolderProblem problem;
  staged_ = StagedFolder::Open(o_.folder, &problem);
  if (!staged_) {
    FailFolder(problem);
    return std::move(r_);
  }
  ReadHeld();
  // The hint only ever saves fetching the list: the folder's own list is
  // checked as a fetched one would be, and fetched after all if it fails.
  bool taken = false;
  if (held_.roots) {
    const std::optional<Bytes> hint =
        Get(kSequenceHintFile, o_.limits.hint_bytes, Need::kHint);
    const std::optional<std::string> sequence =
        hint ? ReadHint(*hint) : std::nullopt;
    if (sequence &&
        CompareSequenceNumbers(*sequence, held_.roots->sequence_number) == 0) {
      taken = TakeRootList(*held_.roots_der);
      if (!taken) r_ = SyncResult();
      total_ = 0;
    }
  }
  if (!taken) {
    std::optional<Bytes> der = GetList(TrustListKind::kRoots);
    if (!der || !TakeRootList(std::move(*der))) return std::move(r_);
  }
  if ((!o_.without_disallowed && !TakeDisallowed()) || !GatherBodies()) {
    return std::move(r_);
  }
  if (IsCurrent()) {
    r_.current = true;
    return std::move(r_);
  }
  WriteFolder();
  return std::move(r_);
}

}  // namespace

ListPin MicrosoftListPin() {
  ListPin pin;
  pin.sha256 = *ParseSha256(kMicrosoftListRootSha256);
  pin.sha1 = ParseSha1(kMicrosoftListRootSha1);
  return pin;
}

SyncResult SyncFolder(const SyncOptions& options, Fetcher& fetcher) {
  return SyncRun(options, fetcher).Run();
}

int CompareSequenceNumbers(const std::string& a, const std::string& b) {
  const std::string x = Canonical(a).value_or(a);
  const std::string y = Canonical(b).value_or(b);
  if (x.size() != y.size()) return x.size() < y.size() ? -1 : 1;
  return x.compare(y);
}

bool IsSyncFileName(const std::string& name) {
  std::string lower = name;
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  for (const char* known :
       {kRootListFile, kRootListCabinet, kDisallowedListFile,
        kDisallowedListCabinet, kDisallowedStoreFile}) {
    if (lower == known) return true;
  }
  const std::string digits = lower.substr(0, 2 * Sha1().size());
  return lower.size() == digits.size() + 4 &&
         lower.compare(digits.size(), 4, ".crt") == 0 &&
         Canonical(digits).has_value();
}

std::optional<std::vector<uint8_t>> ReadHeldList(const std::string& folder,
                                                 TrustListKind kind,
                                                 size_t max_bytes) {
  WholeFile bare = ReadWholeFile(PathIn(folder, ListFileOf(kind)), max_bytes);
  if (bare.ok()) return std::move(bare.bytes);
  const WholeFile cabinet =
      ReadWholeFile(PathIn(folder, CabinetOf(kind)), max_bytes);
  if (!cabinet.ok()) return std::nullopt;
  CabinetMember member = ReadCabinetMember(
      cabinet.bytes.data(), cabinet.bytes.size(), ListFileOf(kind), max_bytes);
  if (!member.ok()) return std::nullopt;
  return std::move(member.bytes);
}

}  // namespace sealprobe
