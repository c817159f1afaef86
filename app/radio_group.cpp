#include "app/radio_group.h"

#include <QAbstractButton>
#include <QHBoxLayout>
#include <QRadioButton>

namespace velmora {

TRadioGroup::TRadioGroup(const QString& caption, const QStringList& items, QWidget* parent)
    : QGroupBox(caption, parent), buttons_(new QButtonGroup(this)) {
  auto* row = new QHBoxLayout(this);
  for (int i = 0; i < items.size(); ++i) {
    auto* button = new QRadioButton(items[i], this);
    buttons_->addButton(button, i);
    row->addWidget(button);
  }
  connect(buttons_, &QButtonGroup::idClicked, this, &TRadioGroup::Click);
}

int TRadioGroup::ItemIndex() const {
  return buttons_->checkedId();
}

int TRadioGroup::Count() const {
  return static_cast<int>(buttons_->buttons().size());
}

void TRadioGroup::SetItemIndex(int index) {
  if (index >= 0 && index < Count()) {
    buttons_->button(index)->setChecked(true);
    return;
  }
  // An exclusive group cannot uncheck its last checked button.
  if (QAbstractButton* checked = buttons_->checkedButton()) {
    buttons_->setExclusive(false);
    checked->setChecked(false);
    buttons_->setExclusive(true);
  }
}

}  // namespace velmora
