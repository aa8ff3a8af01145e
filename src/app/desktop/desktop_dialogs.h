#pragma once
// The file-open dialog and the message boxes of the series-file choice.
//
// The dialogue thread asks (DesktopFileDialogs) and waits for the answer;
// the question is queued to the GUI thread, which shows the dialog without a
// nested event loop (QDialog::open) and answers when the user has decided
// (DialogHost). After the frame is closed every question is answered at once:
// no file, and Yes to "Terminate Program?", so the dialogue ends.

#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "dialogue/console.h"

class QDialog;
class QFileDialog;
class QMessageBox;
class QWidget;

namespace odefit {

inline constexpr const char* kOpenDialogTitle = "Open: Select File for Unit 1";
inline constexpr const char* kFileOpenErrorTitle = "File Open Error";
inline constexpr const char* kFileOpenErrorText = "A File Must be Selected\n\nTerminate Program?";

// GUI side: shows the dialogs over `frame`.
class DialogHost : public QObject {
  Q_OBJECT

 public:
  explicit DialogHost(QWidget* frame);

  // The file-open dialog; `answer` receives the chosen path, or an empty text
  // when none was chosen. A name that does not exist is offered to be created.
  void AskSeriesFile(std::function<void(std::string)> answer);
  // The "File Open Error" box; `answer` receives true for Yes.
  void AskTerminate(std::function<void(bool)> answer);
  // A box saying that a file cannot be opened; `done` runs when it is closed.
  void TellOpenFailure(const QString& text, std::function<void()> done);

  // Closes the open dialogs (each answers as cancelled) and answers every later question at once.
  void Close();
  bool Closed() const { return closed_; }

 signals:
  // A file-open dialog was shown (lets a scripted run or a test answer it).
  void SeriesFileDialogShown(QFileDialog* dialog);
  // A message box was shown.
  void MessageBoxShown(QMessageBox* box);

 private:
  void Track(QDialog* dialog);
  void AskToCreate(const QString& path, std::function<void(std::string)> answer);

  QWidget* frame_;
  bool closed_ = false;
  std::vector<QPointer<QDialog>> open_;
};

// Dialogue side: FileDialogs that asks the DialogHost and waits.
class DesktopFileDialogs : public FileDialogs {
 public:
  // `errors` receives the "cannot open NAME: REASON" lines (standard error).
  DesktopFileDialogs(DialogHost& host, std::ostream& errors) : host_(host), errors_(errors) {}
  std::string ChooseSeriesFile() override;
  bool ConfirmTerminate() override;
  void ReportOpenFailure(const std::string& name, const std::string& reason) override;

 private:
  DialogHost& host_;
  std::ostream& errors_;
};

}  // namespace odefit
