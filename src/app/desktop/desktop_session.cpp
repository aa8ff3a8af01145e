#include "app/desktop/desktop_session.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QFileDialog>
#include <QFile>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMetaObject>
#include <QPixmap>
#include <QScreen>
#include <QTextStream>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <stdexcept>

#include "app/desktop/console_widget.h"
#include "dialogue/main_dialogue.h"
#include "dialogue/series_file.h"
#include "numerics/error_stack.h"

namespace odefit {
namespace {

// How long the end of a session waits for a dialogue thread that computes
// without writing or drawing before the process ends without it.
constexpr std::chrono::seconds kDialogueEndTimeout{10};

// Returns `text` without the empty lines around it; the blanks that align its lines stay.
QString WithoutOuterLineEnds(const std::string& text) {
  const std::size_t first = text.find_first_not_of('\n');
  if (first == std::string::npos) return {};
  const std::size_t last = text.find_last_not_of('\n');
  return QString::fromStdString(text.substr(first, last - first + 1));
}

}  // namespace

DesktopSession::DesktopSession() {
  if (!InitialSettings(layer_)) throw std::runtime_error("the start-up hook failed");
  window_ = std::make_unique<MainWindow>(layer_, channel_, gate_);
  MainWindow* window = window_.get();
  messages_ = std::make_unique<MessageStream>(std::cerr, [window](const std::string& message) {
    const QString text = QString::fromStdString(message);
    QMetaObject::invokeMethod(window, [window, text] { window->AddMessage(text); }, Qt::QueuedConnection);
  });
  errors_.SetOutput(messages_.get());
  bridge_ = std::make_unique<LayerBridge>(*window_, channel_, gate_);
  fileDialogs_ = std::make_unique<DesktopFileDialogs>(window_->Dialogs(), std::cerr);
  channel_.SetNotifier([window] { QMetaObject::invokeMethod(window, [window] { window->ConsoleNews(); }, Qt::QueuedConnection); });
  layer_.AddObserver(bridge_.get());
  QObject::connect(window, &MainWindow::FrameClosed, window, [this] { Close(); });
}

DesktopSession::~DesktopSession() {
  Close();
  if (thread_.joinable()) {
    if (!WaitForDialogue(kDialogueEndTimeout)) {
      // The thread computes on with references into this session; the
      // report has every line already written, so end the process here.
      std::fflush(nullptr);
      std::_Exit(ExitStatus() != 0 ? ExitStatus() : 1);
    }
    thread_.join();
  }
  layer_.RemoveObserver(bridge_.get());
}

void DesktopSession::Start() {
  window_->ShowAsPlaced();
  thread_ = std::thread(&DesktopSession::RunDialogue, this);
}

void DesktopSession::Close() {
  if (closed_) return;
  closed_ = true;
  cancel_.Cancel();
  channel_.Close();
  gate_.Close();
  window_->Dialogs().Close();
}

bool DesktopSession::WaitForDialogue(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!done_.load()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    if (!done_.load()) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

void DesktopSession::RunDialogue() {
  // The numerical routines run on this thread only; their messages go to the Messages window.
  ErrorReporterScope bindErrors(errors_);
  Outcome outcome = Outcome::Finished;
  int status = 0;
  std::string message;
  try {
    DialogueOptions options;
    options.threads = 0;
    options.cancel = &cancel_;
    outcome = RunMainDialogue(channel_, *fileDialogs_, layer_, report_, options) == DialogueEnd::Terminated
                  ? Outcome::Terminated
                  : Outcome::Finished;
  } catch (const RunStopped& e) {
    outcome = Outcome::Stopped;
    status = 3;
    message = messages_->LastMessage().empty() ? std::string(e.what()) : messages_->LastMessage();
  } catch (const InputEnded&) {
    outcome = Outcome::InputEnded;
    status = 1;
  } catch (const Cancelled&) {
    // The frame was closed while the dialogue computed.
    outcome = Outcome::InputEnded;
    status = 1;
  } catch (const ReportError& e) {
    outcome = Outcome::Failed;
    status = 4;
    message = e.what();
  } catch (const SeriesFileError& e) {
    outcome = Outcome::Failed;
    status = 4;
    message = e.what();
  } catch (const std::exception& e) {
    outcome = Outcome::Failed;
    status = 5;
    message = e.what();
  }
  if (outcome == Outcome::Failed) std::cerr << "odefit: " << message << std::endl;
  endMessage_ = message;
  status_.store(status);
  outcome_.store(outcome);
  done_.store(true);
  MainWindow* window = window_.get();
  QMetaObject::invokeMethod(window, [this] { ShowEnd(); }, Qt::QueuedConnection);
}

void DesktopSession::ShowEnd() {
  const Outcome outcome = outcome_.load();
  if (!closed_) {
    window_->RefreshAll();
    switch (outcome) {
      case Outcome::Finished: window_->SetRunNote(QObject::tr("the run has finished")); break;
      case Outcome::Terminated: window_->close(); break;
      case Outcome::Stopped:
        window_->SetRunNote(QObject::tr("the run was stopped"));
        window_->ShowStop(QObject::tr("Run Stopped"), WithoutOuterLineEnds(endMessage_), true);
        break;
      case Outcome::Failed:
        window_->SetRunNote(QObject::tr("the run was stopped"));
        window_->ShowStop(QObject::tr("odefit"), QString::fromStdString(endMessage_), false);
        break;
      case Outcome::Running:
      case Outcome::InputEnded: break;
    }
  }
  if (endHook_) endHook_(outcome);
}

bool DesktopAvailable() {
  const char* x11 = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  if ((x11 == nullptr || *x11 == '\0') && (wayland == nullptr || *wayland == '\0')) return false;
  std::fflush(nullptr);
  const pid_t child = fork();
  if (child < 0) return false;
  if (child == 0) {
    const int quiet = open("/dev/null", O_WRONLY);
    if (quiet >= 0) dup2(quiet, STDERR_FILENO);
    // A platform that cannot open is a fatal message; end the probe with its own status instead.
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString&) {
      if (type == QtFatalMsg) _exit(1);
    });
    int argc = 1;
    char name[] = "odefit";
    char* argv[] = {name, nullptr};
    QGuiApplication probe(argc, argv);
    _exit(QGuiApplication::primaryScreen() != nullptr ? 0 : 1);
  }
  int status = 0;
  while (waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) return false;
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

namespace {

std::vector<QString> ReadLines(const QString& path) {
  std::vector<QString> lines;
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) return lines;
  QTextStream in(&file);
  while (!in.atEnd()) lines.push_back(in.readLine());
  return lines;
}

// Types `text` and a line end into `widget` as key presses.
void TypeLine(QWidget* widget, const QString& text) {
  for (const QChar c : text) {
    QCoreApplication::postEvent(widget, new QKeyEvent(QEvent::KeyPress, 0, Qt::NoModifier, QString(c)));
  }
  QCoreApplication::postEvent(widget, new QKeyEvent(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QStringLiteral("\r")));
}

// Answers the first file-open dialog with the first line and types the others ahead.
void ScriptAnswers(DesktopSession& session, const std::vector<QString>& lines) {
  if (lines.empty()) return;
  MainWindow& window = session.Window();
  const QString file = lines.front();
  auto answered = std::make_shared<bool>(false);
  QObject::connect(&window.Dialogs(), &DialogHost::SeriesFileDialogShown, &window, [file, answered](QFileDialog* dialog) {
    if (*answered) return;
    *answered = true;
    // Typed into the name field, as a user would (selectFile leaves a focused field alone).
    if (auto* field = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))) {
      field->setText(file);
    } else {
      dialog->selectFile(file);
    }
    QMetaObject::invokeMethod(dialog, &QDialog::accept, Qt::QueuedConnection);
  });
  const std::vector<QString> typed(lines.begin() + 1, lines.end());
  QObject::connect(&window, &MainWindow::ConsoleOpened, &window, [typed](ConsoleWidget* console) {
    for (const QString& line : typed) TypeLine(console, line);
  });
}

bool SaveScreenshot(MainWindow& window, const QString& path) {
  window.RefreshAll();
  // Paint now, children included, so the screen holds the last drawing before
  // it is grabbed; a scheduled paint may still be pending on a slow machine.
  window.repaint();
  QCoreApplication::processEvents();
  QPixmap shot;
  if (QScreen* screen = window.screen()) shot = screen->grabWindow(0);
  if (shot.isNull()) shot = window.grab();
  return shot.save(path, "PNG");
}

}  // namespace

int RunDesktop(int& argc, char** argv) {
  QApplication app(argc, argv);
  // Qt sets the C library's locale from the environment; the numbers the
  // program reads and writes keep the C conventions.
  std::setlocale(LC_NUMERIC, "C");
  QApplication::setApplicationName(QStringLiteral("odefit"));
  int screenshotStatus = 0;
  DesktopSession session;
  QObject::connect(&session.Window(), &MainWindow::FrameClosed, &app, &QApplication::quit, Qt::QueuedConnection);
  if (const char* answers = std::getenv("ODEFIT_DESKTOP_ANSWERS"); answers != nullptr && *answers != '\0') {
    ScriptAnswers(session, ReadLines(QString::fromLocal8Bit(answers)));
  }
  if (const char* shot = std::getenv("ODEFIT_DESKTOP_SCREENSHOT"); shot != nullptr && *shot != '\0') {
    const QString path = QString::fromLocal8Bit(shot);
    session.SetEndHook([&session, &screenshotStatus, path](DesktopSession::Outcome) {
      if (!SaveScreenshot(session.Window(), path)) {
        std::cerr << "odefit: cannot write " << path.toStdString() << std::endl;
        screenshotStatus = 4;
      }
      session.Window().close();
    });
  }
  session.Start();
  QApplication::exec();
  session.Close();
  if (!session.WaitForDialogue(kDialogueEndTimeout)) {
    std::fflush(nullptr);
    std::_Exit(session.ExitStatus() != 0 ? session.ExitStatus() : 1);
  }
  return session.ExitStatus() != 0 ? session.ExitStatus() : screenshotStatus;
}

}  // namespace odefit
