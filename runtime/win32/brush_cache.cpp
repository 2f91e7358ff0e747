// Shared solid brushes for gadget colours: one brush per colour value,
// reference counted, so a hundred fields in one colour cost one GDI object.
// The only gadget structure with a lock: brushes are handed out to whoever
// paints.
#include <windows.h>

#include <mutex>
#include <vector>

#include "win32/gadget_internal.h"

namespace rt {

namespace {

struct CachedBrush {
  int64_t colour;
  HBRUSH brush;
  int64_t references;
};

std::mutex g_lock;
std::vector<CachedBrush> g_brushes;  // guarded by g_lock

}  // namespace

HBRUSH BrushCacheAcquire(int64_t colour) {
  std::lock_guard<std::mutex> guard(g_lock);
  for (CachedBrush& entry : g_brushes) {
    if (entry.colour == colour) {
      ++entry.references;
      return entry.brush;
    }
  }
  HBRUSH brush = CreateSolidBrush(static_cast<COLORREF>(colour));
  if (brush) g_brushes.push_back(CachedBrush{colour, brush, 1});
  return brush;
}

void BrushCacheRelease(int64_t colour) {
  std::lock_guard<std::mutex> guard(g_lock);
  for (auto entry = g_brushes.begin(); entry != g_brushes.end(); ++entry) {
    if (entry->colour != colour) continue;
    if (--entry->references == 0) {
      DeleteObject(entry->brush);
      g_brushes.erase(entry);
    }
    return;
  }
}

}  // namespace rt
