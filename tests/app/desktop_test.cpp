// The desktop front end on the offscreen platform: whole runs typed into the
// input window, the windows' places and sizes, the graphics widgets' pixels
// against their surfaces, the file dialog and message boxes, Pause, Save,
// Print and Copy, and closing the frame while a question waits.
#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMessageBox>
#include <QPrinter>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>

#include <filesystem>
#include <fstream>
#include <future>
#include <sstream>
#include <string>
#include <thread>

#include "app/desktop/console_widget.h"
#include "app/desktop/desktop_dialogs.h"
#include "app/desktop/desktop_session.h"
#include "app/desktop/graphics_view.h"
#include "app/desktop/messages_window.h"
#include "graphics/palette.h"
#include "graphics/png_file.h"
#include "program_run.h"

namespace odefit {
namespace {

namespace fs = std::filesystem;
using testing::Lines;
using testing::ScratchFolder;
using testing::Text;

constexpr int kRunTimeoutMs = 60000;

// Makes `folder` the working directory for one test and goes back afterwards.
class WorkingDirectory {
 public:
  explicit WorkingDirectory(const fs::path& folder) : previous_(fs::current_path()) { fs::current_path(folder); }
  ~WorkingDirectory() { fs::current_path(previous_); }

 private:
  fs::path previous_;
};

template <typename T>
T* FindTopLevel(const std::function<bool(T*)>& match = [](T*) { return true; }) {
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    auto* found = qobject_cast<T*>(widget);
    if (found != nullptr && found->isVisible() && match(found)) return found;
  }
  return nullptr;
}

QFileDialog* OpenFileDialog() { return FindTopLevel<QFileDialog>(); }

// Types `name` into the dialog's file name field and presses Open.
void Choose(QFileDialog* dialog, const QString& name) {
  auto* field = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
  QVERIFY(field != nullptr);
  field->clear();
  QTest::keyClicks(field, name);
  static_cast<QDialog*>(dialog)->accept();  // QFileDialog's own accept is not public
}

QMessageBox* OpenMessageBox(const QString& title) {
  return FindTopLevel<QMessageBox>([&](QMessageBox* box) { return box->windowTitle() == title; });
}

void TypeLine(QWidget* console, const QString& text) {
  QTest::keyClicks(console, text);
  QTest::keyClick(console, Qt::Key_Return);
}

QString Transcript(MainWindow& window) {
  return window.Console() != nullptr ? window.Console()->TranscriptText() : QString();
}

// Returns whether every pixel of `image` (palette indices) equals the surface's.
bool SamePixels(const QImage& image, const DrawingSurface& surface) {
  if (image.format() != QImage::Format_Indexed8 || image.width() != surface.Width() ||
      image.height() != surface.Height()) {
    return false;
  }
  for (int y = 0; y < surface.Height(); ++y) {
    const uchar* row = image.constScanLine(y);
    for (int x = 0; x < surface.Width(); ++x) {
      if (row[x] != surface.At(x, y)) return false;
    }
  }
  return true;
}

// Returns whether what the view shows on the screen is the surface's part under its scroll position.
bool ShowsSurface(GraphicsView* view, const DrawingSurface& surface) {
  const QImage shown = view->viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
  const int left = view->horizontalScrollBar()->value(), top = view->verticalScrollBar()->value();
  for (int y = 0; y < shown.height(); ++y) {
    for (int x = 0; x < shown.width(); ++x) {
      const Rgb& rgb = Palette16[static_cast<std::size_t>(surface.At(left + x, top + y))];
      if (shown.pixel(x, y) != qRgb(rgb.red, rgb.green, rgb.blue)) return false;
    }
  }
  return true;
}

void Copy(const fs::path& from, const fs::path& to) { fs::copy_file(from, to, fs::copy_options::overwrite_existing); }

}  // namespace

class DesktopTest : public QObject {
  Q_OBJECT

 private slots:
  void init() { QApplication::clipboard()->clear(); }

  void aWholeRunTypedIntoTheInputWindowMatchesTheTerminalRun();
  void cancellingTheFileDialogAsksWhetherToTerminateWithNoPreselected();
  void aNewFileNameIsCreatedAndCountsNoVectors();
  void aFileThatCannotBeOpenedIsReportedInABox();
  void aNumericalStopGoesToTheMessagesWindowAndABoxNotToTheInputWindow();
  void pauseHoldsTheDialogueUntilResume();
};

void DesktopTest::aWholeRunTypedIntoTheInputWindowMatchesTheTerminalRun() {
  ScratchFolder desktopFolder("desktop-run"), terminalFolder("desktop-run-terminal");
  const fs::path examples = ODEFIT_EXAMPLES_DIR;
  Copy(examples / "lorenz.txt", desktopFolder.path() / "lorenz.txt");
  Copy(examples / "lorenz.txt", terminalFolder.path() / "lorenz.txt");
  QCOMPARE(testing::RunScripted(ODEFIT_BINARY, terminalFolder.path(), examples / "lorenz-answers.txt"), 0);
  const std::vector<std::string> answers = Lines(examples / "lorenz-answers.txt");
  QVERIFY(answers.size() > 10);

  WorkingDirectory cwd(desktopFolder.path());
  DesktopSession session;
  MainWindow& window = session.Window();
  session.Start();
  QTRY_VERIFY(window.isVisible());
  QVERIFY(window.windowState() & Qt::WindowMaximized);
  QCOMPARE(window.windowTitle(), QStringLiteral("odefit"));

  // The file-open dialog: its title, new names allowed, the working directory kept.
  QTRY_VERIFY(OpenFileDialog() != nullptr);
  QFileDialog* dialog = OpenFileDialog();
  QCOMPARE(dialog->windowTitle(), QStringLiteral("Open: Select File for Unit 1"));
  QCOMPARE(dialog->fileMode(), QFileDialog::AnyFile);
  QCOMPARE(dialog->acceptMode(), QFileDialog::AcceptOpen);
  Choose(dialog, QString::fromStdString(answers[0]));
  QCOMPARE(fs::current_path(), desktopFolder.path());

  QTRY_VERIFY(window.Console() != nullptr);
  ConsoleWidget* console = window.Console();
  QTRY_VERIFY(Transcript(window).endsWith(QStringLiteral("D = ")));
  QTRY_VERIFY(window.focusWidget() == console);  // the frame's focus is in the input window
  // D with a typing slip mended by Backspace; Ntrain edited at the line's start.
  QTest::keyClicks(console, QStringLiteral("33"));
  QTest::keyClick(console, Qt::Key_Backspace);
  QTest::keyClick(console, Qt::Key_Return);
  QTest::keyClicks(console, QStringLiteral("000"));
  QTest::keyClick(console, Qt::Key_Home);
  QTest::keyClicks(console, QStringLiteral("3"));
  QTest::keyClick(console, Qt::Key_Return);
  TypeLine(console, QString::fromStdString(answers[3]));
  // m = 3 again from the history (3, 3000, 0.01 entered so far), the rest typed ahead.
  for (int i = 0; i < 3; ++i) QTest::keyClick(console, Qt::Key_Up);
  QTest::keyClick(console, Qt::Key_Return);
  for (std::size_t i = 5; i + 4 < answers.size(); ++i) TypeLine(console, QString::fromStdString(answers[i]));
  // The last four answers arrive by Edit > Paste.
  std::string pasted;
  for (std::size_t i = answers.size() - 4; i < answers.size(); ++i) pasted += answers[i] + "\n";
  QApplication::clipboard()->setText(QString::fromStdString(pasted));
  window.PasteIntoConsole();

  QTRY_VERIFY_WITH_TIMEOUT(session.DialogueDone(), kRunTimeoutMs);
  QCOMPARE(session.Result(), DesktopSession::Outcome::Finished);
  QCOMPARE(session.ExitStatus(), 0);
  QTRY_VERIFY(window.windowTitle().contains(QStringLiteral("the run has finished")));
  QVERIFY(window.isVisible());  // the frame stays with its windows
  // The last question was asked in the input window, which has the focus again.
  QCOMPARE(window.CurrentChild(), window.SubWindow(ConsoleWindow));

  // The input window shows what the terminal shows after its file prompt; the reports agree.
  QTRY_VERIFY(console->Editor().Text().empty() && !session.Channel().Reading());
  std::string terminalScreen = Text(terminalFolder.path() / "stdout.txt");
  terminalScreen.erase(0, terminalScreen.find('\n') + 1);
  QCOMPARE(Transcript(window).toStdString(), terminalScreen);
  QCOMPARE(Text(desktopFolder.path() / "report.txt"), Text(terminalFolder.path() / "report.txt"));
  QVERIFY(window.MessagesSubWindow() == nullptr);

  // The three windows: titles, places and client sizes.
  struct Expected {
    int unit;
    const char* title;
    QPoint place;
  };
  for (const Expected& expected : {Expected{ConsoleWindow, "Input Window", {0, 0}},
                                   Expected{DifferentiationWindow, "Differentiation", {400, 0}},
                                   Expected{EfficiencyWindow, "Model efficiency", {400, 0}}}) {
    QMdiSubWindow* child = window.SubWindow(expected.unit);
    QVERIFY(child != nullptr);
    QCOMPARE(child->windowTitle(), QString::fromLatin1(expected.title));
    QCOMPARE(child->pos(), expected.place);
    auto* area = qobject_cast<QAbstractScrollArea*>(child->widget());
    QVERIFY(area != nullptr);
    QCOMPARE(area->viewport()->size(), QSize(376, 496));
  }
  QCOMPARE(window.Area()->subWindowList().size(), 3);

  // The graphics widgets hold and show their surfaces, scrolled to either corner.
  for (const int unit : {DifferentiationWindow, EfficiencyWindow}) {
    GraphicsView* view = window.View(unit);
    const std::optional<DrawingSurface> surface = session.Layer().CopySurface(unit);
    QVERIFY(view != nullptr && surface.has_value());
    QTRY_VERIFY(SamePixels(view->Image(), *surface));
    view->horizontalScrollBar()->setValue(0);
    view->verticalScrollBar()->setValue(0);
    QVERIFY(ShowsSurface(view, *surface));
    view->horizontalScrollBar()->setValue(view->horizontalScrollBar()->maximum());
    view->verticalScrollBar()->setValue(view->verticalScrollBar()->maximum());
    QCOMPARE(view->horizontalScrollBar()->value() + 376, surface->Width());
    QCOMPARE(view->verticalScrollBar()->value() + 496, surface->Height());
    QVERIFY(ShowsSurface(view, *surface));
  }

  // File > Save writes the surface; Print and Copy act on the same window.
  QMdiSubWindow* efficiency = window.SubWindow(EfficiencyWindow);
  const std::optional<DrawingSurface> surface = session.Layer().CopySurface(EfficiencyWindow);
  const std::string png = (desktopFolder.path() / "saved.png").string();
  QString error;
  QVERIFY2(window.SaveWindow(efficiency, QString::fromStdString(png), &error), qPrintable(error));
  const std::optional<DrawingSurface> saved = ReadPng(png);
  QVERIFY(saved.has_value());
  QVERIFY(saved->Pixels().size() == surface->Pixels().size() &&
          std::equal(saved->Pixels().begin(), saved->Pixels().end(), surface->Pixels().begin()));

  const QString text = QString::fromStdString((desktopFolder.path() / "input.txt").string());
  QVERIFY(window.SaveWindow(window.SubWindow(ConsoleWindow), text));
  QCOMPARE(Text(text.toStdString()), terminalScreen);

  QPrinter printer;
  printer.setOutputFormat(QPrinter::PdfFormat);
  const QString pdf = QString::fromStdString((desktopFolder.path() / "printed.pdf").string());
  printer.setOutputFileName(pdf);
  window.PrintWindow(efficiency, printer);
  QVERIFY(QFileInfo(pdf).size() > 1000);

  window.CopyWindow(efficiency);
  const QImage copied = QApplication::clipboard()->image();
  QCOMPARE(copied.size(), QSize(surface->Width(), surface->Height()));
  bool copiedSame = true;
  for (int y = 0; y < surface->Height() && copiedSame; y += 7) {
    for (int x = 0; x < surface->Width(); x += 3) {
      const Rgb& rgb = Palette16[static_cast<std::size_t>(surface->At(x, y))];
      if (copied.pixel(x, y) != qRgb(rgb.red, rgb.green, rgb.blue)) copiedSame = false;
    }
  }
  QVERIFY(copiedSame);

  // Select All and Copy in the input window give its whole text.
  window.Area()->setActiveSubWindow(window.SubWindow(ConsoleWindow));
  window.SelectAll();
  window.CopyWindow(window.SubWindow(ConsoleWindow));
  QCOMPARE(QApplication::clipboard()->text().toStdString(), terminalScreen);

  window.close();
  QVERIFY(session.WaitForDialogue(std::chrono::seconds(5)));
  QCOMPARE(session.ExitStatus(), 0);
}

void DesktopTest::cancellingTheFileDialogAsksWhetherToTerminateWithNoPreselected() {
  ScratchFolder folder("desktop-cancel");
  WorkingDirectory cwd(folder.path());
  DesktopSession session;
  session.Start();
  for (int round = 0; round < 2; ++round) {
    QTRY_VERIFY(OpenFileDialog() != nullptr);
    OpenFileDialog()->reject();
    const QString title = QStringLiteral("File Open Error");
    QTRY_VERIFY(OpenMessageBox(title) != nullptr);
    QMessageBox* box = OpenMessageBox(title);
    QCOMPARE(box->text(), QStringLiteral("A File Must be Selected\n\nTerminate Program?"));
    QCOMPARE(box->icon(), QMessageBox::Warning);
    QCOMPARE(box->standardButtons(), QMessageBox::Yes | QMessageBox::No);
    QCOMPARE(box->defaultButton(), box->button(QMessageBox::No));
    if (round == 0) {
      box->button(QMessageBox::No)->click();  // the dialog again
    } else {
      box->button(QMessageBox::Yes)->click();  // the program ends
    }
  }
  QTRY_VERIFY_WITH_TIMEOUT(session.DialogueDone(), kRunTimeoutMs);
  QCOMPARE(session.Result(), DesktopSession::Outcome::Terminated);
  QCOMPARE(session.ExitStatus(), 0);
  QTRY_VERIFY(!session.Window().isVisible());
}

void DesktopTest::aNewFileNameIsCreatedAndCountsNoVectors() {
  ScratchFolder folder("desktop-new-file");
  WorkingDirectory cwd(folder.path());
  DesktopSession session;
  MainWindow& window = session.Window();
  session.Start();
  QTRY_VERIFY(OpenFileDialog() != nullptr);
  Choose(OpenFileDialog(), QStringLiteral("new.txt"));
  const QString create = QStringLiteral("Open: Select File for Unit 1");
  QTRY_VERIFY(OpenMessageBox(create) != nullptr);
  OpenMessageBox(create)->button(QMessageBox::Yes)->click();
  QTRY_VERIFY(fs::exists(folder.path() / "new.txt"));
  QTRY_VERIFY(window.Console() != nullptr);
  TypeLine(window.Console(), QStringLiteral("1"));
  // No vectors: the dialog comes back without a message.
  QTRY_VERIFY(OpenFileDialog() != nullptr);
  QCOMPARE(Transcript(window), QStringLiteral(" 1) Dimension of vectors: D = 1\n"));
  OpenFileDialog()->reject();
  QTRY_VERIFY(OpenMessageBox(QStringLiteral("File Open Error")) != nullptr);
  OpenMessageBox(QStringLiteral("File Open Error"))->button(QMessageBox::Yes)->click();
  QTRY_VERIFY_WITH_TIMEOUT(session.DialogueDone(), kRunTimeoutMs);
  QCOMPARE(session.Result(), DesktopSession::Outcome::Terminated);
}

void DesktopTest::aFileThatCannotBeOpenedIsReportedInABox() {
  QWidget frame;
  DialogHost host(&frame);
  std::ostringstream errors;
  DesktopFileDialogs dialogs(host, errors);
  auto told = std::async(std::launch::async, [&] { dialogs.ReportOpenFailure("series.txt", "Permission denied"); });
  const QString title = QStringLiteral("Open: Select File for Unit 1");
  QTRY_VERIFY(OpenMessageBox(title) != nullptr);
  QMessageBox* box = OpenMessageBox(title);
  QCOMPARE(box->text(), QStringLiteral("Cannot open series.txt:\nPermission denied"));
  QCOMPARE(errors.str(), std::string("odefit: cannot open series.txt: Permission denied\n"));
  QCOMPARE(told.wait_for(std::chrono::milliseconds(0)), std::future_status::timeout);
  box->button(QMessageBox::Ok)->click();
  QTRY_VERIFY(told.wait_for(std::chrono::milliseconds(0)) == std::future_status::ready);
  told.get();
}

void DesktopTest::aNumericalStopGoesToTheMessagesWindowAndABoxNotToTheInputWindow() {
  ScratchFolder folder("desktop-stop");
  const fs::path fixture = fs::path(ODEFIT_FIXTURES_DIR) / "singular";
  Copy(fixture / "series.txt", folder.path() / "series.txt");
  const std::vector<std::string> answers = Lines(fixture / "answers.txt");
  WorkingDirectory cwd(folder.path());
  DesktopSession session;
  MainWindow& window = session.Window();
  session.Start();
  QTRY_VERIFY(OpenFileDialog() != nullptr);
  Choose(OpenFileDialog(), QString::fromStdString(answers[0]));
  QTRY_VERIFY(window.Console() != nullptr);
  for (std::size_t i = 1; i < answers.size(); ++i) TypeLine(window.Console(), QString::fromStdString(answers[i]));
  QTRY_VERIFY_WITH_TIMEOUT(session.DialogueDone(), kRunTimeoutMs);
  QCOMPARE(session.Result(), DesktopSession::Outcome::Stopped);
  QCOMPARE(session.ExitStatus(), 3);

  // The recorded message, then the program's note on the terms behind it.
  const std::string expected = Text(fixture / "expected" / "stderr.txt") +
                               "odefit: equation 1 cannot be fitted: its term x1 is zero on every training row; "
                               "choose another family or another order\n";
  QTRY_VERIFY(window.Messages() != nullptr);
  QTRY_COMPARE(window.Messages()->toPlainText().toStdString(), expected);
  QCOMPARE(window.MessagesSubWindow()->windowTitle(), QStringLiteral("Messages"));
  QVERIFY(window.MessagesSubWindow()->isVisible());
  const QString title = QStringLiteral("Run Stopped");
  const auto stopBox = [&] { return FindTopLevel<QDialog>([&](QDialog* d) { return d->windowTitle() == title; }); };
  QTRY_VERIFY(stopBox() != nullptr);
  auto* message = stopBox()->findChild<QLabel*>(QStringLiteral("message"));
  QVERIFY(message != nullptr);
  const std::size_t first = expected.find_first_not_of('\n'), last = expected.find_last_not_of('\n');
  QCOMPARE(message->text().toStdString(), expected.substr(first, last - first + 1));
  QVERIFY(!message->wordWrap());
  QVERIFY(window.windowTitle().contains(QStringLiteral("the run was stopped")));

  // Neither the input window nor the report has the message.
  QVERIFY(!Transcript(window).contains(QStringLiteral("***")));
  QVERIFY(Text(folder.path() / "report.txt").find("***") == std::string::npos);
  QVERIFY(!Text(folder.path() / "report.txt").empty());
  stopBox()->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
  QTRY_VERIFY(stopBox() == nullptr);
  window.close();
}

void DesktopTest::pauseHoldsTheDialogueUntilResume() {
  ScratchFolder folder("desktop-pause");
  Copy(fs::path(ODEFIT_EXAMPLES_DIR) / "lorenz.txt", folder.path() / "lorenz.txt");
  WorkingDirectory cwd(folder.path());
  DesktopSession session;
  MainWindow& window = session.Window();
  session.Start();
  QTRY_VERIFY(OpenFileDialog() != nullptr);
  Choose(OpenFileDialog(), QStringLiteral("lorenz.txt"));
  QTRY_VERIFY(window.Console() != nullptr);
  for (const char* answer : {"3", "3000", "0.01"}) TypeLine(window.Console(), QString::fromLatin1(answer));
  QTRY_VERIFY(Transcript(window).endsWith(QStringLiteral("m = ")));

  // Paused before m is answered: the differentiation window is the next drawing, and there the dialogue waits.
  window.PauseAction()->trigger();
  QVERIFY(window.windowTitle().contains(QStringLiteral("paused")));
  QVERIFY(!window.PauseAction()->isEnabled());
  QVERIFY(window.ResumeAction()->isEnabled());
  TypeLine(window.Console(), QStringLiteral("3"));
  QTRY_VERIFY(session.Gate().Holding());
  QTRY_VERIFY(Transcript(window).endsWith(QStringLiteral("m = 3\n")));
  const std::uint64_t drawn = session.Layer().ChangeCount(DifferentiationWindow);
  const QString shown = Transcript(window);
  QTest::qWait(200);
  QVERIFY(session.Gate().Holding());
  QCOMPARE(session.Layer().ChangeCount(DifferentiationWindow), drawn);
  QCOMPARE(Transcript(window), shown);
  QVERIFY(!shown.contains(QStringLiteral("5)")));

  window.ResumeAction()->trigger();
  QVERIFY(!window.windowTitle().contains(QStringLiteral("paused")));
  QTRY_VERIFY_WITH_TIMEOUT(Transcript(window).endsWith(QStringLiteral("(y/n) ")), kRunTimeoutMs);
  QVERIFY(session.Layer().ChangeCount(DifferentiationWindow) > drawn);

  // Closing the frame while the question waits ends the input; the report keeps its lines.
  window.close();
  QVERIFY(session.WaitForDialogue(std::chrono::seconds(5)));
  QCOMPARE(session.Result(), DesktopSession::Outcome::InputEnded);
  QCOMPARE(session.ExitStatus(), 1);
  const std::string report = Text(folder.path() / "report.txt");
  QVERIFY(report.find("Dimension of vectors D =  3") != std::string::npos);
  QVERIFY(report.find("Sampling interval dt =") != std::string::npos);
}

}  // namespace odefit

QTEST_MAIN(odefit::DesktopTest)
#include "desktop_test.moc"
