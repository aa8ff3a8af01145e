#include "app/desktop/desktop_dialogs.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>

#include <future>
#include <memory>
#include <utility>

namespace odefit {

DialogHost::DialogHost(QWidget* frame) : QObject(frame), frame_(frame) {}

void DialogHost::Track(QDialog* dialog) {
  std::erase_if(open_, [](const QPointer<QDialog>& d) { return d.isNull(); });
  open_.emplace_back(dialog);
}

void DialogHost::AskSeriesFile(std::function<void(std::string)> answer) {
  if (closed_) {
    answer({});
    return;
  }
  // Qt's own dialog, the same on every desktop: it lets a new name be typed
  // (AnyFile) and, unlike a chdir-ing dialog, leaves the working directory alone.
  auto* dialog = new QFileDialog(frame_, QString::fromLatin1(kOpenDialogTitle), QDir::currentPath());
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  dialog->setOption(QFileDialog::DontUseNativeDialog);
  dialog->setFileMode(QFileDialog::AnyFile);
  dialog->setAcceptMode(QFileDialog::AcceptOpen);
  dialog->setNameFilters({QStringLiteral("All files (*)"), QStringLiteral("Text files (*.txt)")});
  Track(dialog);
  connect(dialog, &QDialog::finished, this, [this, dialog, answer](int result) {
    const QString path = result == QDialog::Accepted ? dialog->selectedFiles().value(0) : QString();
    if (path.isEmpty()) {
      answer({});
    } else if (!QFileInfo::exists(path) && !closed_) {
      AskToCreate(path, answer);
    } else {
      answer(QFile::encodeName(path).toStdString());
    }
  });
  dialog->open();
  emit SeriesFileDialogShown(dialog);
}

void DialogHost::AskToCreate(const QString& path, std::function<void(std::string)> answer) {
  auto* box = new QMessageBox(QMessageBox::Question, QString::fromLatin1(kOpenDialogTitle),
                              path + QStringLiteral("\nThis file does not exist.\nCreate the file?"),
                              QMessageBox::Yes | QMessageBox::No, frame_);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setDefaultButton(QMessageBox::Yes);
  Track(box);
  connect(box, &QDialog::finished, this, [this, box, path, answer](int) {
    if (box->clickedButton() == box->button(QMessageBox::Yes)) {
      QFile file(path);
      file.open(QIODevice::WriteOnly);  // a failure shows when the dialogue opens it
      answer(QFile::encodeName(path).toStdString());
    } else {
      AskSeriesFile(answer);
    }
  });
  box->open();
  emit MessageBoxShown(box);
}

void DialogHost::AskTerminate(std::function<void(bool)> answer) {
  if (closed_) {
    answer(true);
    return;
  }
  auto* box = new QMessageBox(QMessageBox::Warning, QString::fromLatin1(kFileOpenErrorTitle),
                              QString::fromLatin1(kFileOpenErrorText), QMessageBox::Yes | QMessageBox::No, frame_);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setDefaultButton(QMessageBox::No);
  box->setEscapeButton(QMessageBox::No);
  Track(box);
  connect(box, &QDialog::finished, this, [this, box, answer](int) {
    answer(closed_ || box->clickedButton() == box->button(QMessageBox::Yes));
  });
  box->open();
  emit MessageBoxShown(box);
}

void DialogHost::TellOpenFailure(const QString& text, std::function<void()> done) {
  if (closed_) {
    done();
    return;
  }
  auto* box = new QMessageBox(QMessageBox::Warning, QString::fromLatin1(kOpenDialogTitle), text, QMessageBox::Ok, frame_);
  box->setAttribute(Qt::WA_DeleteOnClose);
  Track(box);
  connect(box, &QDialog::finished, this, [done](int) { done(); });
  box->open();
  emit MessageBoxShown(box);
}

void DialogHost::Close() {
  closed_ = true;
  const std::vector<QPointer<QDialog>> open = std::move(open_);
  open_.clear();
  for (const QPointer<QDialog>& dialog : open) {
    if (!dialog.isNull() && dialog->isVisible()) dialog->reject();
  }
}

namespace {

// Queues `ask` to the GUI thread and waits for its answer; the first answer
// counts. Should the host go away before it asks, the promise breaks and
// get() throws instead of hanging.
template <typename T, typename Ask>
T AskAndWait(DialogHost& host, Ask ask) {
  auto promise = std::make_shared<std::promise<T>>();
  auto answered = std::make_shared<bool>(false);
  std::future<T> future = promise->get_future();
  QMetaObject::invokeMethod(
      &host,
      [&host, promise, answered, ask] {
        ask(host, [promise, answered](T value) {
          if (std::exchange(*answered, true)) return;
          promise->set_value(std::move(value));
        });
      },
      Qt::QueuedConnection);
  return future.get();
}

}  // namespace

std::string DesktopFileDialogs::ChooseSeriesFile() {
  return AskAndWait<std::string>(host_, [](DialogHost& host, auto answer) { host.AskSeriesFile(answer); });
}

bool DesktopFileDialogs::ConfirmTerminate() {
  return AskAndWait<bool>(host_, [](DialogHost& host, auto answer) { host.AskTerminate(answer); });
}

void DesktopFileDialogs::ReportOpenFailure(const std::string& name, const std::string& reason) {
  errors_ << "odefit: cannot open " << name << ": " << reason << std::endl;
  const QString text = QStringLiteral("Cannot open %1:\n%2").arg(QFile::decodeName(name.c_str()), QString::fromStdString(reason));
  AskAndWait<bool>(host_, [text](DialogHost& host, auto answer) { host.TellOpenFailure(text, [answer] { answer(true); }); });
}

}  // namespace odefit
