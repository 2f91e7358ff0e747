#include "qt/gadget_list.h"

#include <QApplication>
#include <QMainWindow>
#include <QVariant>
#include <QVariantList>

#include "core/thread_slots.h"
#include "qt/gadget.h"
#include "qt/ui_thread.h"

namespace rt {

namespace {

constexpr char StackProperty[] = "KT_GadgetStack";

int64_t stateSlot = -1;

// The slot holds a pointer to the thread's state.
void SetUpState(void* slot) { *static_cast<GuiThreadState**>(slot) = new GuiThreadState{{}, {}, {}, QApplication::font(), {}}; }

void TearDownState(void* slot) {
  GuiThreadState** state = static_cast<GuiThreadState**>(slot);
  delete *state;
  *state = nullptr;
}

}  // namespace

void GadgetListStart() {
  if (stateSlot < 0) stateSlot = ThreadSlotReserve(sizeof(GuiThreadState*), SetUpState, TearDownState);
}

GuiThreadState* CurrentGuiThreadState() {
  if (stateSlot < 0) return nullptr;
  return *static_cast<GuiThreadState**>(ThreadSlotGet(stateSlot));
}

QWidget* GadgetListSelectFor(GuiThreadState* state, QWidget* window) {
  if (!state) return nullptr;
  QWidget* previous = state->owner.data();
  if (!window) return previous;

  if (previous) {
    // Saved as [current container, stack from the top down].
    QVariantList saved;
    saved.append(QVariant::fromValue(state->container));
    for (auto entry = state->stack.rbegin(); entry != state->stack.rend(); ++entry) saved.append(QVariant::fromValue(*entry));
    previous->setProperty(StackProperty, saved);
  }

  const QVariant restored = window->property(StackProperty);
  window->setProperty(StackProperty, QVariant());
  state->stack.clear();
  const QVariantList entries = restored.toList();
  if (entries.isEmpty()) {
    QMainWindow* main = qobject_cast<QMainWindow*>(window);
    state->container = main ? main->centralWidget() : window;
  } else {
    // Entries that are no longer widgets read as none.
    for (int i = entries.size() - 1; i >= 1; --i) state->stack.push_back(entries[i].value<QPointer<QWidget>>());
    state->container = entries[0].value<QPointer<QWidget>>();
  }
  state->owner = window;
  return previous;
}

QWidget* GadgetListSelect(QWidget* window) {
  GuiThreadState* state = CurrentGuiThreadState();  // the caller's list, wherever it runs
  return reinterpret_cast<QWidget*>(
      UiThreadRunNumber([state, window] { return reinterpret_cast<intptr_t>(GadgetListSelectFor(state, window)); }));
}

}  // namespace rt
