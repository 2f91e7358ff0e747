// KTGadgetFunctions: the runtime's view of one gadget, a child of its widget.
//
// The generic gadget operations are its virtual operations; each kind
// overrides what it supports and keeps the base behaviour for the rest. Its
// slots post gadget events; the kinds connect their widgets' signals to them.
#pragma once

#include <cstdint>

#include <QObject>
#include <QString>

#include "core/types.h"
#include "qt/gadget_style.h"

class QImage;
class QWidget;

namespace rt {

struct GadgetRecord;

// Who a gadget is, fixed by the common creation steps.
struct GadgetIdentity {
  ObjectNumber requested;  // as passed to the creation operation
  ObjectNumber id;         // the number, or the record's handle for DynamicNumber
  int64_t window;          // the runtime window holding the container at creation, or -1
  GadgetRecord* record;
};

class KTGadgetFunctions : public QObject {
  Q_OBJECT

 public:
  KTGadgetFunctions(QWidget* widget, const GadgetIdentity& identity, int32_t flags);
  // Releases the gadget's number, unless the number already names another gadget.
  ~KTGadgetFunctions() override;

  ObjectNumber RequestedNumber() const { return requested_; }
  QWidget* Widget() const { return widget_; }
  ObjectNumber GadgetId() const { return gadgetId_; }
  int64_t WindowNumber() const { return window_; }
  int32_t Flags() const { return flags_; }
  GadgetRecord* Record() const { return record_; }
  GadgetStyle& Style() { return style_; }

  // The gadget operations, in their fixed order. The reserved ones complete
  // the order; nothing here overrides or calls them.
  virtual void RequiredSize(int32_t* width, int32_t* height);
  virtual int32_t AddItem(int32_t position, const QString& text, QImage* image, int32_t flags);
  virtual void RemoveItem(int32_t index);
  virtual void ClearItems();
  virtual int32_t CountItems();
  virtual int32_t ReservedGetter6(int32_t value);
  virtual void ReservedSetter7();
  virtual QString GetItemText(int32_t index);
  virtual void SetItemText(int32_t index, const QString& text);
  virtual void ReservedSetter10();
  virtual int32_t ReservedGetter11();
  virtual void SetItemData(int32_t index, int64_t value);
  virtual int64_t GetItemData(int32_t index);
  virtual int32_t ReservedGetter14();
  virtual void ReservedSetter15();
  virtual void SetItemImage(int32_t index, QImage* image);
  virtual int64_t GetState();
  virtual void SetState(int64_t value);
  virtual QString GetText();
  virtual void SetText(const QString& text);
  virtual int32_t GetAttribute(int32_t attribute);
  virtual void SetAttribute(int32_t attribute, int32_t value);
  virtual void SetColor(int32_t type, int64_t colour);
  virtual int64_t GetColor(int32_t type);
  virtual void Reserved25();
  virtual int32_t ReservedGetter26();
  virtual void Reserved27();

 public slots:
  void Event();
  void EventLeftClick();
  void EventLeftDoubleClick();
  void EventRightClick();
  void EventRightDoubleClick();
  void EventChange();

 private:
  void Post(int64_t type) const;

  ObjectNumber requested_;
  QWidget* widget_;
  ObjectNumber gadgetId_;
  int64_t window_;
  int32_t flags_;
  GadgetRecord* record_;
  GadgetStyle style_;
};

}  // namespace rt
