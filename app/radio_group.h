// A captioned group of radio buttons in one row whose selection is an item index; -1 selects
// none.
#pragma once

#include <QButtonGroup>
#include <QGroupBox>
#include <QStringList>

namespace velmora {

class TRadioGroup : public QGroupBox {
  Q_OBJECT

 public:
  TRadioGroup(const QString& caption, const QStringList& items, QWidget* parent = nullptr);

  int ItemIndex() const;
  // Indexes outside the items select none. Does not emit Click.
  void SetItemIndex(int index);
  int Count() const;

 Q_SIGNALS:
  // The operator chose an item.
  void Click(int index);

 private:
  QButtonGroup* buttons_;
};

}  // namespace velmora
