#pragma once
// The "Messages" window: the numerical error messages of the session, in
// their fixed layout, read-only. GUI thread only.

#include <QPlainTextEdit>

namespace odefit {

inline constexpr const char* kMessagesTitle = "Messages";

class MessagesWindow : public QPlainTextEdit {
  Q_OBJECT

 public:
  explicit MessagesWindow(QWidget* parent = nullptr);
  // Appends one whole message as printed (its own line ends included).
  void AddMessage(const QString& message);
};

}  // namespace odefit
