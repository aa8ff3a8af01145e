#pragma once
// The frame: a main window holding a multiple-document area with the input
// window, the graphics windows and the Messages window, and the default menu
// bar (File, Edit, State, Window, Help). It only shows what the graphics
// layer and the console channel hold and forwards what the user does; it
// computes nothing. GUI thread only: the dialogue thread reaches it through
// queued calls (LayerBridge, the channel's notices).

#include <QMainWindow>
#include <QString>

#include <cstdint>
#include <map>
#include <optional>

#include "app/desktop/console_channel.h"
#include "app/desktop/pause_gate.h"
#include "graphics/graphics_layer.h"

class QAction;
class QMdiArea;
class QMdiSubWindow;
class QMenu;
class QPrinter;

namespace odefit {

class ConsoleWidget;
class DialogHost;
class GraphicsView;
class MessagesWindow;

class MainWindow : public QMainWindow {
  Q_OBJECT

 public:
  MainWindow(GraphicsLayer& layer, ConsoleChannel& channel, PauseGate& gate, QWidget* parent = nullptr);
  ~MainWindow() override;

  // Shows the frame as the start-up hook placed it (maximised by default).
  void ShowAsPlaced();

  // ---- What the dialogue asks for (queued to the GUI thread).
  void OpenUnit(int unit, WindowKind kind, const QString& title);
  void PlaceUnit(int unit, const WindowPlacement& placement);
  // Raises `unit` and gives it the keyboard focus, unless the input window was
  // written or read since the request (its channel activity then differs
  // from `activity`): the input window keeps the focus then.
  void FocusUnit(int unit, std::uint64_t activity);
  void SurfaceChanged(int unit);
  void UpdateConsoleAppearance();
  // Shows the channel's news in the input window, which takes the focus when it was read or written.
  void ConsoleNews();
  // Appends a numerical error message to the Messages window, opening it the first time.
  void AddMessage(const QString& message);
  // Puts `note` into the frame's title (the state of the run).
  void SetRunNote(const QString& note);
  // Shows a message box telling why the run stopped (a dialog whose QLabel
  // "message" holds `message` line by line, with an OK button).
  void ShowStop(const QString& title, const QString& message, bool numerical);

  // ---- What the menus do, callable directly.
  // Saves a window: a graphics window's surface as a PNG file, a text window's text.
  bool SaveWindow(QMdiSubWindow* window, const QString& path, QString* error = nullptr);
  void PrintWindow(QMdiSubWindow* window, QPrinter& printer);
  void CopyWindow(QMdiSubWindow* window);
  void PasteIntoConsole();
  void SelectAll();
  void PauseRun();
  void ResumeRun();
  // Copies every graphics window's changes and repaints them now.
  void RefreshAll();

  // ---- Access for the session and for tests.
  QMdiArea* Area() const { return area_; }
  DialogHost& Dialogs() const { return *dialogs_; }
  QMdiSubWindow* SubWindow(int unit) const;
  QMdiSubWindow* MessagesSubWindow() const { return messagesWindow_; }
  QMdiSubWindow* CurrentChild() const;
  ConsoleWidget* Console() const { return console_; }
  GraphicsView* View(int unit) const;
  MessagesWindow* Messages() const { return messages_; }
  QAction* PauseAction() const { return pauseAction_; }
  QAction* ResumeAction() const { return resumeAction_; }

 signals:
  // The input window was created.
  void ConsoleOpened(ConsoleWidget* console);
  // The user closed the frame.
  void FrameClosed();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void BuildMenus();
  QMdiSubWindow* AddChild(QWidget* widget, const QString& title, bool closable);
  void ActivateConsole();
  void UpdateTitle();
  void UpdateWindowMenu();
  void UpdateStateActions();
  void SaveCurrent();
  void PrintCurrent();
  void About();

  GraphicsLayer& layer_;
  ConsoleChannel& channel_;
  PauseGate& gate_;
  QMdiArea* area_ = nullptr;
  DialogHost* dialogs_ = nullptr;
  std::map<int, QMdiSubWindow*> units_;
  std::map<int, GraphicsView*> views_;
  ConsoleWidget* console_ = nullptr;
  MessagesWindow* messages_ = nullptr;
  QMdiSubWindow* messagesWindow_ = nullptr;
  QMenu* windowMenu_ = nullptr;
  QAction* pauseAction_ = nullptr;
  QAction* resumeAction_ = nullptr;
  QString runNote_;
  bool closing_ = false;
};

// Makes the client area of `window`'s scroll-area widget `width` x `height`
// pixels, growing or shrinking the window by the difference.
void SetClientSize(QMdiSubWindow* window, int width, int height);

}  // namespace odefit
