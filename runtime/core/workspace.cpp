#include "core/workspace.h"

#include <atomic>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/rt_string.h"
#include "core/thread_cleanup.h"
#include "core/thread_key.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace rt {

namespace workspace_detail {
#if RT_NATIVE_THREAD_LOCAL
// Native TLS stays readable while a thread's key destructors run.
thread_local StringWorkspace* t_own = nullptr;
#endif
}  // namespace workspace_detail

namespace {

using workspace_detail::StringWorkspace;

constexpr int64_t kInitialCapacity = 16;
constexpr int64_t kGrowthSlack = 16384;
constexpr int64_t kShrinkLimit = 1048576;
constexpr int64_t kBlockExtra = 10;

std::atomic<int64_t> g_live{0};

[[noreturn]] void Fatal(const char* what, int64_t a, int64_t b) {
  std::fprintf(stderr, "runtime: string workspace: %s (%" PRId64 ", %" PRId64 ")\n", what, a, b);
  std::fflush(stderr);
  std::abort();
}

// The per-thread pointer has no destructor: threads the runtime starts free
// their workspace themselves, other threads through the clean-up registry.
#if RT_NATIVE_THREAD_LOCAL
inline StringWorkspace* Own() { return workspace_detail::t_own; }
inline void Bind(StringWorkspace* ws) { workspace_detail::t_own = ws; }
#else
const ThreadKey& Key() {
  static const ThreadKey key = [] {
    ThreadKey k;
    if (!ThreadKeyCreate(&k, nullptr)) Fatal("no thread key available", 0, 0);
    return k;
  }();
  return key;
}

inline StringWorkspace* Own() { return static_cast<StringWorkspace*>(ThreadKeyGet(Key())); }
inline void Bind(StringWorkspace* ws) {
  if (!ThreadKeySet(Key(), ws)) Fatal("cannot bind a workspace to its thread", 0, 0);
}
#endif

void GiveBuffer(StringWorkspace* ws) {
  ws->buffer = static_cast<char*>(std::calloc(1, kInitialCapacity));
  if (!ws->buffer) Fatal("out of memory creating a workspace", kInitialCapacity, 0);
  ws->capacity = kInitialCapacity;
  ws->position = 0;
  g_live.fetch_add(1, std::memory_order_relaxed);
}

void ReleaseBuffer(StringWorkspace* ws) {
  std::free(ws->buffer);
  ws->buffer = nullptr;
  g_live.fetch_sub(1, std::memory_order_relaxed);
}

StringWorkspace* NewWorkspace() {
  auto* ws = static_cast<StringWorkspace*>(std::malloc(sizeof(StringWorkspace)));
  if (!ws) Fatal("out of memory creating a workspace", kInitialCapacity, 0);
  ws->registered = false;
  GiveBuffer(ws);
  Bind(ws);
  return ws;
}

// Runs when the thread ends, with the record it was registered for: by then
// the system may already have cleared a key, so the record is not looked up.
void DestroyAtThreadEnd(void* record) {
  auto* ws = static_cast<StringWorkspace*>(record);
  if (Own() == ws) Bind(nullptr);
  if (ws->buffer) ReleaseBuffer(ws);
  std::free(ws);
}

// Off the hot path: a thread's first use only.
StringWorkspace* CreateRegistered() {
  StringWorkspace* ws = NewWorkspace();
  // Without an entry the workspace would outlive its thread; the thread
  // still needs it, so it keeps it either way.
  ws->registered = ThreadCleanupAdd(DestroyAtThreadEnd, ws) != nullptr;
  return ws;
}

void Reallocate(StringWorkspace* ws, int64_t capacity, bool mayFail) {
  void* block = std::realloc(ws->buffer, static_cast<size_t>(capacity + kBlockExtra));
  if (!block) {
    // A shrink that fails keeps the larger block, which is still valid.
    if (mayFail) return;
    Fatal("out of memory growing the workspace (bytes wanted, position)", capacity + kBlockExtra, ws->position);
  }
  ws->buffer = static_cast<char*>(block);
  ws->capacity = capacity;
}

// Reservation: room for `units` code units at `start` plus a terminator.
// `needed` is computed in 64 bits from the larger of the position and the
// start, so neither a huge expression nor an offset past the position can
// yield a buffer smaller than what is then written. A shrink keeps at least
// `keep` bytes.
[[gnu::noinline]] RtChar* ReserveSlow(StringWorkspace* ws, int64_t units, int64_t offset, int64_t keep) {
  const int64_t start = offset == -1 ? ws->position : offset;
  if (start < 0) Fatal("offset outside the workspace", start, ws->capacity);
  if (units < 0) Fatal("negative reservation", units, start);
  const int64_t base = start > ws->position ? start : ws->position;
  constexpr int64_t kLimit = INT64_MAX / 2 - kGrowthSlack - kBlockExtra;
  if (base > kLimit || units > (kLimit - base) / 2) Fatal("impossible reservation of code units", units, base);
  const int64_t needed = base + 2 * units;
  if (needed >= ws->capacity - 4) {
    Reallocate(ws, needed + kGrowthSlack, false);
  } else if (ws->capacity > kShrinkLimit) {
    int64_t target = needed > kShrinkLimit ? needed : kShrinkLimit;
    if (keep > target) target = keep;
    if (target < ws->capacity) Reallocate(ws, target, true);
  }
  ws->position = start + 2 * units;
  return reinterpret_cast<RtChar*>(ws->buffer + start);
}

// The common case inline: a start within the expression and room to spare in
// a buffer that is not due to shrink; the rule above changes nothing then.
inline RtChar* Reserve(StringWorkspace* ws, int64_t units, int64_t offset, int64_t keep = 0) {
  const int64_t start = offset == -1 ? ws->position : offset;
  if (start >= 0 && start <= ws->position && units >= 0 && units < (int64_t{1} << 30) &&
      ws->position + 2 * units < ws->capacity - 4 && ws->capacity <= kShrinkLimit) {
    ws->position = start + 2 * units;
    return reinterpret_cast<RtChar*>(ws->buffer + start);
  }
  return ReserveSlow(ws, units, offset, keep);
}

bool Inside(const StringWorkspace* ws, const void* p) {
  const auto a = reinterpret_cast<uintptr_t>(p);
  const auto b = reinterpret_cast<uintptr_t>(ws->buffer);
  return a >= b && a < b + static_cast<uintptr_t>(ws->capacity + kBlockExtra);
}

// Copies `text` (length units) to `offset`, terminated. A text that lies in
// the workspace itself is found again after the buffer may have moved.
void Place(StringWorkspace* ws, RtString text, int64_t units, int64_t offset) {
  if (Inside(ws, text)) {
    const int64_t from = reinterpret_cast<const char*>(text) - ws->buffer;
    RtChar* to = Reserve(ws, units, offset, from + 2 * units);
    std::memmove(to, ws->buffer + from, static_cast<size_t>(units) * 2);
    to[units] = 0;
    return;
  }
  RtChar* to = Reserve(ws, units, offset);
  if (units) std::memcpy(to, text, static_cast<size_t>(units) * 2);
  to[units] = 0;
}

}  // namespace

namespace workspace_detail {

StringWorkspace* CreateForUse() { return CreateRegistered(); }

#if !RT_NATIVE_THREAD_LOCAL
StringWorkspace* Current() {
  StringWorkspace* ws = Own();
  return ws ? ws : CreateRegistered();
}
#endif

void PositionOutside(int64_t position, int64_t capacity) {
  Fatal("position outside the workspace", position, capacity);
}

}  // namespace workspace_detail

using workspace_detail::Current;

RtChar* WorkspaceReserve(int64_t units, int64_t offset) { return Reserve(Current(), units, offset); }

void WorkspaceAppend(RtString text) {
  StringWorkspace* ws = Current();
  if (!text) text = u"";
  // A text that fits without growth is copied in place at once; one from the
  // workspace itself, or one that needs growth, takes the general path.
  const int64_t units = StringLength(text);
  if (ws->capacity <= kShrinkLimit && ws->position + 2 * units < ws->capacity - 4 && !Inside(ws, text)) {
    char* const to = ws->buffer + ws->position;
    const size_t bytes = static_cast<size_t>(units + 1) * 2;
#if defined(__SSE2__)
    // Short texts (with their terminator) in two overlapping 16-byte moves.
    if (bytes >= 16 && bytes <= 32) {
      const __m128i head = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text));
      const __m128i tail = _mm_loadu_si128(reinterpret_cast<const __m128i*>(reinterpret_cast<const char*>(text) + bytes - 16));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(to), head);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(to + bytes - 16), tail);
    } else
#endif
    {
      std::memcpy(to, text, bytes);
    }
    ws->position += 2 * units;
    return;
  }
  Place(ws, text, units, -1);
}

void WorkspaceTrim(int64_t units) {
  StringWorkspace* ws = Current();
  if (units < 0 || units > ws->position / 2) Fatal("trim past the start of the workspace", units, ws->position);
  ws->position -= 2 * units;
}

void WorkspaceSetEmpty(int64_t offset) {
  StringWorkspace* ws = Current();
  Reserve(ws, 0, offset)[0] = 0;
}

// A thread that already has a workspace gets it back as new, keeping its
// clean-up entry.
void WorkspaceCreate() {
  if (StringWorkspace* ws = Own()) {
    ReleaseBuffer(ws);
    GiveBuffer(ws);
  } else {
    NewWorkspace();
  }
}

void WorkspaceDestroy() {
  StringWorkspace* ws = Own();
  if (!ws) return;
  Bind(nullptr);
  ReleaseBuffer(ws);
  if (!ws->registered) std::free(ws);
}

void WorkspaceEnsure() {
  if (!Own()) CreateRegistered();
}

void WorkspaceStartup() {
  if (!Own()) NewWorkspace();
}

void WorkspaceShutdown() { WorkspaceDestroy(); }

void ReturnString(RtString text, int64_t offset) {
  StringWorkspace* ws = Current();
  Place(ws, text ? text : u"", StringLength(text), offset);
}

void ReturnNumber(int64_t value, int64_t offset) {
  StringWorkspace* ws = Current();
  RtChar* out = Reserve(ws, 64, offset);
  // The magnitude is taken as unsigned, so the most negative value prints too.
  uint64_t magnitude = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
  int written = 0;
  if (value < 0) out[written++] = u'-';
  if (magnitude < 100) {  // port numbers, counters: the usual case
    if (magnitude >= 10) out[written++] = static_cast<RtChar>(u'0' + magnitude / 10);
    out[written++] = static_cast<RtChar>(u'0' + magnitude % 10);
  } else {
    RtChar digits[20];
    int count = 0;
    do {
      digits[count++] = static_cast<RtChar>(u'0' + magnitude % 10);
      magnitude /= 10;
    } while (magnitude);
    while (count) out[written++] = digits[--count];
  }
  out[written] = 0;
  ws->position -= 2 * (64 - written);
}

int64_t WorkspaceCapacity() {
  StringWorkspace* ws = Own();
  return ws ? ws->capacity : 0;
}

bool WorkspaceExists() { return Own() != nullptr; }

int64_t WorkspaceLiveCount() { return g_live.load(std::memory_order_relaxed); }

}  // namespace rt
