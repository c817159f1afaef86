#include "maintenance/dialogs/dialog_host.h"

#include <QBoxLayout>
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

void CenterOnDesktop(QWidget* window) {
  // Its own size when it has one, else the size its contents ask for.
  if (!window->testAttribute(Qt::WA_Resized)) window->adjustSize();
  QScreen* screen =
      window->screen() != nullptr ? window->screen() : QGuiApplication::primaryScreen();
  if (screen == nullptr) return;
  QRect frame = window->frameGeometry();
  frame.moveCenter(screen->availableGeometry().center());
  window->move(frame.topLeft());
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
