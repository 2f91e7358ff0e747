// The per-thread current gadget list (GuiThreadState).
#pragma once

#include <memory>
#include <vector>

#include <QFont>
#include <QPointer>
#include <QWidget>

namespace rt {

struct GuiThreadState {
  QPointer<QWidget> container;              // where new gadgets go, or none
  std::vector<QPointer<QWidget>> stack;     // nested containers, innermost last
  QPointer<QWidget> owner;                  // the current list; none once destroyed
  QFont applicationFont;                    // taken when the state is set up
  std::unique_ptr<QFont> gadgetFont;        // applied to new gadgets; nothing sets it here
};

// Reserves the thread slot (once).
void GadgetListStart();
// The calling thread's state.
GuiThreadState* CurrentGuiThreadState();
// GadgetListSelect on the given thread's state; user-interface thread only.
QWidget* GadgetListSelectFor(GuiThreadState* state, QWidget* window);

}  // namespace rt
