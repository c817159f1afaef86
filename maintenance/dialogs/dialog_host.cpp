#include "maintenance/dialogs/dialog_host.h"

#include <QBoxLayout>
#include <QEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QScreen>
#include <QWidget>

namespace velmora {

QString ToQString(std::string_view utf8) {
  return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

QString ParamText(const TStringList& params, const char* name) {
  return QString::fromStdString(params.Values(name));
}

namespace {

void MoveToTheMiddle(QWidget* window) {
  QScreen* screen =
      window->screen() != nullptr ? window->screen() : QGuiApplication::primaryScreen();
  if (screen == nullptr) return;
  QRect frame = window->frameGeometry();
  frame.moveCenter(screen->availableGeometry().center());
  window->move(frame.topLeft());
}

// Centres its window again each time it is shown: only then does the window have its frame (title
// bar and borders), which a position taken before leaves out, so the window would sit off centre
// by half the frame.
class CentreWhenShown : public QObject {
 public:
  CentreWhenShown(QWidget* window, TCentring when) : QObject(window), when_(when) {}

  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Show && watched == parent()) {
      MoveToTheMiddle(static_cast<QWidget*>(watched));
      if (when_ == TCentring::kFirstShow) {
        watched->removeEventFilter(this);
        deleteLater();
      }
    }
    return false;
  }

 private:
  TCentring when_;
};

}  // namespace

void CenterOnDesktop(QWidget* window, TCentring when) {
  // Its own size when it has one, else the size its contents ask for.
  if (!window->testAttribute(Qt::WA_Resized)) window->adjustSize();
  MoveToTheMiddle(window);
  window->installEventFilter(new CentreWhenShown(window, when));
}

QLineEdit* AddLabelledEdit(QWidget* parent, QBoxLayout* column, const char* name,
                           const QString& label, const QString& text, QWidget* beside) {
  auto* field = new QLineEdit(text, parent);
  field->setObjectName(QString::fromLatin1(name));
  auto* caption = new QLabel(label, parent);
  caption->setObjectName(QString::fromLatin1(name) + QStringLiteral("Label"));
  caption->setBuddy(field);
  column->addWidget(caption);
  if (beside == nullptr) {
    column->addWidget(field);
  } else {
    auto* row = new QHBoxLayout;
    row->addWidget(field, 1);
    row->addWidget(beside);
    column->addLayout(row);
  }
  return field;
}

void ShowPasswordAsStars(QLineEdit* field) {
  field->setEchoMode(QLineEdit::Password);
  field->setStyleSheet(QStringLiteral("lineedit-password-character: 42"));
}

}  // namespace velmora
