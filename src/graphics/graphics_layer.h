#pragma once
// The graphics layer: the windows named by unit number, their colours,
// fonts, current positions and indexed drawing surfaces, and the drawing
// operations the plots are made of. It is core code and knows no toolkit;
// front ends watch it through GraphicsObserver and read the surfaces.
//
// Threads and locks. One thread (the dialogue's) calls every operation of the
// layer. Front ends may read a window from any other thread through State,
// VisitSurface, CopySurface, TakeChanges and ChangeCount. Each window has its
// own mutex: every drawing operation changes the surface only while holding
// it, from its first pixel to its last, so a reader that holds it never sees
// half of a primitive. The table of windows has a mutex of its own, always
// taken before a window's, never while a window's is held. Observers are
// called on the drawing thread with no lock held, so they may read the
// window they are told about.

#include <climits>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "graphics/drawing_surface.h"
#include "graphics/fonts.h"

namespace odefit {

// The windows by unit number.
inline constexpr int ConsoleWindow = 10;
inline constexpr int DifferentiationWindow = 11;
inline constexpr int EfficiencyWindow = 12;
// The frame window's designator, which no unit number can take.
inline constexpr int FrameWindowUnit = INT_MIN;

inline constexpr std::string_view kConsoleTitle = "Input Window";
inline constexpr std::string_view kDifferentiationTitle = "Differentiation";
inline constexpr std::string_view kEfficiencyTitle = "Model efficiency";

enum class PlacementKind : std::int16_t { Minimise = 1, Maximise = 2, Restore = 3, SetPositionAndSize = 4 };

// Where a window goes. For kind 4 (SetPositionAndSize) the other fields count
// character cells of the frame's client area; other kinds ignore them.
struct WindowPlacement {
  std::int16_t kind = 4;
  std::int16_t col = 0;
  std::int16_t row = 0;
  std::int16_t rows = 0;
  std::int16_t cols = 0;
  friend bool operator==(const WindowPlacement&, const WindowPlacement&) = default;
};

inline constexpr WindowPlacement kConsolePlacement{4, 0, 0, 31, 47};
inline constexpr WindowPlacement kGraphicsPlacement{4, 50, 0, 31, 47};

// A client area in pixels of the frame's client area.
struct ClientArea {
  int x = 0, y = 0, width = 0, height = 0;
  friend bool operator==(const ClientArea&, const ClientArea&) = default;
};

// Returns the client area a kind-4 placement gives: (col, row) cells from the
// frame's corner, cols x rows cells large, a cell being 8 x 16 pixels.
ClientArea PlacementClientArea(const WindowPlacement& placement);

struct PixelPoint {
  int x = 0, y = 0;
  friend bool operator==(const PixelPoint&, const PixelPoint&) = default;
};

enum class WindowKind { Console, Graphics };

// What a front end needs to show a window (a copy, taken under its lock).
struct WindowState {
  int unit = 0;
  WindowKind kind = WindowKind::Graphics;
  std::string title;
  std::optional<WindowPlacement> placement;
  int backgroundColour = 15;
  int drawColour = 0;         // graphics windows
  int textColour = 0;         // console: 0..31
  bool cursorShown = false;   // console
};

// A front end's view of the layer. Every call comes on the drawing thread
// with no lock held; the default does nothing.
class GraphicsObserver {
 public:
  virtual ~GraphicsObserver() = default;
  // A unit was opened for the first time.
  virtual void WindowOpened(int /*unit*/, WindowKind /*kind*/, std::string_view /*title*/) {}
  // A window (or the frame, unit FrameWindowUnit) received a placement.
  virtual void WindowPlaced(int /*unit*/, const WindowPlacement& /*placement*/) {}
  // A window was raised and given the keyboard focus.
  virtual void WindowFocused(int /*unit*/) {}
  // A window was cleared to its background colour (for the console: its text wiped).
  virtual void WindowCleared(int /*unit*/) {}
  // The console's background, text colour or cursor changed.
  virtual void ConsoleAppearanceChanged(int /*unit*/) {}
  // The surface changed for the first time since the last TakeChanges(unit).
  virtual void SurfaceChanged(int /*unit*/) {}
  // A text was drawn with its top-left corner at (x, y).
  virtual void TextDrawn(int /*unit*/, int /*x*/, int /*y*/, std::string_view /*text*/) {}
  // The program finished a whole drawing of the window.
  virtual void DrawingComplete(int /*unit*/) {}
};

class GraphicsLayer {
 public:
  // Graphics windows get surfaces of width x height pixels (at least 800 x 600).
  explicit GraphicsLayer(int surfaceWidth = 800, int surfaceHeight = 600);
  ~GraphicsLayer();
  GraphicsLayer(const GraphicsLayer&) = delete;
  GraphicsLayer& operator=(const GraphicsLayer&) = delete;

  // Registers an observer (not owned); call before drawing starts.
  void AddObserver(GraphicsObserver* observer);
  void RemoveObserver(GraphicsObserver* observer);

  // ---- Window operations; all on the drawing thread. Failures only show in
  // the results, which the program never needs to look at.

  // Opens `unit` as a graphics window titled `title`, white, drawing in black.
  // Reopening keeps the unit's one window. False when the unit is a console.
  bool OpenGraphicsWindow(int unit, std::string_view title);
  // Opens `unit` as the text console and makes it the current window.
  bool OpenConsoleWindow(int unit, std::string_view title);
  // Applies a placement to an open unit, or to the frame (remembered for the
  // frame until it exists). False for a unit that is not open.
  bool SetWindowPlacement(int unit, const WindowPlacement& placement);
  // Makes `unit` the current window without raising it.
  bool SetActiveWindow(int unit);
  // Makes `unit` the current window, raised and with the keyboard focus.
  bool FocusWindow(int unit);
  // Sets the current window's background colour (clamped to 0..15); returns the previous one.
  int SetBackgroundColour(int index);
  // Fills the current window's surface with its background colour.
  void ClearWindow();
  // Sets the drawing colour (clamped to 0..15); returns the previous one.
  int SetDrawColour(int index);
  // Sets the console's text colour (clamped to 0..31); returns the previous one.
  int SetConsoleTextColour(int index);
  // Shows or hides the console's cursor; returns the previous state.
  bool ShowConsoleCursor(bool on);
  // Builds the font list (the first time only) and gives the current window
  // its default font; returns the number of fonts.
  int InitFonts();
  // Chooses the current window's font by an option string; returns the font's
  // 1-based number, or -1 (the font stays) when the string is invalid,
  // nothing matches or InitFonts has not run.
  int SelectFont(std::string_view options);
  // Sets the current position; returns the previous one.
  PixelPoint MoveTo(int x, int y);
  // Draws a one-pixel line from the current position to (x, y), both ends
  // included, and moves there. Coordinates are 16-bit: values beyond
  // -32768..32767 are clamped.
  void LineTo(int x, int y);
  // Draws the outline of the rectangle with corners (x1, y1), (x2, y2) in any order.
  void DrawRectangleOutline(int x1, int y1, int x2, int y2);
  // Draws `text` with its top-left corner at the current position, on a
  // transparent background, and advances the current x by its width (trailing
  // blanks included); returns that width.
  int DrawText(std::string_view text);
  // Sets one pixel to the drawing colour; returns its previous colour, or -1
  // off the surface. Constant cost: it marks the change, never repaints.
  int SetPixel(int x, int y);
  // Tells the observers that `unit` holds a whole drawing now.
  void DrawingComplete(int unit);

  // ---- Drawing-thread queries.
  int CurrentWindow() const;
  int FocusedWindow() const { return focused_; }
  PixelPoint CurrentPosition() const;
  int DrawColour() const;
  // Returns the width `text` would advance in the current window's font.
  int TextWidth(std::string_view text) const;
  // The current window's font (the null font when there is none).
  const Font& CurrentFont() const;

  // ---- Front-end queries, from any thread.
  std::optional<WindowState> State(int unit) const;
  std::optional<WindowPlacement> FramePlacement() const;
  // Calls `visit` with the unit's surface while holding its lock; false when
  // the unit is no open graphics window.
  bool VisitSurface(int unit, const std::function<void(const DrawingSurface&)>& visit) const;
  // Copies the unit's surface; nullopt when it is no open graphics window.
  std::optional<DrawingSurface> CopySurface(int unit) const;
  // Returns the pixels changed since the last call, and forgets them.
  PixelRect TakeChanges(int unit);
  // Returns how many drawing operations have changed the unit's surface.
  std::uint64_t ChangeCount(int unit) const;

 private:
  struct Window;
  Window* Find(int unit) const;
  Window* Open(int unit, WindowKind kind, std::string_view title, bool& created);
  // Records a change of `window` by a primitive under its lock; true when the
  // surface was clean before, so SurfaceChanged is due.
  static bool MarkChanged(Window& window, const PixelRect& rect);
  template <typename Call>
  void Notify(Call call) const;

  const int surfaceWidth_;
  const int surfaceHeight_;
  FontCatalogue fonts_;
  mutable std::mutex windowsLock_;                 // guards windows_ and framePlacement_
  std::map<int, std::unique_ptr<Window>> windows_; // never erased while the layer lives
  std::optional<WindowPlacement> framePlacement_;
  Window* current_ = nullptr;                      // drawing thread only
  int focused_ = 0;                                // drawing thread only
  std::vector<GraphicsObserver*> observers_;
  Font nullFont_;
};

// Opens or reuses `unit`, places it beside the console, makes it current and
// raised, clears it to white, draws in black and selects the plot font.
void PrepareGraphicsWindow(GraphicsLayer& layer, int unit, std::string_view title);

// Opens or keeps the console (unit 10, "Input Window") at the frame's
// top-left corner, clears it to white, writes in black and shows the cursor.
void PrepareConsoleWindow(GraphicsLayer& layer);

// The start-up hook: the frame window opens maximised. Always true.
bool InitialSettings(GraphicsLayer& layer);

}  // namespace odefit
