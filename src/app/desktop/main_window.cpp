#include "app/desktop/main_window.h"

#include <QAbstractScrollArea>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QMessageBox>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QScreen>
#include <QStyle>
#include <QTextDocument>
#include <QVBoxLayout>

#include "app/desktop/console_widget.h"
#include "app/desktop/desktop_dialogs.h"
#include "app/desktop/graphics_view.h"
#include "app/desktop/messages_window.h"
#include "app/png_export.h"
#include "graphics/png_file.h"
#include "version.h"

namespace odefit {
namespace {

constexpr const char* kFrameTitle = "odefit";
// The Messages window's client area in cells, and its gap below the input window.
constexpr int kMessagesCols = 80;
constexpr int kMessagesRows = 8;
constexpr int kMessagesGap = 4;

// A child of the frame. The program's windows live until the process ends,
// so the user may not close them; the Messages window may be closed (hidden)
// and comes back with the next message.
class ChildWindow : public QMdiSubWindow {
 public:
  explicit ChildWindow(bool closable) : closable_(closable) {}

  // The title bar's buttons: no close button (it comes with the system
  // menu) where closing is refused.
  Qt::WindowFlags Flags() const {
    Qt::WindowFlags flags = Qt::SubWindow | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowMinMaxButtonsHint;
    if (closable_) flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    return flags;
  }

 protected:
  void closeEvent(QCloseEvent* event) override {
    if (closable_) {
      QMdiSubWindow::closeEvent(event);
    } else {
      event->ignore();
    }
  }

 private:
  bool closable_;
};

QString PlainTextOf(QWidget* widget) {
  if (auto* console = qobject_cast<ConsoleWidget*>(widget)) return console->TranscriptText();
  if (auto* messages = qobject_cast<MessagesWindow*>(widget)) return messages->toPlainText();
  return {};
}

}  // namespace

void SetClientSize(QMdiSubWindow* window, int width, int height) {
  auto* area = qobject_cast<QAbstractScrollArea*>(window->widget());
  if (area == nullptr) return;
  const QSize target(width, height);
  // The frame, caption and scroll bars come from the style; measure rather than predict them.
  for (int attempt = 0; attempt < 4; ++attempt) {
    const QSize now = area->viewport()->size();
    if (now == target) return;
    window->resize(window->size() + (target - now));
  }
}

MainWindow::MainWindow(GraphicsLayer& layer, ConsoleChannel& channel, PauseGate& gate, QWidget* parent)
    : QMainWindow(parent), layer_(layer), channel_(channel), gate_(gate) {
  area_ = new QMdiArea(this);
  area_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  area_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  setCentralWidget(area_);
  dialogs_ = new DialogHost(this);
  BuildMenus();
  UpdateTitle();
}

MainWindow::~MainWindow() = default;

void MainWindow::BuildMenus() {
  QMenu* file = menuBar()->addMenu(tr("&File"));
  QAction* print = file->addAction(tr("&Print..."), this, &MainWindow::PrintCurrent);
  print->setShortcut(QKeySequence::Print);
  QAction* save = file->addAction(tr("&Save..."), this, &MainWindow::SaveCurrent);
  save->setShortcut(QKeySequence::Save);
  file->addSeparator();
  QAction* exit = file->addAction(tr("E&xit"), this, &QWidget::close);
  exit->setShortcut(QKeySequence::Quit);

  QMenu* edit = menuBar()->addMenu(tr("&Edit"));
  QAction* copy = edit->addAction(tr("&Copy"), this, [this] { CopyWindow(CurrentChild()); });
  copy->setShortcut(QKeySequence::Copy);
  QAction* paste = edit->addAction(tr("&Paste"), this, &MainWindow::PasteIntoConsole);
  paste->setShortcuts(QKeySequence::Paste);
  QAction* selectAll = edit->addAction(tr("Select &All"), this, &MainWindow::SelectAll);
  selectAll->setShortcut(QKeySequence::SelectAll);

  QMenu* state = menuBar()->addMenu(tr("&State"));
  pauseAction_ = state->addAction(tr("&Pause"), this, &MainWindow::PauseRun);
  pauseAction_->setShortcuts({QKeySequence(Qt::Key_Pause), QKeySequence(tr("Ctrl+Shift+P"))});
  resumeAction_ = state->addAction(tr("&Resume"), this, &MainWindow::ResumeRun);
  resumeAction_->setShortcut(QKeySequence(tr("Ctrl+Shift+R")));
  UpdateStateActions();

  windowMenu_ = menuBar()->addMenu(tr("&Window"));
  connect(windowMenu_, &QMenu::aboutToShow, this, &MainWindow::UpdateWindowMenu);
  UpdateWindowMenu();

  QMenu* help = menuBar()->addMenu(tr("&Help"));
  help->addAction(tr("&About"), this, &MainWindow::About);
}

void MainWindow::UpdateWindowMenu() {
  windowMenu_->clear();
  windowMenu_->addAction(tr("&Cascade"), area_, &QMdiArea::cascadeSubWindows);
  windowMenu_->addAction(tr("&Tile"), area_, &QMdiArea::tileSubWindows);
  const QList<QMdiSubWindow*> windows = area_->subWindowList(QMdiArea::CreationOrder);
  if (!windows.isEmpty()) windowMenu_->addSeparator();
  int number = 0;
  for (QMdiSubWindow* window : windows) {
    ++number;
    QAction* action = windowMenu_->addAction(QStringLiteral("&%1 %2").arg(number).arg(window->windowTitle()));
    action->setCheckable(true);
    action->setChecked(window == CurrentChild());
    connect(action, &QAction::triggered, this, [this, window] {
      window->show();
      area_->setActiveSubWindow(window);
    });
  }
}

void MainWindow::UpdateStateActions() {
  const bool paused = gate_.Paused();
  pauseAction_->setEnabled(!paused);
  resumeAction_->setEnabled(paused);
}

void MainWindow::UpdateTitle() {
  QString title = QString::fromLatin1(kFrameTitle);
  if (gate_.Paused()) title += tr(" - paused");
  if (!runNote_.isEmpty()) title += QStringLiteral(" - ") + runNote_;
  setWindowTitle(title);
}

void MainWindow::SetRunNote(const QString& note) {
  runNote_ = note;
  UpdateTitle();
}

void MainWindow::ShowAsPlaced() {
  // Without a window manager a maximise request does nothing, so the frame
  // first takes the screen's available area itself.
  if (QScreen* screen = QGuiApplication::primaryScreen()) setGeometry(screen->availableGeometry());
  const std::optional<WindowPlacement> placement = layer_.FramePlacement();
  if (!placement) {
    show();
  } else {
    PlaceUnit(FrameWindowUnit, *placement);
  }
}

QMdiSubWindow* MainWindow::SubWindow(int unit) const {
  const auto it = units_.find(unit);
  return it == units_.end() ? nullptr : it->second;
}

GraphicsView* MainWindow::View(int unit) const {
  const auto it = views_.find(unit);
  return it == views_.end() ? nullptr : it->second;
}

QMdiSubWindow* MainWindow::CurrentChild() const { return area_->currentSubWindow(); }

QMdiSubWindow* MainWindow::AddChild(QWidget* widget, const QString& title, bool closable) {
  // A new window shows without taking the focus: the dialogue decides that
  // (FocusUnit, and the input window whenever it is used).
  QMdiSubWindow* current = area_->currentSubWindow();
  auto* window = new ChildWindow(closable);
  window->setWidget(widget);
  window->setWindowTitle(title);
  area_->addSubWindow(window);
  window->setWindowFlags(window->Flags());  // after adding: the area puts back a system menu
  window->show();
  if (current != nullptr) area_->setActiveSubWindow(current);
  return window;
}

void MainWindow::OpenUnit(int unit, WindowKind kind, const QString& title) {
  if (units_.count(unit) != 0) return;
  if (kind == WindowKind::Console) {
    console_ = new ConsoleWidget(channel_);
    units_[unit] = AddChild(console_, title, false);
    UpdateConsoleAppearance();
    emit ConsoleOpened(console_);
    ConsoleNews();
  } else {
    auto* view = new GraphicsView(layer_, unit);
    views_[unit] = view;
    units_[unit] = AddChild(view, title, false);
  }
}

void MainWindow::PlaceUnit(int unit, const WindowPlacement& placement) {
  const auto kind = static_cast<PlacementKind>(placement.kind);
  QWidget* window = unit == FrameWindowUnit ? static_cast<QWidget*>(this) : SubWindow(unit);
  if (window == nullptr) return;
  switch (kind) {
    case PlacementKind::Minimise: window->showMinimized(); return;
    case PlacementKind::Maximise: window->showMaximized(); return;
    case PlacementKind::Restore: window->showNormal(); return;
    case PlacementKind::SetPositionAndSize: break;
    default: return;
  }
  const ClientArea client = PlacementClientArea(placement);
  if (window->isMinimized() || window->isMaximized() || !window->isVisible()) window->showNormal();
  if (unit == FrameWindowUnit) {
    move(client.x, client.y);
    resize(client.width, client.height);
    return;
  }
  auto* child = static_cast<QMdiSubWindow*>(window);
  child->move(client.x, client.y);
  SetClientSize(child, client.width, client.height);
}

void MainWindow::FocusUnit(int unit, std::uint64_t activity) {
  QMdiSubWindow* window = SubWindow(unit);
  if (window == nullptr) return;
  if (!window->isVisible()) window->show();
  window->raise();
  if (unit != ConsoleWindow && channel_.Activity() != activity) return;
  area_->setActiveSubWindow(window);
  window->widget()->setFocus(Qt::OtherFocusReason);
}

void MainWindow::SurfaceChanged(int unit) {
  if (GraphicsView* view = View(unit)) view->ScheduleRefresh();
}

void MainWindow::RefreshAll() {
  for (const auto& [unit, view] : views_) view->Refresh();
}

void MainWindow::UpdateConsoleAppearance() {
  if (console_ == nullptr) return;
  const std::optional<WindowState> state = layer_.State(ConsoleWindow);
  if (state) console_->SetAppearance(state->backgroundColour, state->textColour, state->cursorShown);
}

void MainWindow::ConsoleNews() {
  // Before the input window exists its news wait in the channel; OpenUnit takes them.
  if (console_ == nullptr || closing_) return;
  if (console_->TakeNews()) ActivateConsole();
}

void MainWindow::ActivateConsole() {
  QMdiSubWindow* window = SubWindow(ConsoleWindow);
  if (window == nullptr) return;
  if (area_->currentSubWindow() != window) area_->setActiveSubWindow(window);
  if (!console_->hasFocus()) console_->setFocus(Qt::OtherFocusReason);
}

void MainWindow::AddMessage(const QString& message) {
  if (messagesWindow_ == nullptr) {
    messages_ = new MessagesWindow;
    messagesWindow_ = AddChild(messages_, QString::fromLatin1(kMessagesTitle), true);
    QMdiSubWindow* console = SubWindow(ConsoleWindow);
    const int top = console != nullptr ? console->geometry().bottom() + 1 + kMessagesGap : 0;
    messagesWindow_->move(0, top);
    SetClientSize(messagesWindow_, kMessagesCols * kCellWidth, kMessagesRows * kCellHeight);
  } else if (!messagesWindow_->isVisible()) {
    messagesWindow_->show();
  }
  messages_->AddMessage(message);
}

void MainWindow::ShowStop(const QString& title, const QString& message, bool numerical) {
  // A dialog of its own rather than a QMessageBox, which rewraps long lines:
  // the numerical messages are laid out for a fixed-pitch font, line by line.
  auto* box = new QDialog(this);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setWindowTitle(title);
  auto* icon = new QLabel(box);
  const QStyle::StandardPixmap kind = numerical ? QStyle::SP_MessageBoxCritical : QStyle::SP_MessageBoxWarning;
  const int iconSize = style()->pixelMetric(QStyle::PM_MessageBoxIconSize);
  icon->setPixmap(style()->standardIcon(kind).pixmap(iconSize, iconSize));
  icon->setAlignment(Qt::AlignTop);
  auto* text = new QLabel(message, box);
  text->setObjectName(QStringLiteral("message"));
  text->setTextFormat(Qt::PlainText);
  text->setWordWrap(false);
  text->setTextInteractionFlags(Qt::TextSelectableByMouse);
  if (numerical) text->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, box);
  connect(buttons, &QDialogButtonBox::accepted, box, &QDialog::accept);
  auto* row = new QHBoxLayout;
  row->addWidget(icon);
  row->addWidget(text, 1);
  auto* layout = new QVBoxLayout(box);
  layout->addLayout(row);
  layout->addWidget(buttons);
  box->open();
}

bool MainWindow::SaveWindow(QMdiSubWindow* window, const QString& path, QString* error) {
  if (window == nullptr) {
    if (error) *error = tr("no window is active");
    return false;
  }
  if (auto* view = qobject_cast<GraphicsView*>(window->widget())) {
    const std::optional<DrawingSurface> surface = layer_.CopySurface(view->Unit());
    if (!surface) return false;
    std::string reason;
    if (WritePng(QFile::encodeName(path).toStdString(), *surface, PngColourType::Indexed, &reason)) return true;
    if (error) *error = QString::fromStdString(reason);
    return false;
  }
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
    if (error) *error = file.errorString();
    return false;
  }
  QString text = PlainTextOf(window->widget());
  if (!text.endsWith(QLatin1Char('\n'))) text += QLatin1Char('\n');
  const QByteArray bytes = text.toUtf8();
  if (file.write(bytes) != bytes.size()) {
    if (error) *error = file.errorString();
    return false;
  }
  return true;
}

void MainWindow::SaveCurrent() {
  QMdiSubWindow* window = CurrentChild();
  if (window == nullptr) return;
  const bool picture = qobject_cast<GraphicsView*>(window->widget()) != nullptr;
  QString name = QStringLiteral("input-window.txt");
  if (auto* view = qobject_cast<GraphicsView*>(window->widget())) {
    name = QString::fromLatin1(PictureFileName(view->Unit()).data(),
                               static_cast<qsizetype>(PictureFileName(view->Unit()).size()));
  } else if (window == messagesWindow_) {
    name = QStringLiteral("messages.txt");
  }
  const QString path = QFileDialog::getSaveFileName(
      this, tr("Save %1").arg(window->windowTitle()), name,
      picture ? tr("PNG images (*.png)") : tr("Text files (*.txt);;All files (*)"));
  if (path.isEmpty()) return;
  QString error;
  if (!SaveWindow(window, path, &error)) {
    QMessageBox::warning(this, tr("Save"), tr("Cannot write %1:\n%2").arg(path, error));
  }
}

void MainWindow::PrintWindow(QMdiSubWindow* window, QPrinter& printer) {
  if (window == nullptr) return;
  if (auto* view = qobject_cast<GraphicsView*>(window->widget())) {
    view->Refresh();
    const QImage& image = view->Image();
    QPainter painter(&printer);
    const QRect page = painter.viewport();
    QSize size = image.size();
    size.scale(page.size(), Qt::KeepAspectRatio);
    painter.setViewport(page.x(), page.y(), size.width(), size.height());
    painter.setWindow(image.rect());
    painter.drawImage(0, 0, image);
    return;
  }
  QTextDocument document;
  document.setDefaultFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  document.setPlainText(PlainTextOf(window->widget()));
  document.print(&printer);
}

void MainWindow::PrintCurrent() {
  QMdiSubWindow* window = CurrentChild();
  if (window == nullptr) return;
  QPrinter printer;
  QPrintDialog dialog(&printer, this);
  dialog.setWindowTitle(tr("Print %1").arg(window->windowTitle()));
  if (dialog.exec() == QDialog::Accepted) PrintWindow(window, printer);
}

void MainWindow::CopyWindow(QMdiSubWindow* window) {
  if (window == nullptr) return;
  if (auto* view = qobject_cast<GraphicsView*>(window->widget())) {
    view->Refresh();
    QApplication::clipboard()->setImage(view->Image().convertToFormat(QImage::Format_RGB32));
  } else if (auto* console = qobject_cast<ConsoleWidget*>(window->widget())) {
    const QString text = console->SelectedText();
    if (!text.isEmpty()) QApplication::clipboard()->setText(text);
  } else if (auto* messages = qobject_cast<MessagesWindow*>(window->widget())) {
    messages->copy();
  }
}

void MainWindow::PasteIntoConsole() {
  if (console_ == nullptr) return;
  ActivateConsole();
  console_->Paste();
}

void MainWindow::SelectAll() {
  QMdiSubWindow* window = CurrentChild();
  if (window == nullptr) return;
  if (auto* console = qobject_cast<ConsoleWidget*>(window->widget())) console->SelectAll();
  if (auto* messages = qobject_cast<MessagesWindow*>(window->widget())) messages->selectAll();
}

void MainWindow::PauseRun() {
  gate_.Pause();
  // Take every window's changes now: the next primitive drawn then reports a
  // change, and the dialogue thread waits right there.
  RefreshAll();
  UpdateStateActions();
  UpdateTitle();
}

void MainWindow::ResumeRun() {
  gate_.Resume();
  UpdateStateActions();
  UpdateTitle();
}

void MainWindow::About() {
  QMessageBox::about(this, tr("About odefit"),
                     tr("odefit %1\n\nBuilds a global model of a dynamical system (a system of ordinary "
                        "differential equations) from one observed time series, and tests how long it "
                        "predicts well.")
                         .arg(QStringLiteral(ODEFIT_VERSION)));
}

void MainWindow::closeEvent(QCloseEvent* event) {
  closing_ = true;
  dialogs_->Close();
  emit FrameClosed();
  event->accept();
}

}  // namespace odefit
