#include "app/desktop/messages_window.h"

#include <QFont>
#include <QScrollBar>
#include <QTextCursor>

namespace odefit {

MessagesWindow::MessagesWindow(QWidget* parent) : QPlainTextEdit(parent) {
  setReadOnly(true);
  setLineWrapMode(QPlainTextEdit::NoWrap);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  QFont font;
  font.setFamilies({QStringLiteral("Courier New"), QStringLiteral("Liberation Mono"), QStringLiteral("Cousine")});
  font.setStyleHint(QFont::TypeWriter);
  font.setFixedPitch(true);
  font.setPixelSize(13);
  setFont(font);
}

void MessagesWindow::AddMessage(const QString& message) {
  QTextCursor end(document());
  end.movePosition(QTextCursor::End);
  end.insertText(message);
  verticalScrollBar()->setValue(verticalScrollBar()->maximum());
}

}  // namespace odefit
