// The message box and the file dialog, answered by timers as a user would.
#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QTemporaryDir>
#include <QTimer>

#include "core/workspace.h"
#include "gadget_test_support.h"
#include "qt/requesters.h"

namespace gt {
namespace {

// Calls `answer` with the dialog of type D once it is up.
template <class D>
void WhenShown(std::function<void(D*)> answer) {
  auto* poll = new QTimer;
  poll->setInterval(5);
  QObject::connect(poll, &QTimer::timeout, [poll, answer] {
    auto* dialog = qobject_cast<D*>(QApplication::activeModalWidget());
    if (!dialog || !dialog->isVisible()) return;
    poll->stop();
    poll->deleteLater();
    answer(dialog);
  });
  poll->start();
}

void Press(QMessageBox* box, QMessageBox::StandardButton which) {
  QAbstractButton* button = box->button(which);
  ASSERT_NE(button, nullptr);
  button->click();
}

class RequesterTest : public GadgetTest {};

TEST_F(RequesterTest, ShowMessageHasNoIconOneButtonAndYieldsZero) {
  Watchdog watchdog(std::chrono::seconds(20), "ShowMessage");
  QString title, text;
  int buttons = -1;
  QMessageBox::Icon icon = QMessageBox::Critical;
  WhenShown<QMessageBox>([&](QMessageBox* box) {
    title = box->windowTitle();
    text = box->text();
    buttons = box->buttons().size();
    icon = box->icon();
    box->button(QMessageBox::Ok)->click();
  });
  EXPECT_EQ(rt::ShowMessage(u"ERROR:3", u"Device does not respond!"), 0);
  EXPECT_EQ(title, "ERROR:3");
  EXPECT_EQ(text, "Device does not respond!");
  EXPECT_EQ(buttons, 1);
  EXPECT_EQ(icon, QMessageBox::NoIcon);
}

TEST_F(RequesterTest, MessageBoxClosedByATimerYieldsZero) {
  Watchdog watchdog(std::chrono::seconds(20), "closed message box");
  WhenShown<QMessageBox>([](QMessageBox* box) { box->close(); });
  EXPECT_EQ(rt::MessageDialog(u"t", u"closed", 0), 0);
  WhenShown<QMessageBox>([](QMessageBox* box) { box->close(); });
  EXPECT_EQ(rt::MessageDialog(nullptr, nullptr, rt::MessageFlags::YesNo), 0);
}

TEST_F(RequesterTest, YesNoWithInformationIcon) {
  Watchdog watchdog(std::chrono::seconds(20), "Yes/No box");
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  bool hasCancel = true;
  WhenShown<QMessageBox>([&](QMessageBox* box) {
    icon = box->icon();
    hasCancel = box->button(QMessageBox::Cancel) != nullptr;
    Press(box, QMessageBox::Yes);
  });
  EXPECT_EQ(rt::MessageDialog(u"Question", u"Sure?", rt::MessageFlags::YesNo | rt::MessageFlags::Information), 6);
  EXPECT_EQ(icon, QMessageBox::Information);
  EXPECT_FALSE(hasCancel);
  WhenShown<QMessageBox>([](QMessageBox* box) { Press(box, QMessageBox::No); });
  EXPECT_EQ(rt::MessageDialog(u"Question", u"Sure?", rt::MessageFlags::YesNo | rt::MessageFlags::Information), 7);
}

TEST_F(RequesterTest, YesNoCancelAndIconPrecedence) {
  Watchdog watchdog(std::chrono::seconds(20), "Yes/No/Cancel box");
  int buttons = 0;
  WhenShown<QMessageBox>([&](QMessageBox* box) {
    buttons = box->buttons().size();
    Press(box, QMessageBox::Cancel);
  });
  EXPECT_EQ(rt::MessageDialog(u"t", u"x", rt::MessageFlags::YesNoCancel), 2);
  EXPECT_EQ(buttons, 3);

  const std::pair<int32_t, QMessageBox::Icon> icons[] = {
      {rt::MessageFlags::Warning, QMessageBox::Warning},
      {rt::MessageFlags::Critical, QMessageBox::Critical},
      {rt::MessageFlags::Critical | rt::MessageFlags::Warning, QMessageBox::Warning},
      {rt::MessageFlags::Information | rt::MessageFlags::Warning | rt::MessageFlags::Critical, QMessageBox::Information},
      {rt::MessageFlags::YesNo | rt::MessageFlags::YesNoCancel, QMessageBox::NoIcon},
  };
  for (const auto& [flags, expected] : icons) {
    SCOPED_TRACE(flags);
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    int count = 0;
    WhenShown<QMessageBox>([&](QMessageBox* box) {
      icon = box->icon();
      count = box->buttons().size();
      box->buttons().first()->click();
    });
    rt::MessageDialog(u"t", u"x", flags);
    EXPECT_EQ(icon, expected);
    EXPECT_EQ(count, flags & rt::MessageFlags::YesNo ? 2 : 1);
  }
}

TEST(FileDialogFilters, FromPatternStrings) {
  EXPECT_EQ(rt::FileDialogFilters("Firmware (*.fw)|*.fw;"), QStringList{"Firmware (*.fw )"});
  EXPECT_EQ(rt::FileDialogFilters("Firmware (*.fw)|*.fw|Other"), QStringList{"Firmware (*.fw)"});
  EXPECT_EQ(rt::FileDialogFilters("Images (*.png;*.bmp)|*.png;*.bmp|All files|*"),
            (QStringList{"Images (*.png *.bmp)", "All files (*)"}));
  EXPECT_EQ(rt::FileDialogFilters("  Text  |  *.txt  "), QStringList{"Text (*.txt)"});
  EXPECT_EQ(rt::FileDialogFilters("|*.a||"), (QStringList{" (*.a)", " ()"}));
  EXPECT_EQ(rt::FileDialogFilters(""), QStringList{});
  EXPECT_EQ(rt::FileDialogFilters("Lonely name"), QStringList{});
}

class FileDialogTest : public GadgetTest {
 protected:
  void SetUp() override {
    GadgetTest::SetUp();
    ASSERT_TRUE(dir_.isValid());
    for (const char* name : {"a.fw", "b.fw", "c.fw", "notes.txt"}) {
      QFile file(dir_.filePath(name));
      ASSERT_TRUE(file.open(QIODevice::WriteOnly));
      file.write("x");
    }
  }
  QString Path(const char* name) const { return QDir(dir_.path()).absoluteFilePath(name); }
  std::u16string Dir() const { return dir_.path().toStdU16String(); }
  static std::u16string Next() {
    const int64_t saved = rt::WorkspacePosition();
    rt::FileDialogNextSelection(saved);
    std::u16string text(rt::WorkspaceString(saved));
    rt::WorkspaceRestore(saved);
    return text;
  }
  std::u16string Ask(const char16_t* patterns, int32_t index, int32_t flags = 0, int32_t save = 0) {
    const int64_t saved = rt::WorkspacePosition();
    rt::WorkspaceAppend(u"stale");
    const std::u16string dir = Dir();
    rt::FileDialog(u"Please choose file to load", dir.c_str(), patterns, index, flags, saved, save);
    std::u16string text(rt::WorkspaceString(saved));
    rt::WorkspaceRestore(saved);
    return text;
  }

  QTemporaryDir dir_;
};

TEST_F(FileDialogTest, AcceptedFile) {
  Watchdog watchdog(std::chrono::seconds(20), "file dialog");
  QStringList filters;
  QString selectedFilter;
  bool native = true;
  QFileDialog::FileMode mode = QFileDialog::AnyFile;
  WhenShown<QFileDialog>([&](QFileDialog* dialog) {
    filters = dialog->nameFilters();
    selectedFilter = dialog->selectedNameFilter();
    native = dialog->findChild<QLineEdit*>("fileNameEdit") == nullptr;  // Qt's own widgets
    mode = dialog->fileMode();
    EXPECT_EQ(dialog->windowTitle(), "Please choose file to load");
    ChooseInFileDialog(dialog, Path("b.fw"));
  });
  EXPECT_EQ(Ask(u"Firmware (*.fw)|*.fw;", 0), Path("b.fw").toStdU16String());
  EXPECT_FALSE(native);
  EXPECT_EQ(filters, QStringList{"Firmware (*.fw )"});
  EXPECT_EQ(selectedFilter, "Firmware (*.fw )");
  EXPECT_EQ(mode, QFileDialog::ExistingFile);
  EXPECT_EQ(rt::FileDialogChosenFilter(), 0);
  EXPECT_EQ(Next(), u"");  // the one path was handed out already
}

TEST_F(FileDialogTest, DefaultIndexSelectsOnlyExistingFilters) {
  Watchdog watchdog(std::chrono::seconds(20), "file dialog filters");
  QString selected;
  WhenShown<QFileDialog>([&](QFileDialog* dialog) {
    selected = dialog->selectedNameFilter();
    ChooseInFileDialog(dialog, Path("notes.txt"));
  });
  EXPECT_EQ(Ask(u"Firmware|*.fw|Text|*.txt", 1), Path("notes.txt").toStdU16String());
  EXPECT_EQ(selected, "Text (*.txt)");
  EXPECT_EQ(rt::FileDialogChosenFilter(), 1);

  WhenShown<QFileDialog>([&](QFileDialog* dialog) {
    selected = dialog->selectedNameFilter();
    dialog->reject();
  });
  Ask(u"Firmware|*.fw", 1);
  EXPECT_EQ(selected, "Firmware (*.fw)");
}

TEST_F(FileDialogTest, CancelledYieldsEmptyTextAndFilterZero) {
  Watchdog watchdog(std::chrono::seconds(20), "cancelled file dialog");
  WhenShown<QFileDialog>([&](QFileDialog* dialog) {
    dialog->selectNameFilter("Text (*.txt)");
    ChooseInFileDialog(dialog, Path("notes.txt"));
  });
  Ask(u"Firmware|*.fw|Text|*.txt", 0);
  ASSERT_EQ(rt::FileDialogChosenFilter(), 1);

  WhenShown<QFileDialog>([](QFileDialog* dialog) { dialog->reject(); });
  EXPECT_EQ(Ask(u"Firmware (*.fw)|*.fw;", 0), u"");
  EXPECT_EQ(rt::FileDialogChosenFilter(), 0);
  EXPECT_EQ(Next(), u"");
}

TEST_F(FileDialogTest, SeveralFilesOneAtATime) {
  Watchdog watchdog(std::chrono::seconds(20), "multi-selection dialog");
  QFileDialog::FileMode mode = QFileDialog::AnyFile;
  WhenShown<QFileDialog>([&](QFileDialog* dialog) {
    mode = dialog->fileMode();
    ChooseInFileDialog(dialog, "\"a.fw\" \"b.fw\" \"c.fw\"");
  });
  EXPECT_EQ(Ask(u"Firmware (*.fw)|*.fw;", 0, rt::FileDialogMultiple), Path("a.fw").toStdU16String());
  EXPECT_EQ(mode, QFileDialog::ExistingFiles);
  EXPECT_EQ(Next(), Path("b.fw").toStdU16String());
  EXPECT_EQ(Next(), Path("c.fw").toStdU16String());
  EXPECT_EQ(Next(), u"");
}

TEST_F(FileDialogTest, SaveModeAcceptsANewName) {
  Watchdog watchdog(std::chrono::seconds(20), "save dialog");
  QFileDialog::AcceptMode accept = QFileDialog::AcceptOpen;
  WhenShown<QFileDialog>([&](QFileDialog* dialog) {
    accept = dialog->acceptMode();
    ChooseInFileDialog(dialog, Path("new.fw"));
  });
  const int64_t saved = rt::WorkspacePosition();
  const std::u16string dir = Dir();
  rt::AskSaveFile(u"Save", dir.c_str(), u"Firmware (*.fw)|*.fw;", 0, saved);
  EXPECT_EQ(std::u16string(rt::WorkspaceString(saved)), Path("new.fw").toStdU16String());
  rt::WorkspaceRestore(saved);
  EXPECT_EQ(accept, QFileDialog::AcceptSave);
}

}  // namespace
}  // namespace gt
