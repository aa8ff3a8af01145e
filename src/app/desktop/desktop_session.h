#pragma once
// One run of the program in the desktop: the graphics layer, the input
// window's channel, the frame, and the dialogue on its own thread.
//
// Threads. The thread that creates the session (the GUI thread) runs the
// event loop: it owns every widget, repaints the windows from the layer's
// surfaces and serves the menus. Start begins the dialogue thread, which
// runs RunMainDialogue and does all reading, computing and drawing. The
// dialogue thread reaches the GUI only through queued calls (LayerBridge,
// the channel's notices, the error messages, the end of the run) and waits
// only in three places: for a typed line (ConsoleChannel), for the answer of
// a dialog (DesktopFileDialogs), and in the pause gate. Closing the frame
// releases all three, so the dialogue thread always ends. The GUI thread
// never waits for the dialogue thread, except when the session ends, and
// then it keeps serving queued calls while it waits.

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "app/desktop/console_channel.h"
#include "app/desktop/desktop_dialogs.h"
#include "app/desktop/layer_bridge.h"
#include "app/desktop/main_window.h"
#include "app/desktop/message_stream.h"
#include "app/desktop/pause_gate.h"
#include "odefit/cancellation.h"
#include "dialogue/report_file.h"
#include "graphics/graphics_layer.h"
#include "numerics/error_stack.h"

namespace odefit {

class DesktopSession {
 public:
  enum class Outcome {
    Running,     // the dialogue has not ended
    Finished,    // n to the last question
    Terminated,  // Yes in the File Open Error box
    Stopped,     // a numerical error stopped the run
    Failed,      // a file could not be read or the report written
    InputEnded,  // the frame was closed while the dialogue ran
  };

  // Calls the start-up hook and creates the frame (not shown yet). Needs a QApplication.
  DesktopSession();
  // Closes the input and waits for the dialogue thread.
  ~DesktopSession();
  DesktopSession(const DesktopSession&) = delete;
  DesktopSession& operator=(const DesktopSession&) = delete;

  // Shows the frame and starts the dialogue thread.
  void Start();
  // Ends the input, answers every open question and releases the pause, so
  // the dialogue thread ends soon. Called when the frame is closed.
  void Close();
  // Serves the GUI's events until the dialogue thread has ended or `timeout`
  // has passed; true when it has ended.
  bool WaitForDialogue(std::chrono::milliseconds timeout);

  bool DialogueDone() const { return done_.load(); }
  Outcome Result() const { return outcome_.load(); }
  // 0 normal end, 1 the input ended (frame closed), 3 a numerical error
  // stopped the run, 4 a file error, 5 anything else.
  int ExitStatus() const { return status_.load(); }

  // Called on the GUI thread after the end of the dialogue has been shown.
  void SetEndHook(std::function<void(Outcome)> hook) { endHook_ = std::move(hook); }

  MainWindow& Window() { return *window_; }
  GraphicsLayer& Layer() { return layer_; }
  ConsoleChannel& Channel() { return channel_; }
  PauseGate& Gate() { return gate_; }

 private:
  void RunDialogue();
  void ShowEnd();

  PauseGate gate_;
  ConsoleChannel channel_{gate_};
  GraphicsLayer layer_;
  ReportFile report_;
  std::unique_ptr<MainWindow> window_;
  std::unique_ptr<MessageStream> messages_;
  ErrorReporter errors_{nullptr};  // writes to messages_; bound on the dialogue thread
  std::unique_ptr<LayerBridge> bridge_;
  std::unique_ptr<DesktopFileDialogs> fileDialogs_;
  std::function<void(Outcome)> endHook_;
  std::thread thread_;
  std::atomic<bool> done_{false};
  std::atomic<Outcome> outcome_{Outcome::Running};
  std::atomic<int> status_{0};
  std::string endMessage_;  // written by the dialogue thread before done_, read after
  bool closed_ = false;     // GUI thread
  CancellationToken cancel_;  // cancelled when the frame closes; polled by the dialogue's computations
};

// Returns whether a display can show the desktop: DISPLAY or WAYLAND_DISPLAY
// is set and the window system's platform opens (tried in a child process,
// since a platform that fails to open ends the process that tries).
bool DesktopAvailable();

// Runs the whole program in the desktop; returns the process exit status.
// Two environment variables serve scripted runs (the screenshot test):
// ODEFIT_DESKTOP_ANSWERS names a file whose first line answers the first
// file-open dialog and whose other lines are typed ahead into the input
// window; ODEFIT_DESKTOP_SCREENSHOT names a PNG file that receives a picture
// of the screen when the dialogue has ended, after which the frame closes.
int RunDesktop(int& argc, char** argv);

}  // namespace odefit
