#include "qt/requesters.h"

#include <memory>

#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QPointer>

#include "core/workspace.h"
#include "qt/gadget_text.h"
#include "qt/ktqmainwindow.h"
#include "qt/ui_thread.h"

namespace rt {

namespace {

// What the last file dialog left behind; user-interface thread only.
QStringList fileSelection;
int32_t chosenFilter = 0;

int32_t ResultOf(QMessageBox::StandardButton button) {
  switch (button) {
    case QMessageBox::Yes:
      return MessageResult::Yes;
    case QMessageBox::No:
      return MessageResult::No;
    case QMessageBox::Cancel:
      return MessageResult::Cancel;
    default:
      return MessageResult::Other;
  }
}

// A requester belongs to the program's active window. When the user has
// switched to another program none of ours is active, yet a box raised by a
// worker must still block the window it reports on: the program's main
// window owns it then.
QWidget* RequesterOwner() {
  QWidget* active = QApplication::activeWindow();
  if (qobject_cast<KTQMainWindow*>(active)) return active;
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    if (qobject_cast<KTQMainWindow*>(widget) && widget->isVisible()) return widget;
  }
  return active;
}

// The box and the answer it collects. Only a button the user actually
// pressed counts (Escape presses the box's escape button); closing the box
// otherwise leaves the answer at 0.
QMessageBox* BuildMessageBox(RtString title, RtString text, int32_t flags, std::shared_ptr<int32_t> answer) {
  auto* box = new QMessageBox(RequesterOwner());
  // Every window of the program waits for the answer, not only the owner:
  // nothing may start another run while a result is still being shown.
  box->setWindowModality(Qt::ApplicationModal);
  box->setWindowTitle(ToQString(title));
  box->setText(ToQString(text));
  if (flags & MessageFlags::Information) {
    box->setIcon(QMessageBox::Information);
  } else if (flags & MessageFlags::Warning) {
    box->setIcon(QMessageBox::Warning);
  } else if (flags & MessageFlags::Critical) {
    box->setIcon(QMessageBox::Critical);
  } else {
    box->setIcon(QMessageBox::NoIcon);
  }
  if (flags & MessageFlags::YesNo) {
    box->addButton(QMessageBox::Yes);
    box->addButton(QMessageBox::No);
  } else if (flags & MessageFlags::YesNoCancel) {
    box->addButton(QMessageBox::Yes);
    box->addButton(QMessageBox::No);
    box->addButton(QMessageBox::Cancel);
  }
  QObject::connect(box, &QMessageBox::buttonClicked, box,
                   [box, answer](QAbstractButton* button) { *answer = ResultOf(box->standardButton(button)); });
  return box;
}

struct MessageCall {
  RtString title;
  RtString text;
  int32_t flags;
};

// On the user-interface thread for another thread's call: shown without a
// nested event loop, completed when the user has answered.
void OpenMessageBox(void* context, uint64_t token) {
  const auto* call = static_cast<const MessageCall*>(context);
  auto answer = std::make_shared<int32_t>(MessageResult::Other);
  QMessageBox* box = BuildMessageBox(call->title, call->text, call->flags, answer);
  QObject::connect(box, &QDialog::finished, box, [box, answer, token](int) {
    UiThreadComplete(token, *answer);
    box->deleteLater();
  });
  // Deleted unanswered (its window went, or the shut-down): the caller goes on.
  QObject::connect(box, &QObject::destroyed, [token] { UiThreadComplete(token, MessageResult::Other); });
  UiThreadAdoptDialog(box);
  box->show();  // open() would make it modal for its owner only
}

QFileDialog* BuildFileDialog(RtString title, RtString defaultFile, const QStringList& filters, int32_t defaultIndex,
                             int32_t flags, int32_t save) {
  auto* dialog = new QFileDialog(RequesterOwner(), ToQString(title), ToQString(defaultFile), QString());
  dialog->setNameFilters(filters);
  if (defaultIndex >= 0 && defaultIndex < filters.size()) dialog->selectNameFilter(filters.at(defaultIndex));
  if (save) {
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setFileMode(QFileDialog::AnyFile);
  } else {
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    dialog->setFileMode(flags & FileDialogMultiple ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
  }
  return dialog;
}

QString TakeNextSelection() { return fileSelection.isEmpty() ? QString() : fileSelection.takeFirst(); }

// Keeps what the dialog's answer leaves behind; the first chosen path.
QString FinishFileDialog(QFileDialog* dialog, bool accepted, const QStringList& filters) {
  if (!dialog || !accepted) {
    fileSelection.clear();
    chosenFilter = 0;
    return QString();
  }
  fileSelection = dialog->selectedFiles();
  chosenFilter = static_cast<int32_t>(filters.indexOf(dialog->selectedNameFilter()));
  return TakeNextSelection();
}

struct FileCall {
  RtString title;
  RtString defaultFile;
  RtString patterns;
  int32_t defaultIndex;
  int32_t flags;
  int32_t save;
};

void OpenFileDialog(void* context, uint64_t token) {
  const auto* call = static_cast<const FileCall*>(context);
  const QStringList filters = FileDialogFilters(ToQString(call->patterns));
  QFileDialog* dialog = BuildFileDialog(call->title, call->defaultFile, filters, call->defaultIndex, call->flags, call->save);
  QObject::connect(dialog, &QDialog::finished, dialog, [dialog, filters, token](int result) {
    UiThreadComplete(token, 0, FinishFileDialog(dialog, result == QDialog::Accepted, filters).toStdU16String());
    dialog->deleteLater();
  });
  QObject::connect(dialog, &QObject::destroyed, [token] { UiThreadComplete(token, 0); });
  UiThreadAdoptDialog(dialog);
  dialog->open();
}

void WriteText(const QString& text, int64_t offset) {
  if (text.isEmpty()) {
    WorkspaceSetEmpty(offset);
  } else {
    ReturnString(FromQString(text), offset);
  }
}

}  // namespace

int32_t MessageDialog(RtString title, RtString text, int32_t flags) {
  if (!UiThreadIsCurrent()) {
    MessageCall call{title, text, flags};
    UiCallResult result;
    UiThreadCall(OpenMessageBox, &call, &result);
    return static_cast<int32_t>(result.number);
  }
  UiThreadFlush();
  auto answer = std::make_shared<int32_t>(MessageResult::Other);
  QPointer<QMessageBox> box = BuildMessageBox(title, text, flags, answer);
  box->exec();
  delete box.data();  // null when something deleted it while it ran
  return *answer;
}

QStringList FileDialogFilters(const QString& patterns) {
  const QStringList parts = patterns.split(QLatin1Char('|'), Qt::KeepEmptyParts, Qt::CaseSensitive);
  QStringList filters;
  for (int i = 0; i + 1 < parts.size(); i += 2) {
    QString name = parts.at(i);
    const int parenthesis = name.indexOf(QLatin1Char('('));
    if (parenthesis >= 0) name.truncate(parenthesis);
    QString pattern = parts.at(i + 1).trimmed();
    pattern.replace(QLatin1Char(';'), QLatin1Char(' '));
    filters.append(name.trimmed() + QLatin1String(" (") + pattern + QLatin1Char(')'));
  }
  return filters;
}

void FileDialog(RtString title, RtString defaultFile, RtString patterns, int32_t defaultIndex, int32_t flags,
                int64_t offset, int32_t save) {
  if (!UiThreadIsCurrent()) {
    FileCall call{title, defaultFile, patterns, defaultIndex, flags, save};
    UiCallResult result;
    UiThreadCall(OpenFileDialog, &call, &result);
    if (result.text.empty()) {
      WorkspaceSetEmpty(offset);
    } else {
      ReturnString(result.text.c_str(), offset);
    }
    return;
  }
  UiThreadFlush();
  const QStringList filters = FileDialogFilters(ToQString(patterns));
  QPointer<QFileDialog> dialog = BuildFileDialog(title, defaultFile, filters, defaultIndex, flags, save);
  const int result = dialog->exec();
  const QString first = FinishFileDialog(dialog.data(), result == QDialog::Accepted, filters);
  delete dialog.data();
  WriteText(first, offset);
}

void FileDialogNextSelection(int64_t offset) { UiThreadReturnText([] { return TakeNextSelection(); }, offset); }

int32_t FileDialogChosenFilter() {
  return static_cast<int32_t>(UiThreadRunNumber([] { return chosenFilter; }));
}

}  // namespace rt
