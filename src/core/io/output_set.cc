// Temporary files renamed into place together, old copies kept until the set stands, stale temporaries removed.
#include "io/output_set.h"

#include <array>
#include <atomic>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <random>
#include <system_error>

#include "common/fatal.h"

#ifndef _WIN32
#include <pthread.h>
#include <unistd.h>
#endif

namespace trov {

namespace {

namespace fs = std::filesystem;

// The names of the temporary files that exist, for the handler of an
// interrupting signal to remove. A signal handler reaches nothing but globals
// and may not allocate or lock, hence a fixed table of atomic pointers; each
// name is owned by its OutputSet entry, which clears the slot before the name
// goes. 2 x 99 histograms and a summary fit. Windows needs none of this: its
// temporary files are deleted by the system unless kept (create_new_file).
constexpr std::size_t kSlots = 256;
std::array<std::atomic<const char*>, kSlots> g_removable_on_signal{};  // NOLINT(cppcoreguidelines-avoid-non-const-global-variables)

std::size_t claim_slot(const char* name) {
  for (std::size_t i = 0; i < kSlots; ++i) {
    const char* empty = nullptr;
    if (g_removable_on_signal[i].compare_exchange_strong(empty, name)) return i;
  }
  return kSlots;  // a full table: the file is still removed on failure, not on a signal
}

void release_slot(std::size_t& slot) {
  if (slot < kSlots) g_removable_on_signal[slot].store(nullptr);
  slot = kSlots;
}

#ifndef _WIN32
constexpr std::array<int, 4> kInterruptingSignals = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

extern "C" void remove_temporaries_and_end(int signal_number) {
  for (std::atomic<const char*>& slot : g_removable_on_signal) {
    if (const char* name = slot.load(); name != nullptr) ::unlink(name);
  }
  // Ended by the same signal, as the caller expects (a shell's status 130 for ^C).
  std::signal(signal_number, SIG_DFL);
  std::raise(signal_number);
}

void install_signal_handlers() {
  static const bool installed = [] {
    for (int signal_number : kInterruptingSignals) {
      struct sigaction old {};
      sigaction(signal_number, nullptr, &old);
      if (old.sa_handler == SIG_IGN) continue;  // nohup and background jobs keep ignoring them
      struct sigaction action {};
      action.sa_handler = remove_temporaries_and_end;
      sigemptyset(&action.sa_mask);
      sigaction(signal_number, &action, nullptr);
    }
    std::signal(SIGXFSZ, SIG_IGN);  // past a file size limit, write fails with EFBIG
    return true;
  }();
  (void)installed;
}
#endif

// The interrupting signals wait while it lives, and arrive when it ends: the
// renames of a set are never cut in two. By then the exporting threads have
// ended, so the calling thread is the one a signal can reach.
class SignalsHeld {
 public:
  SignalsHeld() {
#ifndef _WIN32
    sigset_t held;
    sigemptyset(&held);
    for (int signal_number : kInterruptingSignals) sigaddset(&held, signal_number);
    pthread_sigmask(SIG_BLOCK, &held, &before_);
#endif
  }
  ~SignalsHeld() {
#ifndef _WIN32
    pthread_sigmask(SIG_SETMASK, &before_, nullptr);
#endif
  }
  SignalsHeld(const SignalsHeld&) = delete;
  SignalsHeld& operator=(const SignalsHeld&) = delete;
  SignalsHeld(SignalsHeld&&) = delete;
  SignalsHeld& operator=(SignalsHeld&&) = delete;

 private:
#ifndef _WIN32
  sigset_t before_{};
#endif
};

// 64 bits no other file of the folder can foresee: the system's random
// source where it has one, mixed with the clock and the process.
std::uint64_t random_bits() {
  std::uint64_t bits = static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
                       (std::uint64_t{process_id()} << 32);
  try {
    std::random_device device;
    bits ^= (std::uint64_t{device()} << 32) ^ device();
  } catch (const std::exception&) {
    // no random source: the clock and the process still differ between runs
  }
  // splitmix64's finaliser spreads every input bit over the result.
  bits = (bits ^ (bits >> 30)) * 0xBF58476D1CE4E5B9ULL;
  bits = (bits ^ (bits >> 27)) * 0x94D049BB133111EBULL;
  return bits ^ (bits >> 31);
}

constexpr std::string_view kTemporaryPrefix = ".trov-";
constexpr std::string_view kTemporarySuffix = ".tmp";
constexpr std::size_t kTemporaryDigits = 16;

bool is_temporary_name(std::string_view name) {
  if (name.size() != kTemporaryPrefix.size() + kTemporaryDigits + kTemporarySuffix.size() ||
      !name.starts_with(kTemporaryPrefix) || !name.ends_with(kTemporarySuffix)) {
    return false;
  }
  const std::string_view digits = name.substr(kTemporaryPrefix.size(), kTemporaryDigits);
  return digits.find_first_not_of("0123456789abcdef") == std::string_view::npos;
}

fs::path folder_of(const fs::path& path) {
  const fs::path folder = path.parent_path();
  return folder.empty() ? fs::path(".") : folder;
}

// A new temporary name in path's folder.
std::string temporary_name(const std::string& path, CodePage code_page) {
  static constexpr std::string_view kHex = "0123456789abcdef";
  std::string name(kTemporaryPrefix);
  std::uint64_t bits = random_bits();
  for (std::size_t i = 0; i < kTemporaryDigits; ++i, bits >>= 4) name += kHex[bits & 15];
  name += kTemporarySuffix;
  const fs::path folder = native_path(path, code_page).parent_path();
  return folder.empty() ? name : path_text(folder / name, code_page);
}

// What killed runs left in folder: temporary files no live run claims.
void remove_stale_temporaries(const fs::path& folder, CodePage code_page) {
  std::error_code error;
  try {
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
      if (is_temporary_name(path_text(it->path().filename(), code_page))) {
        remove_if_unclaimed(path_text(it->path(), code_page).c_str(), code_page);
      }
    }
  } catch (const std::exception&) {
    // a name this system cannot spell is no temporary file of ours
  }
}

bool is_read_only(const fs::path& path) {
  std::error_code error;
  const fs::file_status status = fs::status(path, error);
  return !error && fs::exists(status) && (status.permissions() & fs::perms::owner_write) == fs::perms::none;
}

bool name_exists(const fs::path& path) {
  std::error_code error;
  return fs::exists(fs::symlink_status(path, error));
}

}  // namespace

OutputSet::OutputSet(CodePage code_page) : code_page_(code_page) {
#ifndef _WIN32
  install_signal_handlers();
#endif
}

OutputSet::~OutputSet() {
  if (committed_) return;
  for (Entry& entry : entries_) {
    if (entry.file) entry.file->discard();
    release_slot(entry.slot);  // before the name goes
    if (!entry.temporary.empty()) remove_file(entry.temporary.c_str(), code_page_);
  }
}

OutputFile& OutputSet::create(const std::string& path) {
  // A final name that cannot be replaced is refused before anything is
  // written: a folder, or a file its owner made read-only (which rename
  // would replace on POSIX, and which Windows refuses to replace).
  std::error_code error;
  const fs::path native = native_path(path, code_page_);
  if (fs::is_directory(native, error) || is_read_only(native)) throw Fatal("Error opening " + path);
  if (const fs::path folder = folder_of(native); folders_cleaned_.insert(path_text(folder, code_page_)).second) {
    remove_stale_temporaries(folder, code_page_);
  }
  // The name is in the signal handler's list before the file exists, so that
  // no moment leaves a file it would not remove.
  Entry& entry = entries_.emplace_back();
  entry.path = path;
  FilePtr file;
  for (int tries = 0; !file && tries < 16; ++tries) {
    release_slot(entry.slot);  // before the name changes
    entry.temporary = temporary_name(path, code_page_);
    entry.slot = claim_slot(entry.temporary.c_str());
    file = create_new_file(entry.temporary.c_str(), code_page_);
    if (!file && !name_exists(native_path(entry.temporary, code_page_))) break;  // the folder takes no file
    // Another run's clean-up may remove a file between its creation and its
    // claim: then it is not ours to write, and a new name is tried.
    if (file && !entry.claim.claim(entry.temporary.c_str())) file.reset();
  }
  if (!file) {
    release_slot(entry.slot);
    entries_.pop_back();
    throw Fatal("Error opening " + path);
  }
  entry.stream = file.get();
  entry.file.emplace(std::move(file), path);
  return *entry.file;
}

void OutputSet::commit() {
  for (Entry& entry : entries_) {
    if (!keep_new_file(entry.stream)) throw Fatal("Error writing " + entry.path);
    entry.file->close();
  }
  const SignalsHeld held;
  try {
    // Every old copy gets its second name before any is replaced: an old copy
    // that cannot be linked or moved would not be replaced either, and is
    // found before anything has changed.
    for (Entry& entry : entries_) {
      if (!name_exists(native_path(entry.path, code_page_))) continue;
      const std::string backup = temporary_name(entry.path, code_page_);
      if (link_file(entry.path.c_str(), backup.c_str(), code_page_)) {
        entry.backup = backup;
        entry.backup_claim.claim(backup.c_str());
      } else if (!name_exists(native_path(backup, code_page_)) &&
                 replace_file(entry.path.c_str(), backup.c_str(), code_page_)) {
        entry.backup = backup;
        entry.moved_aside = true;
      } else {
        throw Fatal("Error replacing " + entry.path);
      }
    }
    for (Entry& entry : entries_) {
      if (!replace_file(entry.temporary.c_str(), entry.path.c_str(), code_page_)) {
        throw Fatal("Error replacing " + entry.path);
      }
      entry.replaced = true;
    }
  } catch (...) {
    put_back_old_copies();
    throw;
  }
  for (Entry& entry : entries_) {
    release_slot(entry.slot);
    entry.temporary.clear();  // nothing left to remove
    if (!entry.backup.empty()) remove_file(entry.backup.c_str(), code_page_);
    entry.backup_claim = FileClaim();
    entry.claim = FileClaim();
  }
  committed_ = true;
}

void OutputSet::put_back_old_copies() noexcept {
  for (Entry& entry : entries_) {
    if (entry.backup.empty()) {
      if (entry.replaced) remove_file(entry.path.c_str(), code_page_);  // there was no old copy
    } else if (entry.replaced || entry.moved_aside) {
      // The old copy takes its name back. Should even that fail, it stays
      // under the backup name, and the summary's sizes tell the mixed set.
      if (replace_file(entry.backup.c_str(), entry.path.c_str(), code_page_)) entry.backup.clear();
    } else {
      remove_file(entry.backup.c_str(), code_page_);  // a second name only: the old copy stands
      entry.backup.clear();
    }
    entry.replaced = entry.moved_aside = false;
    entry.backup_claim = FileClaim();
  }
}

}  // namespace trov
